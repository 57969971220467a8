#include "canvas/canvas_content/content_local_file_texture/video_player.h"

#include "canvas/canvas_content/content_local_file_texture/video/clip_path.h"
#include "platform/fixed_function/texture_limit.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <algorithm>
#include <utility>

namespace Spectrafox {

struct VideoPlayer::Slot {
    explicit Slot(DrmPrimeImport& prime_import) : sets(prime_import) {}

    int number = 0;
    std::string filename;
    int expected_decoders = 3;
    bool keep_prime_frames = false;
    std::thread thread;
    std::atomic<bool> keep_playing{true};
    std::atomic<bool> failed{false};
    std::atomic<long> pictures{0};
    std::atomic<int64_t> frame_us{0};
    std::atomic<int64_t> duration_us{0};
    PictureQueue queue;
    // Render thread only.
    uint64_t steered_epoch = 0;
    VideoPictureSets sets;
    uint64_t shown_epoch = 0;
    int64_t shown_pts = -1;
    bool finished = false;
};

namespace {

void sleepUnlessStopped(std::chrono::milliseconds pause, const std::atomic<bool>& keep_playing)
{
    const auto until = std::chrono::steady_clock::now() + pause;
    while (keep_playing.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// A clip that played and then reads nothing was truncated, is being copied
// over, or its medium failed: it is opened again, less and less often (at
// least once a second), until it opens or the slot is stopped. The last
// picture stays on screen meanwhile.
bool reopen(ClipDecoder& decoder, const std::string& filename, const ClipDecoder::Options& options,
            const std::atomic<bool>& keep_playing)
{
    std::chrono::milliseconds pause = VideoPlayer::kFirstReopenPause;
    while (keep_playing.load()) {
        sleepUnlessStopped(pause, keep_playing);
        if (keep_playing.load() && decoder.open(filename, options))
            return true;
        pause = std::min(pause * 2, VideoPlayer::kLongestReopenPause);
    }
    return false;
}

// Further behind its steering than a seek costs: the decoder looks for the
// clip where it is now.
bool fallenBehind(const ClipPath& path, const PlaybackSteering& steering, const ClipTiming& timing,
                  double u_now)
{
    const double next = path.nextU(timing);
    return steering.rate > 0.0 && next >= 0.0 && u_now - next > VideoPlayer::kLongestCatchUpUs;
}

} // namespace

VideoPlayer::VideoPlayer(EGLDisplay* d, EGLSurface*, EGLContext*, int slots_wanted,
                         bool give_back_stopped, DrmPrimeImport::Notice notice)
    : slot_count(std::clamp(slots_wanted, 1, kMostSlots)), give_back(give_back_stopped),
      max_texture_side(TextureLimit::gpuSide()), display(*d), importer(display),
      prime_import(&importer, std::move(notice))
{
}

VideoPlayer::~VideoPlayer()
{
    sendStopSignal();
    for (std::unique_ptr<Slot>& slot : slots)
        if (slot)
            finish(*slot);
}

int VideoPlayer::startFreePlayer(const std::string& filename, const PlaybackSteering& steering)
{
    int index = 0;
    while (index < slot_count && taken[index])
        ++index;
    if (index == slot_count)
        return 0;
    taken[index] = true;
    slots[index] = std::make_unique<Slot>(prime_import);
    Slot& slot = *slots[index];
    slot.number = index + 1;
    slot.filename = filename;
    slot.expected_decoders = slot_count;
    slot.keep_prime_frames = prime_import.wanted();
    slot.steered_epoch = steering.epoch;
    slot.queue.steer(steering);
    slot.thread = std::thread(&VideoPlayer::playClip, this, &slot);
    return slot.number;
}

VideoPlayer::Slot* VideoPlayer::slotFor(int player_id) const
{
    if (player_id < 1 || player_id > slot_count)
        return nullptr;
    return slots[player_id - 1].get();
}

// Render thread: the thread has ended, nothing is decoded for the slot any
// more, and its pictures go.
void VideoPlayer::finish(Slot& slot)
{
    if (slot.finished)
        return;
    slot.keep_playing.store(false);
    slot.queue.stop();
    if (slot.thread.joinable())
        slot.thread.join();
    slot.sets.release();
    slot.finished = true;
}

void VideoPlayer::stopPlayer(int player_id)
{
    Slot* slot = slotFor(player_id);
    if (slot == nullptr)
        return;
    finish(*slot);
    if (give_back) {
        slots[player_id - 1].reset();
        taken[player_id - 1] = false;
    }
}

void VideoPlayer::releasePlayer(int player_id)
{
    Slot* slot = slotFor(player_id);
    if (slot == nullptr)
        return;
    finish(*slot);
    slots[player_id - 1].reset();
    taken[player_id - 1] = false;
}

void VideoPlayer::sendStopSignal()
{
    for (std::unique_ptr<Slot>& slot : slots) {
        if (!slot)
            continue;
        slot->keep_playing.store(false);
        slot->queue.stop();
    }
}

void VideoPlayer::steer(int player_id, const PlaybackSteering& steering)
{
    Slot* slot = slotFor(player_id);
    if (slot == nullptr)
        return;
    slot->steered_epoch = steering.epoch;
    slot->queue.steer(steering);
}

VideoPlayer::Shown VideoPlayer::bindDue(int player_id)
{
    Slot* slot = slotFor(player_id);
    if (slot == nullptr)
        return Shown::Nothing;
    uint64_t epoch = 0;
    const DecodedPicture due = slot->queue.takeDue(PictureQueue::steadyNowNs(), &epoch);
    if (due && slot->sets.show(due, max_texture_side)) {
        slot->shown_epoch = epoch;
        slot->shown_pts = due->pts;
        slot->pictures.fetch_add(1, std::memory_order_relaxed);
    }
    if (!slot->sets.showsAny())
        return Shown::Nothing;
    slot->sets.bind();
    return slot->shown_epoch == slot->steered_epoch ? Shown::Current : Shown::Earlier;
}

long VideoPlayer::getPictureCount(int player_id) const
{
    const Slot* slot = slotFor(player_id);
    return slot != nullptr ? slot->pictures.load(std::memory_order_relaxed) : 0;
}

bool VideoPlayer::playbackFailed(int player_id) const
{
    const Slot* slot = slotFor(player_id);
    return slot != nullptr && slot->failed.load();
}

ClipTiming VideoPlayer::timing(int player_id) const
{
    ClipTiming timing;
    timing.frame_us = 0;
    const Slot* slot = slotFor(player_id);
    if (slot != nullptr && slot->frame_us.load() > 0) {
        timing.frame_us = slot->frame_us.load();
        timing.duration_us = slot->duration_us.load();
    }
    return timing;
}

int64_t VideoPlayer::shownTime(int player_id) const
{
    const Slot* slot = slotFor(player_id);
    return slot != nullptr && slot->sets.showsAny() ? slot->shown_pts : -1;
}

// The decode thread: keeps the pictures of the steering's path decoded a few
// ahead, landing on the right picture whenever the path starts afresh, and
// loops, holds or reopens the file at the end of the clip.
void VideoPlayer::playClip(Slot* slot)
{
    const std::atomic<bool>& keep = slot->keep_playing;
    const ClipDecoder::Options options{slot->expected_decoders, slot->keep_prime_frames, &keep};
    ClipDecoder decoder;
    auto publishTiming = [&] {
        slot->frame_us.store(decoder.timing().frame_us);
        slot->duration_us.store(decoder.timing().duration_us);
    };
    if (!decoder.open(slot->filename, options)) {
        slot->failed.store(keep.load());
        return;
    }
    publishTiming();
    ClipPath path;
    bool gave_pictures = false;
    // A pass through the clip that gave no picture: the file reads nothing
    // any more (emptied and removed, a pulled stick), so wrapping again
    // would only spin.
    bool picture_since_end = true;
    while (keep.load()) {
        PlaybackSteering steering = slot->queue.waitForRoom(path.epoch);
        if (!keep.load() || slot->queue.stopped())
            break;
        const ClipTiming timing = decoder.timing();
        const double u_now = steering.uAt(PictureQueue::steadyNowNs());
        if (steering.epoch != path.epoch || fallenBehind(path, steering, timing, u_now))
            decoder.seek(path.place(steering, timing, u_now));
        if (path.holding) {
            steering = slot->queue.waitForChange(steering);
            if (steering.epoch == path.epoch && !steering.once)
                decoder.seek(path.resume(steering, timing, steering.uAt(PictureQueue::steadyNowNs())));
            continue;
        }
        DecodedPicture picture;
        switch (decoder.next(&picture)) {
        case ClipDecoder::Step::Picture:
            gave_pictures = picture_since_end = true;
            slot->queue.push(PictureQueue::Picture{path.epoch, path.stamp(picture->pts), picture});
            break;
        case ClipDecoder::Step::End:
            if (decoder.changedOnDisk() || !picture_since_end) {
                if (!reopen(decoder, slot->filename, options, keep))
                    return;
                publishTiming();
                path.epoch = 0; // found anew in the new file
                picture_since_end = true;
            } else if (steering.once) {
                path.holding = true;
            } else {
                decoder.seek(path.wrap(steering, timing));
                picture_since_end = false;
            }
            break;
        case ClipDecoder::Step::Failed:
            // Nothing was ever shown and nobody asked to stop: the stream is
            // no use. Set last, so that whoever reacts finds the thread done.
            if (!gave_pictures) {
                decoder.close();
                slot->failed.store(keep.load());
                return;
            }
            if (!reopen(decoder, slot->filename, options, keep))
                return;
            publishTiming();
            path.epoch = 0;
            break;
        case ClipDecoder::Step::Stopped:
            return;
        }
    }
}

} // namespace Spectrafox
