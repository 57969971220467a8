#pragma once

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include "platform/fixed_function/gl_fixed_function.h"

#include "canvas/canvas_content/video_cue_options.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace Spectrafox {

class VideoPipeline;

// Plays up to three H.264 videos (raw streams, or the H.264 video of an MP4,
// MOV or MKV file) into GL textures, each repeating without end. A started
// slot owns a decode thread that feeds its file to an
// OpenMAX IL pipeline (video_decode -> video_scheduler paced by clock ->
// egl_render), which writes every picture into an EGL image of the slot's
// texture. Slots are numbered from 1; 0 means no slot. By default there are
// three, taken for good; a player made with `give_back` makes a stopped slot
// free again, for decoders that follow the canvases.
// Every call comes from the thread that holds the renderer's EGL context.
//
// When the texture size is given, pictures are handed over without tearing:
// the renderer writes into one of three textures while the render thread
// draws another (currentTexture), and an image the render thread gave up is
// written again only after an EGL fence says no drawing reads it any more. A
// picture is drawn from the first frame after it was complete.
class VideoPlayer {
public:
    static constexpr int kMostSlots = VideoPlayerLimits::kMostDecoders;

    // Copies the renderer's EGL handles; starts nothing. `slot_count` is
    // brought into 1 to kMostSlots.
    VideoPlayer(EGLDisplay* d, EGLSurface* s, EGLContext* c, int slot_count = 3,
                bool give_back = false);
    // Stops and waits for any slot still playing, then releases the images.
    ~VideoPlayer();
    VideoPlayer(const VideoPlayer&) = delete;
    VideoPlayer& operator=(const VideoPlayer&) = delete;

    // Plays `filename` into the texture named by *video_tex_ptr on the lowest
    // free slot and returns its number, or 0 when all were taken. The
    // texture must hold RGBA storage at level 0: of the given size, into
    // which every picture is scaled whole, or (width and height 0) of the
    // video's own size.
    int startFreePlayer(std::string filename, GLuint* video_tex_ptr, int width = 0,
                        int height = 0);
    // Tells that slot to stop and waits for its thread. Other
    // numbers, and slots never started, are ignored.
    void stopPlayer(int player_id);
    // Stops the slot like stopPlayer, then gives it back for another file:
    // a texture slot reloaded while the show runs.
    void releasePlayer(int player_id);
    // Tells every slot to stop, without waiting.
    void sendStopSignal();
    // Pictures written into the slot's texture so far (0 for other numbers).
    long getPictureCount(int player_id) const;
    // True once the slot gave up on a stream that yields no picture (not
    // H.264, or no video at all); its decode thread has ended then and
    // released its decoder.
    bool playbackFailed(int player_id) const;
    // The texture to draw for the slot; the one given at the start for other
    // numbers.
    GLuint currentTexture(int player_id, GLuint started_with);

    // A stream is given up when the decoder has shown no picture after this
    // many bytes or this long, whichever comes first.
    static constexpr long kMostBytesWithoutPicture = 16L << 20;
    static constexpr int kLongestWaitForPictureMs = 4000;
    // A playing file that reads nothing (truncated, being copied over, a
    // failing medium) is opened again after these pauses, doubling.
    static constexpr std::chrono::milliseconds kFirstReopenPause{50};
    static constexpr std::chrono::milliseconds kLongestReopenPause{1000};

private:
    // Pictures are handed over between three textures: the one being drawn,
    // the newest complete one, and the one being written.
    static constexpr int kImages = 3;

    // One slot, shared by the main thread, its decode thread and the IL
    // thread that runs its fill-buffer-done callback.
    struct Slot {
        int number = 0;
        std::string filename;
        int texture_width = 0;
        int texture_height = 0;
        std::thread player_thread;
        // Written before the thread starts, released after it ended. Entry 0
        // is the texture the slot was started with; the others are made by
        // the player (only when the size is given: without one, pictures go
        // straight into the one texture, with no hand-over).
        EGLDisplay egl_display = EGL_NO_DISPLAY;
        int image_count = 0;
        EGLImageKHR images[kImages] = {EGL_NO_IMAGE_KHR, EGL_NO_IMAGE_KHR, EGL_NO_IMAGE_KHR};
        GLuint textures[kImages] = {};
        std::atomic<bool> video_dec_loop{true};
        // The image the renderer writes now (it holds one at a time).
        std::atomic<int> in_renderer{0};
        // The hand-over: the newest complete picture not yet drawn, and the
        // image the main thread stopped drawing, with the fence after which
        // no drawing command reads it any more.
        std::atomic<unsigned> hand_over{0};
        std::atomic<EGLSyncKHR> fences[kImages] = {};
        int front = 0; // the image drawn; main thread only
        std::atomic<long> pictures{0};
        std::atomic<bool> failed{false};
    };

    static int handOver(Slot* slot);
    static void waitUntilUnused(Slot* slot, int image);
    bool makeImages(Slot& slot, GLuint given_texture);
    static void my_fill_buffer_done(void* userdata, VideoPipeline& pipeline);
    void video_decode_test(Slot* slot);
    void releaseImage(Slot* slot);
    EGLImageKHR imageOf(GLuint texture) const;
    Slot* slotFor(int player_id);

    void resetForReuse(Slot& slot);

    const int slot_count;
    const bool give_back;
    bool player_is_free[kMostSlots];
    EGLDisplay display;
    EGLSurface surface;
    EGLContext context;
    bool fence_sync;
    Slot slots[kMostSlots];
};

} // namespace Spectrafox
