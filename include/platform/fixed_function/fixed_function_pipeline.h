#pragma once

#include "platform/fixed_function/draw_batch.h"
#include "platform/fixed_function/matrix_stack.h"
#include "platform/fixed_function/yuv_texture.h"

#include <GLES2/gl2.h>

#include <string>

namespace Spectrafox {

// What OpenGL ES 2.0 lacks of the fixed-function pipeline that our drawing
// code uses, kept on our side: the projection and model-view stacks, the
// matrix mode, 2-D texturing on or off, and one small shader program that
// draws with the product of the two matrices, the vertex colour and, when
// texturing is on, the texture modulated by that colour. Client arrays and
// the current colour are native ES 2.0 vertex attributes at fixed locations.
//
// Consecutive triangle strips of one texture and state are batched: their
// vertices are transformed on the CPU and drawn together when the texture
// or any state changes, before pixels are read or the frame is shown, or
// on flush(). Every call that changes state or reads the framebuffer of this
// context therefore goes through our layer (gl_fixed_function.h), or is
// preceded by flush().
//
// A YUV texture (yuv_texture.h) is bound in place of a 2-D texture: its
// planes go to texture units 0 and 1 and textured draws use a second program
// that converts to RGB before the colour is applied. Unit 1 belongs to
// the layer; unit 0 stays the active one. An imported picture
// (dma_buf_texture.h) is bound the same way, as a GL_TEXTURE_EXTERNAL_OES
// texture on unit 0 sampled by a third program, built at its first draw
// (only contexts with GL_OES_EGL_image_external have it).
//
// Our programs stay in use between draws: code that uses a program of its
// own puts ours back (glGetIntegerv(GL_CURRENT_PROGRAM) before).
//
// There is one instance, for the one context that the graphics platform
// makes current on the main thread; only that thread may use it. The owner of
// a context attaches it after making the context current and detaches it
// while the context is still current, before destroying it.
class FixedFunctionPipeline {
public:
    static constexpr GLuint kPositionAttribute = 0;
    static constexpr GLuint kColorAttribute = 1;
    static constexpr GLuint kTexCoordAttribute = 2;

    static FixedFunctionPipeline& instance();

    // The state of a fresh context, and the program built in it. False, with
    // the driver's words in `error`, when the program cannot be built.
    bool attachToCurrentContext(std::string* error);
    // Deletes the program; the context must still be current.
    void detachFromCurrentContext();

    // GL_PROJECTION or GL_MODELVIEW; other modes are ignored.
    void selectMatrixMode(GLenum mode);
    // The stack that the matrix mode selects, for a change.
    MatrixStack& changeCurrentMatrix();
    void setTexturing(bool on);
    bool isTexturing() const { return texturing; }

    // GL_VERTEX_ARRAY, GL_COLOR_ARRAY or GL_TEXTURE_COORD_ARRAY; null for
    // other names.
    ClientArray* clientArray(GLenum array);
    void setClientArrayEnabled(GLenum array, bool on);
    void setClientArrayPointer(GLenum array, GLint size, GLenum type, GLsizei stride,
                               const void* pointer);
    void setCurrentColor(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha);
    void bindTexture(GLenum target, GLuint name);
    // Binds the planes of a YUV texture, named by its luma plane.
    void bindYuvTexture(GLuint luma, const YuvSampling& sampling);
    // Binds an external texture; glBindTexture(GL_TEXTURE_EXTERNAL_OES) comes here.
    void bindExternalTexture(GLuint name);

    // Draws now, or adds the draw to the batch.
    void draw(GLenum mode, GLint first, GLsizei count);
    // Draws what is batched.
    void flush();
    // After a draw with a program and vertex attributes of its own (the
    // caller put the program back): our client arrays are handed on again.
    void reclaimVertexAttributes() { restoreClientArrays(); }
    // On by default; off, every draw is drawn at once (the baseline of the
    // renderer bench).
    void setBatching(bool on);
    // Draw calls handed to the driver since the context was attached.
    unsigned long drawCalls() const { return draw_calls; }

private:
    struct Program {
        GLuint name = 0;
        bool failed = false;
        GLint mvp_location = -1;
        GLint texturing_location = -1;
        bool mvp_uploaded = false; // u_mvp holds mvp, not the identity
        int uploaded_texturing = -1; // -1: not yet uploaded
    };
    struct YuvLocations {
        GLint chroma_scale = -1;
        GLint chroma_offset = -1;
        GLint offset = -1;
        GLint matrix = -1;
    };

    // What textured draws sample: the program they use.
    enum class TextureKind { Rgba, Yuv, External };

    FixedFunctionPipeline() = default;
    static bool buildProgram(Program& program, TextureKind kind, std::string* error);
    Program& programFor(TextureKind kind);
    void locateYuvUniforms();
    void uploadYuvSampling();
    // Makes the program and its uniforms current for a draw. False when no
    // program could be built, so nothing may be drawn.
    bool prepareDraw(bool clip_space);
    void uploadUniforms(Program& program, bool clip_space);
    const MatrixStack::Matrix& modelViewProjection();
    void restoreClientArrays();
    // Hands a client array to its ES 2.0 vertex attribute.
    void passOn(GLenum array, const ClientArray& client);
    static GLuint attributeOf(GLenum array);

    MatrixStack projection;
    MatrixStack modelview;
    MatrixStack* current = &modelview;
    bool texturing = false;
    bool matrices_changed = true;
    MatrixStack::Matrix mvp = MatrixStack::identity();
    DrawSource source;
    GLuint bound_texture = 0; // of a YUV texture, its luma plane
    TextureKind bound_kind = TextureKind::Rgba;
    YuvSampling yuv_sampling;
    bool yuv_sampling_uploaded = false;
    bool batching = true;
    DrawBatch batch;
    unsigned long draw_calls = 0;
    Program rgba_program;
    Program yuv_program;
    Program external_program;
    YuvLocations yuv_locations;
    GLuint used_program = 0;
};

} // namespace Spectrafox
