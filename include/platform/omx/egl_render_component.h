#pragma once

#include "platform/omx/omx_component.h"

#include <EGL/egl.h>
#include <GLES2/gl2.h>

#include <atomic>
#include <vector>

struct SwsContext;

namespace Spectrafox {

// "egl_render": writes each picture released to port 220 into the EGL image
// of a buffer that the client handed over with OMX_FillThisBuffer on port 221
// (buffers come from OMX_UseEGLImage), then hands the buffer back. The
// picture is converted to RGBA with libswscale, bottom row first as GL
// expects, and uploaded from this component's own thread and own GLES 2.0
// context on the client's display (set with OMX_IndexParamSpectrafoxEGLDisplay).
// glFinish comes before the buffer goes back, so the picture is complete in
// the texture when the client hears of it. When the client sets a frame size
// on port 221 (OMX_IndexParamPortDefinition), that is its textures' size and
// every picture is scaled to fit it whole, whatever size the stream changes to.
class EglRenderComponent : public OmxComponent {
public:
    static constexpr OMX_U32 kInputPort = 220;
    static constexpr OMX_U32 kOutputPort = 221;

    EglRenderComponent();

    OMX_ERRORTYPE useEGLImage(OMX_BUFFERHEADERTYPE** out, OMX_U32 port, OMX_PTR app_private,
                              void* egl_image) override;

    // For tests of the hand-over: with a hook set, every picture is written
    // in two halves and the hook runs (on the component's thread) between
    // them. Null: pictures are written whole, as always in the program.
    using PauseHook = void (*)();
    static void setPauseInsidePicture(PauseHook hook);

protected:
    OMX_ERRORTYPE setComponentParameter(OMX_INDEXTYPE index, OMX_PTR data) override;
    bool acquireResources() override;
    void releaseResources() override;
    bool process() override;

private:
    struct TextureSize {
        int width = 0;
        int height = 0;
    };
    struct BoundImage {
        OMX_BUFFERHEADERTYPE* header;
        void* image;
        GLuint texture;
    };

    GLuint textureFor(OMX_BUFFERHEADERTYPE* header);
    OMX_ERRORTYPE setTextureSize(OMX_PTR data);
    bool convert(const AVFrame& picture, TextureSize size);

    static constexpr OMX_U32 kLargestSide = 16384;
    void render(OMX_BUFFERHEADERTYPE* target, const AVFrame& picture);

    static std::atomic<PauseHook> pause_hook;
    std::atomic<EGLDisplay> display{EGL_NO_DISPLAY};
    std::atomic<TextureSize> texture_size{TextureSize{}};

    // Touched by the component's thread only.
    EGLContext context = EGL_NO_CONTEXT;
    std::vector<BoundImage> bound_images;
    SwsContext* converter = nullptr;
    std::vector<uint8_t> rgba;
};

} // namespace Spectrafox
