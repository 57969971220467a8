#pragma once

#include "platform/omx/ilclient.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace Spectrafox {

// The OpenMAX IL pipeline of one video: video_decode -> video_scheduler,
// paced by clock -> egl_render, which writes every picture into one of the
// EGL images it was given. It makes the IL calls of set-up, streaming and
// tear-down in their fixed order and reports the step that failed; what a
// failure means is for the caller to decide. One thread drives it; the
// picture callback runs on the renderer's thread.
class VideoPipeline {
public:
    enum class Error {
        None,
        ClientInit,     // the IL client or OMX_Init
        Component,      // a component could not be created (or given the display)
        ClockState,     // the clock refused to wait for the start time
        ClockTunnel,    // clock -> scheduler
        InputPort,      // the decoder's idle state, input format or input buffers
        DecoderTunnel,  // decoder -> scheduler
        RendererTunnel, // scheduler -> renderer
        PortEnable,     // the renderer's output port
        UseEGLImage,    // an image handed to the renderer
        Fill,           // OMX_FillThisBuffer
        Submit,         // OMX_EmptyThisBuffer
    };

    static constexpr int kMostImages = 3;

    // After each picture written: the callee names the image to write next
    // with fill().
    using PictureWritten = void (*)(void* userdata, VideoPipeline& pipeline);

    // Starts nothing. keep_waiting, read while waiting for an input buffer,
    // must outlive the pipeline.
    VideoPipeline(EGLDisplay display, PictureWritten on_picture, void* userdata,
                  const std::atomic<bool>* keep_waiting);
    // Tears down whatever was built.
    ~VideoPipeline();
    VideoPipeline(const VideoPipeline&) = delete;
    VideoPipeline& operator=(const VideoPipeline&) = delete;

    // Creates the components and tunnels up to a decoder ready for input.
    // Stops at the first step that fails and names it.
    Error build();

    // The decoder starts executing; input may be submitted from now on.
    void startStreaming();
    // Waits for a free input buffer and holds it; false when none came (the
    // keep-waiting flag went false).
    bool takeInputBuffer();
    // The held buffer's data area and how many bytes fit (at most one
    // packet of VideoDecodeComponent::kInputBufferSize); null and 0 without one.
    uint8_t* inputData() const;
    size_t inputRoom() const;
    // Hands `length` bytes of the held buffer to the decoder. Only the first
    // submission of the pipeline starts the clock.
    Error submitInput(size_t length);

    // True once the decoder announced its picture size; with `wait`, waits
    // for the announcement up to kSettingsWaitMs.
    bool pictureSizeKnown(bool wait);
    // The rest of the pipeline once the size is known: tunnels to the
    // renderer, its images (scaled into width x height when both are above
    // 0), and the first image to write.
    Error complete(const EGLImageKHR* images, int count, int width, int height, int first);
    // Hands image `image` to the renderer to write next. Safe from the
    // picture callback.
    Error fill(int image);

    // End of stream in the held buffer (or one taken back from the decoder),
    // then the tunnels flushed and the input buffers freed.
    void endStream();
    // Releases every component, tunnel and the client; again: nothing.
    void tearDown();

    static constexpr int kSettingsWaitMs = 10000;
    static constexpr int kRendererSettingsWaitMs = 1000;

private:
    static void onFillBufferDone(void* userdata, COMPONENT_T* comp);
    Error createComponents();
    Error createComponent(COMPONENT_T** comp, const char* name, ILCLIENT_CREATE_FLAGS_T flags);
    Error setClockWaiting();
    Error startClock();
    Error startInput();
    Error connectRenderer();
    Error giveImages(const EGLImageKHR* images, int count);
    void setTextureSize(int width, int height);
    OMX_BUFFERHEADERTYPE* bufferForEndOfStream();

    EGLDisplay display;
    PictureWritten on_picture;
    void* userdata;
    const std::atomic<bool>* keep_waiting;

    ILCLIENT_T* client = nullptr;
    COMPONENT_T* video_decode = nullptr;
    COMPONENT_T* video_scheduler = nullptr;
    COMPONENT_T* clock = nullptr;
    COMPONENT_T* egl_render = nullptr;
    // Null-terminated, in the order of creation, for the clean-up.
    COMPONENT_T* list[5] = {};
    int listed = 0;
    // Decoder -> scheduler, scheduler -> renderer, clock -> scheduler, end.
    TUNNEL_T tunnel[4] = {};
    bool input_enabled = false;
    bool first_submission = true;
    OMX_BUFFERHEADERTYPE* held = nullptr;
    // Written by the driving thread before the first fill, read by the
    // picture callback.
    std::atomic<COMPONENT_T*> renderer{nullptr};
    std::atomic<OMX_BUFFERHEADERTYPE*> image_buffers[kMostImages] = {};
};

} // namespace Spectrafox
