#include "platform/fixed_function/fixed_function_pipeline.h"

#include "platform/fixed_function/gl_fixed_function.h"
#include "platform/fixed_function/shader_program.h"

#include <GLES2/gl2ext.h>

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

// Put before each fragment shader.

// The default texture environment, modulate: texel times colour.
constexpr const char* kFragmentShader = R"(
uniform sampler2D u_texture;
uniform float u_texturing;
varying vec4 v_color;
varying vec2 v_texcoord;
void main()
{
    gl_FragColor = v_color * mix(vec4(1.0), texture2D(u_texture, v_texcoord), u_texturing);
}
)";

// A YUV texture: luma on unit 0, Cb Cr on 1, both stored top row first
// (as decoders give them, so they go to GL uncopied) and flipped here for
// the video path's coordinates (v = 0 at the bottom); chroma sampled where
// its samples sit; converted and clamped to RGB before the colour modulates
// it, as a texel would be.
constexpr const char* kYuvFragmentShader = R"(
uniform sampler2D u_texture;
uniform sampler2D u_chroma;
uniform vec2 u_chroma_scale;
uniform vec2 u_chroma_offset;
uniform vec3 u_yuv_offset;
uniform mat3 u_yuv_matrix;
varying vec4 v_color;
varying vec2 v_texcoord;
void main()
{
    vec2 t = vec2(v_texcoord.x, 1.0 - v_texcoord.y);
    vec2 c = t * u_chroma_scale + u_chroma_offset;
    vec3 yuv = vec3(texture2D(u_texture, t).r, texture2D(u_chroma, c).ra) - u_yuv_offset;
    gl_FragColor = v_color * vec4(clamp(u_yuv_matrix * yuv, 0.0, 1.0), 1.0);
}
)";

// An imported picture, row 0 at its top: v is flipped, as for a YUV
// texture, so that the video path's coordinates show it upright. The driver converts YUV images to RGB as it samples them.
constexpr const char* kExternalExtension = "#extension GL_OES_EGL_image_external : require\n";
constexpr const char* kExternalFragmentShader = R"(
uniform samplerExternalOES u_texture;
varying vec4 v_color;
varying vec2 v_texcoord;
void main()
{
    gl_FragColor = v_color * texture2D(u_texture, vec2(v_texcoord.x, 1.0 - v_texcoord.y));
}
)";

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
    rgba_program = Program();
    yuv_program = Program();
    external_program = Program();
    used_program = 0;
    source = DrawSource();
    batch.clear(); // drawn for a context that is gone, if any
    bound_texture = 0;
    bound_kind = TextureKind::Rgba;
    yuv_sampling_uploaded = false;
    draw_calls = 0;
    // The current colour of a fresh fixed-function context.
    setCurrentColor(1.0f, 1.0f, 1.0f, 1.0f);
    rgba_program.failed = !buildProgram(rgba_program, TextureKind::Rgba, error);
    if (rgba_program.failed)
        return false;
    yuv_program.failed = !buildProgram(yuv_program, TextureKind::Yuv, error);
    locateYuvUniforms();
    // The RGBA program in use, as before the YUV one existed.
    ::glUseProgram(rgba_program.name);
    used_program = rgba_program.name;
    return !yuv_program.failed;
}

void FixedFunctionPipeline::detachFromCurrentContext()
{
    flush();
    for (Program* built : {&rgba_program, &yuv_program, &external_program}) {
        if (built->name != 0)
            glDeleteProgram(built->name);
        *built = Program();
    }
    used_program = 0;
}

bool FixedFunctionPipeline::buildProgram(Program& program, TextureKind kind, std::string* error)
{
    const char* fragment_shader = kind == TextureKind::Rgba  ? kFragmentShader
                                  : kind == TextureKind::Yuv ? kYuvFragmentShader
                                                             : kExternalFragmentShader;
    const char* extension = kind == TextureKind::External ? kExternalExtension : "";
    const GLuint linked = buildShaderProgram(kVertexShader, fragment_shader,
                                             {{kPositionAttribute, "a_position"},
                                              {kColorAttribute, "a_color"},
                                              {kTexCoordAttribute, "a_texcoord"}},
                                             error, extension);
    if (!linked)
        return false;
    program = Program();
    program.name = linked;
    program.mvp_location = glGetUniformLocation(linked, "u_mvp");
    program.texturing_location = glGetUniformLocation(linked, "u_texturing");
    ::glUseProgram(linked);
    glUniform1i(glGetUniformLocation(linked, "u_texture"), 0);
    glUniform1i(glGetUniformLocation(linked, "u_chroma"), 1);
    return true;
}

FixedFunctionPipeline::Program& FixedFunctionPipeline::programFor(TextureKind kind)
{
    switch (kind) {
    case TextureKind::Yuv: return yuv_program;
    case TextureKind::External: return external_program;
    default: return rgba_program;
    }
}

void FixedFunctionPipeline::locateYuvUniforms()
{
    const GLuint name = yuv_program.name;
    yuv_locations.chroma_scale = glGetUniformLocation(name, "u_chroma_scale");
    yuv_locations.chroma_offset = glGetUniformLocation(name, "u_chroma_offset");
    yuv_locations.offset = glGetUniformLocation(name, "u_yuv_offset");
    yuv_locations.matrix = glGetUniformLocation(name, "u_yuv_matrix");
    yuv_sampling_uploaded = false;
}

void FixedFunctionPipeline::uploadYuvSampling()
{
    if (yuv_sampling_uploaded)
        return;
    const YuvSampling& s = yuv_sampling;
    glUniform2fv(yuv_locations.chroma_scale, 1, s.chroma_scale);
    glUniform2fv(yuv_locations.chroma_offset, 1, s.chroma_offset);
    glUniform3fv(yuv_locations.offset, 1, s.offset);
    glUniformMatrix3fv(yuv_locations.matrix, 1, GL_FALSE, s.matrix);
    yuv_sampling_uploaded = true;
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
    if (target == GL_TEXTURE_EXTERNAL_OES) {
        bindExternalTexture(name);
        return;
    }
    if (target == GL_TEXTURE_2D) {
        if (name != bound_texture || bound_kind != TextureKind::Rgba)
            flush();
        bound_texture = name;
        bound_kind = TextureKind::Rgba;
    }
    ::glBindTexture(target, name);
}

void FixedFunctionPipeline::bindYuvTexture(GLuint luma, const YuvSampling& sampling)
{
    const bool same_sampling = sampling == yuv_sampling;
    if (bound_kind != TextureKind::Yuv || luma != bound_texture || !same_sampling)
        flush();
    if (!same_sampling) {
        yuv_sampling = sampling;
        yuv_sampling_uploaded = false;
    }
    bound_kind = TextureKind::Yuv;
    bound_texture = luma;
    ::glActiveTexture(GL_TEXTURE1);
    ::glBindTexture(GL_TEXTURE_2D, sampling.chroma);
    ::glActiveTexture(GL_TEXTURE0);
    ::glBindTexture(GL_TEXTURE_2D, luma);
}

void FixedFunctionPipeline::bindExternalTexture(GLuint name)
{
    if (bound_kind != TextureKind::External || name != bound_texture)
        flush();
    bound_kind = TextureKind::External;
    bound_texture = name;
    ::glBindTexture(GL_TEXTURE_EXTERNAL_OES, name);
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
        for (Program* program : {&rgba_program, &yuv_program, &external_program})
            program->mvp_uploaded = false;
    }
    return mvp;
}

bool FixedFunctionPipeline::prepareDraw(bool clip_space)
{
    const TextureKind kind = texturing ? bound_kind : TextureKind::Rgba;
    const bool yuv = kind == TextureKind::Yuv;
    Program& program = programFor(kind);
    // A context that nobody attached builds its programs on the first draw,
    // and the external program is built where it is first needed.
    if (program.name == 0) {
        std::string ignored;
        if (program.failed || !buildProgram(program, kind, &ignored)) {
            program.failed = true;
            return false;
        }
        used_program = program.name;
        if (yuv)
            locateYuvUniforms();
    }
    if (used_program != program.name) {
        ::glUseProgram(program.name);
        used_program = program.name;
    }
    uploadUniforms(program, clip_space);
    if (yuv)
        uploadYuvSampling();
    return true;
}

// A batch carries clip-space positions and is drawn with the identity.
void FixedFunctionPipeline::uploadUniforms(Program& program, bool clip_space)
{
    if (clip_space) {
        glUniformMatrix4fv(program.mvp_location, 1, GL_FALSE, MatrixStack::identity().data());
        program.mvp_uploaded = false;
    } else {
        const MatrixStack::Matrix& matrix = modelViewProjection();
        if (!program.mvp_uploaded) {
            glUniformMatrix4fv(program.mvp_location, 1, GL_FALSE, matrix.data());
            program.mvp_uploaded = true;
        }
    }
    if (program.uploaded_texturing != static_cast<int>(texturing)) {
        glUniform1f(program.texturing_location, texturing ? 1.0f : 0.0f);
        program.uploaded_texturing = texturing ? 1 : 0;
    }
}

} // namespace Spectrafox
