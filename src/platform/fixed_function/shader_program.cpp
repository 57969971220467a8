#include "platform/fixed_function/shader_program.h"

namespace Spectrafox {

namespace {

constexpr const char* kFragmentPrecision = R"(
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif
)";

std::string infoLog(GLuint object, bool is_program)
{
    GLint length = 0;
    if (is_program)
        glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    else
        glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> text(static_cast<size_t>(length > 0 ? length : 1), '\0');
    if (is_program)
        glGetProgramInfoLog(object, static_cast<GLsizei>(text.size()), nullptr, text.data());
    else
        glGetShaderInfoLog(object, static_cast<GLsizei>(text.size()), nullptr, text.data());
    return text.data();
}

// An #extension line goes before the precision statement: ES compilers
// refuse it after other statements.
GLuint compile(GLenum kind, const char* source, std::string* error, const char* extension)
{
    const GLuint shader = glCreateShader(kind);
    const char* sources[3] = {extension, kFragmentPrecision, source};
    if (kind == GL_FRAGMENT_SHADER)
        glShaderSource(shader, 3, sources, nullptr);
    else
        glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled == GL_TRUE)
        return shader;
    *error = std::string(kind == GL_VERTEX_SHADER ? "vertex" : "fragment") +
             " shader does not compile: " + infoLog(shader, false);
    glDeleteShader(shader);
    return 0;
}

} // namespace

GLuint buildShaderProgram(const char* vertex_source, const char* fragment_source, const AttributeBindings& attributes,
                          std::string* error, const char* fragment_extension)
{
    const GLuint vertex = compile(GL_VERTEX_SHADER, vertex_source, error, "");
    const GLuint fragment = vertex ? compile(GL_FRAGMENT_SHADER, fragment_source, error, fragment_extension) : 0;
    if (!fragment) {
        glDeleteShader(vertex);
        return 0;
    }
    const GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    for (const auto& [location, name] : attributes)
        glBindAttribLocation(program, location, name);
    glLinkProgram(program);
    // The program keeps what it needs; the shaders go with it.
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint status = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    if (status == GL_TRUE)
        return program;
    *error = "shader program does not link: " + infoLog(program, true);
    glDeleteProgram(program);
    return 0;
}

} // namespace Spectrafox
