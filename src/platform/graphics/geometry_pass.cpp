#include "platform/graphics/geometry_pass.h"

#include "platform/fixed_function/fixed_function_pipeline.h"
#include "platform/fixed_function/gl_fixed_function.h"

namespace Spectrafox {

namespace {

// Where the quad's corners go; the shader works from gl_FragCoord.
constexpr GLuint kCornerAttribute = 0;
constexpr GLint kStageUnit = 0;
// Unit 1 belongs to the fixed-function layer's YUV pictures.
constexpr GLint kMaskUnit = 2;

const char* const kVertexShader = R"(
attribute vec2 a_corner;
void main() { gl_Position = vec4(a_corner, 0.0, 1.0); }
)";

// Output fractions have y down, as WARP gives them; texture rows are bottom
// first. A blend zone's t runs from its outer edge (0) to its inner edge (1).
const char* const kFragmentShader = R"(
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif
uniform sampler2D u_stage;
uniform sampler2D u_mask;
uniform mat3 u_output_to_region;
uniform vec2 u_output_size;
uniform vec4 u_blend;
uniform float u_curve;
uniform float u_inverse_gamma;
uniform float u_masked;

float ramp(float t)
{
    float f = t < 0.5 ? 0.5 * pow(2.0 * t, u_curve) : 1.0 - 0.5 * pow(2.0 * (1.0 - t), u_curve);
    return pow(f, u_inverse_gamma);
}

float zone(float from_edge, float width)
{
    return from_edge < width ? ramp(clamp(from_edge / width, 0.0, 1.0)) : 1.0;
}

void main()
{
    vec2 output_point = vec2(gl_FragCoord.x / u_output_size.x, 1.0 - gl_FragCoord.y / u_output_size.y);
    vec3 h = u_output_to_region * vec3(output_point, 1.0);
    vec2 uv = h.xy / h.z;
    if (h.z <= 0.0 || uv.x < 0.0 || uv.y < 0.0 || uv.x > 1.0 || uv.y > 1.0) {
        gl_FragColor = vec4(0.0, 0.0, 0.0, 1.0);
        return;
    }
    vec3 colour = texture2D(u_stage, vec2(uv.x, 1.0 - uv.y)).rgb;
    float factor = zone(uv.x, u_blend.x) * zone(1.0 - uv.x, u_blend.y) * zone(uv.y, u_blend.z) *
                   zone(1.0 - uv.y, u_blend.w);
    if (u_masked > 0.5)
        factor *= texture2D(u_mask, output_point).r;
    gl_FragColor = vec4(colour * factor, 1.0);
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
    for (GLuint texture : {stage_texture, mask_texture})
        if (texture)
            glDeleteTextures(1, &texture);
    if (program)
        ::glDeleteProgram(program);
}

bool GeometryPass::ready(std::string* error)
{
    if (!built && !failed) {
        built = true;
        failed = !makeTarget(error) || !makeProgram(error);
        if (!failed)
            configure(geometry, nullptr);
    }
    return !failed;
}

bool GeometryPass::makeTarget(std::string* error)
{
    FixedFunctionPipeline::instance().flush();
    GLuint bound = 0;
    glGenTextures(1, &stage_texture);
    glBindTexture(GL_TEXTURE_2D, stage_texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, bound);
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

bool GeometryPass::makeProgram(std::string* error)
{
    const GLuint vertex = compile(GL_VERTEX_SHADER, kVertexShader, error);
    const GLuint fragment = vertex ? compile(GL_FRAGMENT_SHADER, kFragmentShader, error) : 0;
    if (!fragment) {
        if (vertex)
            glDeleteShader(vertex);
        return false;
    }
    program = glCreateProgram();
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

void GeometryPass::configure(const Geometry& wanted, const MaskPicture* mask)
{
    geometry = wanted;
    masked = mask != nullptr && mask->width > 0 && mask->height > 0;
    if (masked)
        uploadMask(*mask);
    if (program)
        setUniforms();
}

void GeometryPass::uploadMask(const MaskPicture& mask)
{
    FixedFunctionPipeline::instance().flush();
    glActiveTexture(GL_TEXTURE0 + kMaskUnit);
    if (!mask_texture)
        glGenTextures(1, &mask_texture);
    // Unit 0's binding is the layer's; this unit is ours alone.
    ::glBindTexture(GL_TEXTURE_2D, mask_texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    ::glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, mask.width, mask.height, 0, GL_LUMINANCE,
                   GL_UNSIGNED_BYTE, mask.values.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    ::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    ::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    ::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    ::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glActiveTexture(GL_TEXTURE0);
}

void GeometryPass::setUniforms()
{
    FixedFunctionPipeline::instance().flush();
    const GLuint ours = currentProgram();
    ::glUseProgram(program);
    // Row-major to GLSL's column-major.
    const Homography::Matrix m = geometry.outputToRegion().values();
    const GLfloat columns[9] = {GLfloat(m[0]), GLfloat(m[3]), GLfloat(m[6]), GLfloat(m[1]), GLfloat(m[4]),
                                GLfloat(m[7]), GLfloat(m[2]), GLfloat(m[5]), GLfloat(m[8])};
    const Geometry::Blend& b = geometry.blend;
    glUniformMatrix3fv(glGetUniformLocation(program, "u_output_to_region"), 1, GL_FALSE, columns);
    glUniform2f(glGetUniformLocation(program, "u_output_size"), GLfloat(width), GLfloat(height));
    glUniform4f(glGetUniformLocation(program, "u_blend"), GLfloat(b.left), GLfloat(b.right), GLfloat(b.top),
                GLfloat(b.bottom));
    glUniform1f(glGetUniformLocation(program, "u_curve"), GLfloat(b.curve));
    glUniform1f(glGetUniformLocation(program, "u_inverse_gamma"), GLfloat(1.0 / b.gamma));
    glUniform1f(glGetUniformLocation(program, "u_masked"), masked ? 1.0f : 0.0f);
    glUniform1i(glGetUniformLocation(program, "u_stage"), kStageUnit);
    glUniform1i(glGetUniformLocation(program, "u_mask"), kMaskUnit);
    ::glUseProgram(ours);
}

void GeometryPass::beginFrame()
{
    FixedFunctionPipeline::instance().flush();
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
}

void GeometryPass::finishFrame()
{
    static const GLfloat corners[8] = {-1, -1, 1, -1, -1, 1, 1, 1};
    FixedFunctionPipeline& layer = FixedFunctionPipeline::instance();
    layer.flush();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, stage_texture);
    const GLuint ours = currentProgram();
    ::glUseProgram(program);
    glEnableVertexAttribArray(kCornerAttribute);
    glVertexAttribPointer(kCornerAttribute, 2, GL_FLOAT, GL_FALSE, 0, corners);
    ::glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    ::glUseProgram(ours);
    layer.reclaimVertexAttributes();
}

} // namespace Spectrafox
