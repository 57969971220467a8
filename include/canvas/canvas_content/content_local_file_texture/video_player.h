#pragma once
// TEMPORARY placeholder until the real video player is merged.
#include <EGL/egl.h>
#include <GLES/gl.h>
#include <string>
namespace Spectrafox {
class VideoPlayer {
public:
    VideoPlayer(EGLDisplay*, EGLSurface*, EGLContext*) {}
    int startFreePlayer(std::string, GLuint*) { return 0; }
    void stopPlayer(int) {}
    void sendStopSignal() {}
};
} // namespace Spectrafox
