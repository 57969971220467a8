#pragma once

#include <EGL/egl.h>
#include "platform/fixed_function/gl_fixed_function.h"
#include "platform/fixed_function/dma_buf_texture.h"
#include "platform/media/clip_reader.h"
#include "platform/media/video_picture_sets.h"

#include "canvas/canvas_content/content_local_file_texture/video/clip_position.h"
#include "canvas/canvas_content/content_local_file_texture/video/picture_queue.h"
#include "canvas/canvas_content/video_cue_options.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace Spectrafox {

// Plays H.264 videos (raw streams, or the H.264 video of an MP4, MOV or MKV
// file) for the texture slots. A started slot owns a decode thread that
// keeps the pictures its steering asks for decoded a few ahead, exactly on
// the picture wanted after every seek; the render thread takes the picture
// due each frame and uploads it as luma and chroma planes, converted to RGB
// when drawn, or, where the board decoder leaves its pictures in DMA-BUFs
// and the display imports them, shows them where they lie. Uploads and
// draws share the render thread's context, so a drawn picture is never
// half-written; each slot cycles through three picture sets, so an upload
// never waits for the draws of the last one.
//
// Slots are numbered from 1; 0 means no slot. By default there are three,
// taken for good; a player made with `give_back` makes a stopped slot free
// again, for decoders that follow the canvases. Every call comes from the
// thread that holds the renderer's EGL context.
class VideoPlayer {
public:
    static constexpr int kMostSlots = VideoPlayerLimits::kMostDecoders;
    static constexpr int kDefaultSlots = 3;
    // A clip further behind its steering than this seeks rather than decodes on.
    static constexpr double kLongestCatchUpUs = 1000000.0;
    // A playing file that reads nothing (truncated, being copied over,
    // emptied and removed, a failing or pulled medium) is opened again after
    // these pauses, doubling.
    static constexpr std::chrono::milliseconds kFirstReopenPause{50};
    static constexpr std::chrono::milliseconds kLongestReopenPause{1000};

    // What a slot shows: the picture of its current path, one of before
    // (its decoder is still seeking), or nothing yet.
    enum class Shown { Nothing, Earlier, Current };

    // Copies the renderer's EGL handles and asks its display and context
    // (current) whether they import DMA-BUFs; starts nothing. `slot_count`
    // is brought into 1 to kMostSlots. `notice` is told, once each, whether
    // the board decoder's pictures are shown without a copy.
    VideoPlayer(EGLDisplay* d, EGLSurface* s, EGLContext* c, int slot_count = kDefaultSlots,
                bool give_back = false, DrmPrimeImport::Notice notice = {});
    // Stops and waits for any slot still playing, then releases its pictures.
    ~VideoPlayer();
    VideoPlayer(const VideoPlayer&) = delete;
    VideoPlayer& operator=(const VideoPlayer&) = delete;

    // Plays `filename` on the lowest free slot from where `steering` says,
    // and returns the slot's number, or 0 when all were taken.
    int startFreePlayer(const std::string& filename, const PlaybackSteering& steering);
    // Tells that slot to stop and waits for its thread. Other numbers, and
    // slots never started, are ignored.
    void stopPlayer(int player_id);
    // Stops the slot like stopPlayer, then gives it back for another file:
    // a texture slot reloaded while the show runs.
    void releasePlayer(int player_id);
    // Tells every slot to stop, without waiting.
    void sendStopSignal();

    // Where the slot's clip should be (render thread, once a frame while it
    // is on screen, or parked when it is not).
    void steer(int player_id, const PlaybackSteering& steering);
    // Binds the picture due now, uploading it first when it is new.
    Shown bindDue(int player_id);

    // Pictures put on screen so far (0 for other numbers).
    long getPictureCount(int player_id) const;
    // True once the slot gave up on a stream that yields no picture (not
    // H.264, or no video at all); its decode thread has ended then and
    // released its decoder.
    bool playbackFailed(int player_id) const;
    // The clip's timing once its decoder has opened it; frame_us 0 before.
    ClipTiming timing(int player_id) const;
    // When in its clip the picture on screen is, in microseconds; -1 before
    // the first.
    int64_t shownTime(int player_id) const;

private:
    struct Slot;

    Slot* slotFor(int player_id) const;
    void playClip(Slot* slot);
    void finish(Slot& slot);

    const int slot_count;
    const bool give_back;
    // Asked once: pictures beyond it are scaled down to fit.
    const int max_texture_side;
    bool taken[kMostSlots] = {};
    EGLDisplay display;
    // Before the slots: their pictures go first.
    DmaBufImporter importer;
    DrmPrimeImport prime_import;
    std::unique_ptr<Slot> slots[kMostSlots];
};

} // namespace Spectrafox
