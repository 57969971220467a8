#pragma once

#include <string>

namespace Spectrafox {

// A content plug-in: makes the picture chosen by a content number current
// for the next draw. Conventions every plug-in keeps:
// - setContent sets the texture-coordinate array (2 floats per vertex, in the
//   renderer's vertex order bottom-left, bottom-right, top-left, top-right)
//   and binds the picture's texture; the renderer never sets coordinates.
// - getContentRatio writes height / width, 0 when the size is unknown.
// Each plug-in is constructed with (EGLDisplay*, EGLSurface*, EGLContext*),
// the addresses of the renderer's handles, while the GL context is current.
class ContentInterface {
public:
    // The canvas a picture is drawn for: its place in the group (the lower
    // decides where two show the same item), whether it shows at all, and its
    // playback channels.
    struct CanvasCue {
        int canvas = 0;
        bool drawn = false;
        int play_mode = 0;
        int play_speed = 0;
        int play_position = 0; // 16 bit
    };

    virtual ~ContentInterface() = 0;
    virtual std::string getContentTypeName() = 0;
    virtual void getContentRatio(int content_data, float* ratio) = 0;
    virtual void setContent(int content_data) = 0;
    // setContent for one canvas; a plug-in that plays nothing ignores the cue.
    virtual void setContentFor(int content_data, const CanvasCue&) { setContent(content_data); }
    // Every canvas of the frame has had its content.
    virtual void frameDone() {}
};

} // namespace Spectrafox
