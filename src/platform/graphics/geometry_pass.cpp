#include "platform/graphics/geometry_pass.h"

#include "platform/fixed_function/fixed_function_pipeline.h"
#include "platform/fixed_function/gl_fixed_function.h"
#include "platform/fixed_function/shader_program.h"

#include <array>

namespace Spectrafox {

namespace {

// Where the quad's corners go; the shader works from gl_FragCoord.
constexpr GLuint kCornerAttribute = 0;
// Unit 1 belongs to the fixed-function layer's YUV pictures.
constexpr GLint kLightUnit = 2;

const char* const kVertexShader = R"(
attribute vec2 a_corner;
void main() { gl_Position = vec4(a_corner, 0.0, 1.0); }
)";

// The frame stays where it was drawn and is multiplied by its light
// through the blender: no offscreen picture, no copy.
const char* const kLightShader = R"(
uniform sampler2D u_light;
uniform vec2 u_output_size;

void main()
{
    vec2 output_point = vec2(gl_FragCoord.x / u_output_size.x, 1.0 - gl_FragCoord.y / u_output_size.y);
    gl_FragColor = vec4(texture2D(u_light, output_point).rrr, 1.0);
}
)";

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
    if (light_texture)
        glDeleteTextures(1, &light_texture);
    if (light_program)
        ::glDeleteProgram(light_program);
}

// The program and its uniforms, which never change, are made once.
bool GeometryPass::ready(std::string* error)
{
    if (built)
        return light_program != 0;
    built = true;
    light_program = buildShaderProgram(kVertexShader, kLightShader, {{kCornerAttribute, "a_corner"}}, error);
    if (!light_program) {
        *error = "geometry pass: " + *error;
        return false;
    }
    FixedFunctionPipeline::instance().flush();
    const GLuint ours = currentProgram();
    ::glUseProgram(light_program);
    glUniform2f(glGetUniformLocation(light_program, "u_output_size"), GLfloat(width), GLfloat(height));
    glUniform1i(glGetUniformLocation(light_program, "u_light"), kLightUnit);
    ::glUseProgram(ours);
    return true;
}

void GeometryPass::configure(const LightMap& light)
{
    dimmed = dimmedCorners(light);
    uploadLight(light);
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

void GeometryPass::finishFrame()
{
    FixedFunctionPipeline::instance().flush();
    if (dimmed[0] >= dimmed[2])
        return;
    GLint source = GL_ONE, destination = GL_ZERO;
    glGetIntegerv(GL_BLEND_SRC_RGB, &source);
    glGetIntegerv(GL_BLEND_DST_RGB, &destination);
    const GLboolean blending = glIsEnabled(GL_BLEND);
    ::glEnable(GL_BLEND);
    ::glBlendFunc(GL_ZERO, GL_SRC_COLOR);
    drawLight();
    ::glBlendFunc(static_cast<GLenum>(source), static_cast<GLenum>(destination));
    if (!blending)
        ::glDisable(GL_BLEND);
}

// One quad with our program, only where the light dims the picture; the
// layer's program and arrays are given back.
void GeometryPass::drawLight()
{
    const GLfloat corners[8] = {dimmed[0], dimmed[1], dimmed[2], dimmed[1], dimmed[0], dimmed[3], dimmed[2], dimmed[3]};
    const GLuint ours = currentProgram();
    ::glUseProgram(light_program);
    glEnableVertexAttribArray(kCornerAttribute);
    glVertexAttribPointer(kCornerAttribute, 2, GL_FLOAT, GL_FALSE, 0, corners);
    ::glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    ::glUseProgram(ours);
    FixedFunctionPipeline::instance().reclaimVertexAttributes();
}

} // namespace Spectrafox
