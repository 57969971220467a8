#include "platform/fixed_function/fixed_function_pipeline.h"

#include "platform/fixed_function/gl_fixed_function.h"

#include <vector>

namespace Spectrafox {

namespace {

// Vertex colours are clamped, as fixed-function colours are, before they
// are interpolated.
constexpr const char* kVertexShader = R"(
attribute vec4 a_position;
attribute vec4 a_color;
attribute vec2 a_texcoord;
uniform mat4 u_mvp;
varying vec4 v_color;
varying vec2 v_texcoord;
void main()
{
    gl_Position = u_mvp * a_position;
    v_color = clamp(a_color, 0.0, 1.0);
    v_texcoord = a_texcoord;
}
)";

// The default texture environment, modulate: texel times colour.
constexpr const char* kFragmentShader = R"(
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif
uniform sampler2D u_texture;
uniform float u_texturing;
varying vec4 v_color;
varying vec2 v_texcoord;
void main()
{
    gl_FragColor = v_color * mix(vec4(1.0), texture2D(u_texture, v_texcoord), u_texturing);
}
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

GLuint compile(GLenum kind, const char* source, std::string* error)
{
    const GLuint shader = glCreateShader(kind);
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

FixedFunctionPipeline& FixedFunctionPipeline::instance()
{
    static FixedFunctionPipeline pipeline;
    return pipeline;
}

bool FixedFunctionPipeline::attachToCurrentContext(std::string* error)
{
    projection.reset();
    modelview.reset();
    current = &modelview;
    texturing = false;
    matrices_changed = true;
    mvp_uploaded = false;
    uploaded_texturing = -1;
    program = 0;
    program_failed = false;
    source = DrawSource();
    batch.clear(); // drawn for a context that is gone, if any
    bound_texture = 0;
    draw_calls = 0;
    // The current colour of a fresh fixed-function context.
    setCurrentColor(1.0f, 1.0f, 1.0f, 1.0f);
    program_failed = !buildProgram(error);
    return !program_failed;
}

void FixedFunctionPipeline::detachFromCurrentContext()
{
    flush();
    if (program != 0)
        glDeleteProgram(program);
    program = 0;
    program_failed = false;
}

bool FixedFunctionPipeline::buildProgram(std::string* error)
{
    const GLuint vertex = compile(GL_VERTEX_SHADER, kVertexShader, error);
    const GLuint fragment = vertex ? compile(GL_FRAGMENT_SHADER, kFragmentShader, error) : 0;
    if (!fragment) {
        glDeleteShader(vertex);
        return false;
    }
    const GLuint linked = glCreateProgram();
    glAttachShader(linked, vertex);
    glAttachShader(linked, fragment);
    glBindAttribLocation(linked, kPositionAttribute, "a_position");
    glBindAttribLocation(linked, kColorAttribute, "a_color");
    glBindAttribLocation(linked, kTexCoordAttribute, "a_texcoord");
    glLinkProgram(linked);
    // The program keeps what it needs; the shaders go with it.
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint status = GL_FALSE;
    glGetProgramiv(linked, GL_LINK_STATUS, &status);
    if (status != GL_TRUE) {
        *error = "shader program does not link: " + infoLog(linked, true);
        glDeleteProgram(linked);
        return false;
    }
    program = linked;
    mvp_location = glGetUniformLocation(program, "u_mvp");
    texturing_location = glGetUniformLocation(program, "u_texturing");
    glUseProgram(program);
    glUniform1i(glGetUniformLocation(program, "u_texture"), 0);
    mvp_uploaded = false;
    uploaded_texturing = -1;
    return true;
}

void FixedFunctionPipeline::selectMatrixMode(GLenum mode)
{
    if (mode == GL_PROJECTION)
        current = &projection;
    else if (mode == GL_MODELVIEW)
        current = &modelview;
}

MatrixStack& FixedFunctionPipeline::changeCurrentMatrix()
{
    matrices_changed = true;
    return *current;
}

void FixedFunctionPipeline::setTexturing(bool on)
{
    if (on != texturing)
        flush();
    texturing = on;
}

ClientArray* FixedFunctionPipeline::clientArray(GLenum array)
{
    switch (array) {
    case GL_VERTEX_ARRAY: return &source.position;
    case GL_COLOR_ARRAY: return &source.color;
    case GL_TEXTURE_COORD_ARRAY: return &source.texcoord;
    default: return nullptr;
    }
}

// Batched draws have read their arrays already, so these change nothing
// that is waiting to be drawn. ES 2.0 gets them at once for the draws
// that are not batched.
void FixedFunctionPipeline::setClientArrayEnabled(GLenum array, bool on)
{
    if (ClientArray* client = clientArray(array)) {
        client->enabled = on;
        passOn(array, *client);
    }
}

void FixedFunctionPipeline::setClientArrayPointer(GLenum array, GLint size, GLenum type,
                                                  GLsizei stride, const void* pointer)
{
    if (ClientArray* client = clientArray(array)) {
        *client = {client->enabled, size, type, stride, pointer};
        passOn(array, *client);
    }
}

void FixedFunctionPipeline::passOn(GLenum array, const ClientArray& client)
{
    const GLuint attribute = attributeOf(array);
    // Byte colours mean 0..255, as in ES 1.1.
    const GLboolean normalized = client.type == GL_UNSIGNED_BYTE ? GL_TRUE : GL_FALSE;
    glVertexAttribPointer(attribute, client.size, client.type, normalized, client.stride,
                          client.pointer);
    if (client.enabled)
        glEnableVertexAttribArray(attribute);
    else
        glDisableVertexAttribArray(attribute);
}

GLuint FixedFunctionPipeline::attributeOf(GLenum array)
{
    switch (array) {
    case GL_COLOR_ARRAY: return kColorAttribute;
    case GL_TEXTURE_COORD_ARRAY: return kTexCoordAttribute;
    default: return kPositionAttribute;
    }
}

void FixedFunctionPipeline::setCurrentColor(GLfloat red, GLfloat green, GLfloat blue,
                                            GLfloat alpha)
{
    const float rgba[4] = {red, green, blue, alpha};
    for (int k = 0; k < 4; ++k)
        source.current_color[k] = rgba[k];
    glVertexAttrib4f(kColorAttribute, red, green, blue, alpha);
}

void FixedFunctionPipeline::bindTexture(GLenum target, GLuint name)
{
    if (target == GL_TEXTURE_2D) {
        if (name != bound_texture)
            flush();
        bound_texture = name;
    }
    ::glBindTexture(target, name);
}

void FixedFunctionPipeline::setBatching(bool on)
{
    flush();
    batching = on;
}

void FixedFunctionPipeline::draw(GLenum mode, GLint first, GLsizei count)
{
    if (batching && DrawBatch::accepts(mode, count, source, texturing)) {
        if (!batch.fits(count))
            flush();
        batch.addStrip(source, first, count, modelViewProjection(), texturing);
        return;
    }
    flush();
    if (prepareDraw(false)) {
        ::glDrawArrays(mode, first, count);
        ++draw_calls;
    }
}

void FixedFunctionPipeline::flush()
{
    if (batch.empty())
        return;
    if (!prepareDraw(true)) {
        batch.clear();
        return;
    }
    batch.draw(kPositionAttribute, kColorAttribute, kTexCoordAttribute);
    ++draw_calls;
    restoreClientArrays();
}

void FixedFunctionPipeline::restoreClientArrays()
{
    passOn(GL_VERTEX_ARRAY, source.position);
    passOn(GL_COLOR_ARRAY, source.color);
    passOn(GL_TEXTURE_COORD_ARRAY, source.texcoord);
    const float* c = source.current_color;
    glVertexAttrib4f(kColorAttribute, c[0], c[1], c[2], c[3]);
}

const MatrixStack::Matrix& FixedFunctionPipeline::modelViewProjection()
{
    if (matrices_changed) {
        mvp = MatrixStack::product(projection.top(), modelview.top());
        matrices_changed = false;
        mvp_uploaded = false;
    }
    return mvp;
}

bool FixedFunctionPipeline::prepareDraw(bool clip_space)
{
    // A context that nobody attached builds its program on the first draw.
    if (program == 0) {
        std::string ignored;
        if (program_failed || !buildProgram(&ignored)) {
            program_failed = true;
            return false;
        }
    }
    uploadUniforms(clip_space);
    return true;
}

// A batch carries clip-space positions and is drawn with the identity.
void FixedFunctionPipeline::uploadUniforms(bool clip_space)
{
    if (clip_space) {
        glUniformMatrix4fv(mvp_location, 1, GL_FALSE, MatrixStack::identity().data());
        mvp_uploaded = false;
    } else {
        const MatrixStack::Matrix& matrix = modelViewProjection();
        if (!mvp_uploaded) {
            glUniformMatrix4fv(mvp_location, 1, GL_FALSE, matrix.data());
            mvp_uploaded = true;
        }
    }
    if (uploaded_texturing != static_cast<int>(texturing)) {
        glUniform1f(texturing_location, texturing ? 1.0f : 0.0f);
        uploaded_texturing = texturing ? 1 : 0;
    }
}

} // namespace Spectrafox
