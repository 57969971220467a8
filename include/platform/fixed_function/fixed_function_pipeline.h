#pragma once

#include "platform/fixed_function/matrix_stack.h"

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
// The program stays in use between draws: code that uses a program of its
// own puts this one back (glGetIntegerv(GL_CURRENT_PROGRAM) before).
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
    void setTexturing(bool on) { texturing = on; }
    bool isTexturing() const { return texturing; }

    // Makes the program and its uniforms current for a draw. False when no
    // program could be built, so nothing may be drawn.
    bool prepareDraw();

private:
    FixedFunctionPipeline() = default;
    bool buildProgram(std::string* error);
    void uploadUniforms();

    MatrixStack projection;
    MatrixStack modelview;
    MatrixStack* current = &modelview;
    bool texturing = false;
    bool matrices_changed = true;
    int uploaded_texturing = -1; // -1: not yet uploaded
    GLuint program = 0;
    bool program_failed = false;
    GLint mvp_location = -1;
    GLint texturing_location = -1;
};

} // namespace Spectrafox
