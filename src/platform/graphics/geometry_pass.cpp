#include "platform/graphics/geometry_pass.h"

#include "platform/fixed_function/fixed_function_pipeline.h"
#include "platform/fixed_function/gl_fixed_function.h"

#include <array>

namespace Spectrafox {

namespace {

// Where the quad's corners go; the shader works from gl_FragCoord.
constexpr GLuint kCornerAttribute = 0;
constexpr GLint kStageUnit = 0;
// Unit 1 belongs to the fixed-function layer's YUV pictures.
constexpr GLint kLightUnit = 2;

const char* const kVertexShader = R"(
attribute vec2 a_corner;
void main() { gl_Position = vec4(a_corner, 0.0, 1.0); }
)";

const char* const kPrecision = R"(
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif
)";

// Output fractions have y down, as WARP gives them; texture rows are bottom
// first. The light is 0 wherever the region does not reach.
const char* const kWarpShader = R"(
uniform sampler2D u_stage;
uniform sampler2D u_light;
uniform mat3 u_output_to_region;
uniform vec2 u_output_size;

void main()
{
    vec2 output_point = vec2(gl_FragCoord.x / u_output_size.x, 1.0 - gl_FragCoord.y / u_output_size.y);
    float light = texture2D(u_light, output_point).r;
    vec3 h = u_output_to_region * vec3(output_point, 1.0);
    vec2 uv = h.xy / h.z;
    vec3 colour = texture2D(u_stage, vec2(uv.x, 1.0 - uv.y)).rgb;
    gl_FragColor = light > 0.0 ? vec4(colour * light, 1.0) : vec4(0.0, 0.0, 0.0, 1.0);
}
)";

// Without a warp the frame stays where it was drawn and is multiplied by
// its light through the blender: no offscreen picture, no copy.
const char* const kLightShader = R"(
uniform sampler2D u_light;
uniform vec2 u_output_size;

void main()
{
    vec2 output_point = vec2(gl_FragCoord.x / u_output_size.x, 1.0 - gl_FragCoord.y / u_output_size.y);
    gl_FragColor = vec4(texture2D(u_light, output_point).rrr, 1.0);
}
)";

GLuint compile(GLenum kind, const char* source, std::string* error)
{
    const GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok == GL_TRUE)
        return shader;
    char log[512] = "";
    glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    *error = std::string("geometry shader: ") + log;
    glDeleteShader(shader);
    return 0;
}

// The part of the output that the light darkens, in clip coordinates
// (left, bottom, right, top); nothing when left >= right.
std::array<GLfloat, 4> dimmedCorners(const LightMap& light)
{
    if (light.dim_right < light.dim_left)
        return {0, 0, 0, 0};
    const auto across = [&](int x) { return -1.0f + 2.0f * x / light.width; };
    const auto down = [&](int y) { return 1.0f - 2.0f * y / light.height; };
    return {across(light.dim_left), down(light.dim_bottom + 1), across(light.dim_right + 1), down(light.dim_top)};
}

GLuint currentProgram()
{
    GLint name = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &name);
    return static_cast<GLuint>(name);
}

} // namespace

GeometryPass::GeometryPass(int output_width, int output_height) : width(output_width), height(output_height) {}

GeometryPass::~GeometryPass()
{
    FixedFunctionPipeline::instance().flush();
    if (framebuffer)
        glDeleteFramebuffers(1, &framebuffer);
    for (GLuint texture : {stage_texture, light_texture})
        if (texture)
            glDeleteTextures(1, &texture);
    for (GLuint program : {warp_program, light_program})
        if (program)
            ::glDeleteProgram(program);
}

bool GeometryPass::ready(std::string* error)
{
    if (!built && !failed) {
        built = true;
        failed = !makeProgram(kWarpShader, &warp_program, error) || !makeProgram(kLightShader, &light_program, error);
    }
    return !failed;
}

bool GeometryPass::makeTarget(std::string* error)
{
    FixedFunctionPipeline::instance().flush();
    glGenTextures(1, &stage_texture);
    glBindTexture(GL_TEXTURE_2D, stage_texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, 0);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, stage_texture, 0);
    const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (status == GL_FRAMEBUFFER_COMPLETE)
        return true;
    *error = "the offscreen picture of " + std::to_string(width) + "x" + std::to_string(height) +
             " cannot be drawn into (status " + std::to_string(status) + ")";
    return false;
}

bool GeometryPass::makeProgram(const char* fragment_source, GLuint* out, std::string* error)
{
    const std::string fragment_text = std::string(kPrecision) + fragment_source;
    const GLuint vertex = compile(GL_VERTEX_SHADER, kVertexShader, error);
    const GLuint fragment = vertex ? compile(GL_FRAGMENT_SHADER, fragment_text.c_str(), error) : 0;
    if (!fragment) {
        if (vertex)
            glDeleteShader(vertex);
        return false;
    }
    const GLuint program = glCreateProgram();
    *out = program;
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glBindAttribLocation(program, kCornerAttribute, "a_corner");
    glLinkProgram(program);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok == GL_TRUE)
        return true;
    char log[512] = "";
    glGetProgramInfoLog(program, sizeof log, nullptr, log);
    *error = std::string("geometry program: ") + log;
    return false;
}

bool GeometryPass::configure(const Geometry& wanted, const LightMap& light, std::string* error)
{
    geometry = wanted;
    warped = geometry.hasWarp();
    dimmed = {-1, -1, 1, 1};
    if (!warped)
        dimmed = dimmedCorners(light);
    if (warped && !framebuffer && !makeTarget(error))
        return false;
    uploadLight(light);
    setUniforms(warp_program);
    setUniforms(light_program);
    return true;
}

// One light value per output pixel: sampled at texel centres, nearest is exact.
void GeometryPass::uploadLight(const LightMap& light)
{
    FixedFunctionPipeline::instance().flush();
    glActiveTexture(GL_TEXTURE0 + kLightUnit);
    if (!light_texture)
        glGenTextures(1, &light_texture);
    // Unit 0's binding is the layer's; this unit is ours alone.
    ::glBindTexture(GL_TEXTURE_2D, light_texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    ::glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, light.width, light.height, 0, GL_LUMINANCE,
                   GL_UNSIGNED_BYTE, light.values.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    ::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    ::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    ::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    ::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glActiveTexture(GL_TEXTURE0);
}

void GeometryPass::setUniforms(GLuint program)
{
    FixedFunctionPipeline::instance().flush();
    const GLuint ours = currentProgram();
    ::glUseProgram(program);
    // Row-major to GLSL's column-major.
    const Homography::Matrix m = geometry.outputToRegion().values();
    const GLfloat columns[9] = {GLfloat(m[0]), GLfloat(m[3]), GLfloat(m[6]), GLfloat(m[1]), GLfloat(m[4]),
                                GLfloat(m[7]), GLfloat(m[2]), GLfloat(m[5]), GLfloat(m[8])};
    glUniformMatrix3fv(glGetUniformLocation(program, "u_output_to_region"), 1, GL_FALSE, columns);
    glUniform2f(glGetUniformLocation(program, "u_output_size"), GLfloat(width), GLfloat(height));
    glUniform1i(glGetUniformLocation(program, "u_stage"), kStageUnit);
    glUniform1i(glGetUniformLocation(program, "u_light"), kLightUnit);
    ::glUseProgram(ours);
}

void GeometryPass::beginFrame()
{
    if (!warped)
        return;
    FixedFunctionPipeline::instance().flush();
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
}

void GeometryPass::finishFrame()
{
    FixedFunctionPipeline::instance().flush();
    if (warped) {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glBindTexture(GL_TEXTURE_2D, stage_texture);
        drawOutput(warp_program);
        return;
    }
    GLint source = GL_ONE, destination = GL_ZERO;
    glGetIntegerv(GL_BLEND_SRC_RGB, &source);
    glGetIntegerv(GL_BLEND_DST_RGB, &destination);
    const GLboolean blending = glIsEnabled(GL_BLEND);
    ::glEnable(GL_BLEND);
    ::glBlendFunc(GL_ZERO, GL_SRC_COLOR);
    if (dimmed[0] < dimmed[2])
        drawOutput(light_program);
    ::glBlendFunc(static_cast<GLenum>(source), static_cast<GLenum>(destination));
    if (!blending)
        ::glDisable(GL_BLEND);
}

// One quad with a program of ours (over the whole output, or only where
// the light dims the picture); the layer's
// program and arrays are given back.
void GeometryPass::drawOutput(GLuint program)
{
    const GLfloat corners[8] = {dimmed[0], dimmed[1], dimmed[2], dimmed[1], dimmed[0], dimmed[3], dimmed[2], dimmed[3]};
    const GLuint ours = currentProgram();
    ::glUseProgram(program);
    glEnableVertexAttribArray(kCornerAttribute);
    glVertexAttribPointer(kCornerAttribute, 2, GL_FLOAT, GL_FALSE, 0, corners);
    ::glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    ::glUseProgram(ours);
    FixedFunctionPipeline::instance().reclaimVertexAttributes();
}

} // namespace Spectrafox
