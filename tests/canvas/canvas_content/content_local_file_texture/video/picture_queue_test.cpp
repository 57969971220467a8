// The decoder's side of a path (where to seek, where each picture lies) and
// the hand-over of due pictures to the screen.
#include "canvas/canvas_content/content_local_file_texture/video/clip_path.h"
#include "canvas/canvas_content/content_local_file_texture/video/picture_queue.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <thread>
#include <vector>

using namespace Spectrafox;

namespace {

constexpr int64_t kFrame = 40000;
// 50 pictures.
const ClipTiming kTiming{kFrame, 50 * kFrame};

int fraction(int picture) { return picture * PlaybackSteering::kWholeClip / 50; }

// Steerings are at u_us an hour from now: nothing is due when pictures are
// queued, whatever the test's own pace.
const int64_t kBase = PictureQueue::steadyNowNs() + 3600LL * 1000000000;

PlaybackSteering path(uint64_t epoch, int origin, int in, bool once, double rate = 0.0,
                      double u_pictures = 0.0)
{
    PlaybackSteering s;
    s.epoch = epoch;
    s.origin = fraction(origin);
    s.in = fraction(in);
    s.once = once;
    s.rate = rate;
    s.u_us = u_pictures * kFrame;
    s.steady_ns = kBase;
    return s;
}

// Where a seek lands for a place along the path, and where the pictures that
// follow (and those after the end of the clip) lie.
TEST(ClipPathTest, PlacesSeeksAndStampsAlongThePath)
{
    const struct {
        const char* what;
        PlaybackSteering steering;
        double u_pictures;
        int seek_to;           // picture
        double first_u;        // of the picture landed on, in pictures
        int after_wrap;        // picture the next pass starts at (-1: none)
        double after_wrap_u;
    } cases[] = {
        {"first pass from the start", path(1, 0, 0, false), 7.5, 7, 7, 0, 50},
        {"first pass from an origin", path(1, 30, 10, false), 5, 35, 5, 10, 20},
        {"a later pass starts at the in-point", path(1, 30, 10, false), 20 + 40 + 3, 13, 63, 10, 100},
        {"once past the end is the last picture", path(1, 30, 10, true), 99, 49, 19, -1, 0},
        {"before the path begins is its origin", path(1, 30, 10, false), -5, 30, 0, 10, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ClipPath clip_path;
        EXPECT_EQ(clip_path.place(c.steering, kTiming, c.u_pictures * kFrame), c.seek_to * kFrame);
        EXPECT_EQ(clip_path.epoch, c.steering.epoch);
        EXPECT_DOUBLE_EQ(clip_path.stamp(c.seek_to * kFrame), c.first_u * kFrame);
        EXPECT_DOUBLE_EQ(clip_path.nextU(kTiming), (c.first_u + 1) * kFrame);
        if (c.after_wrap < 0)
            continue;
        clip_path.stamp(49 * kFrame);
        EXPECT_EQ(clip_path.wrap(c.steering, kTiming), c.after_wrap * kFrame);
        EXPECT_DOUBLE_EQ(clip_path.stamp(c.after_wrap * kFrame), c.after_wrap_u * kFrame);
    }
    // The in-point moved while the pass ran: the next pass takes the new one.
    ClipPath moved;
    moved.place(path(1, 0, 0, false), kTiming, 0);
    moved.stamp(49 * kFrame);
    EXPECT_EQ(moved.wrap(path(1, 0, 25, false), kTiming), 25 * kFrame);
    EXPECT_DOUBLE_EQ(moved.stamp(25 * kFrame), 50.0 * kFrame);
}

DecodedPicture picture(int number)
{
    DecodedPicture frame(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
    frame->pts = number;
    return frame;
}

// Pictures at u = 0, 1, 2 (pictures) of epoch 1; what the screen takes some
// pictures' time after the steering, and what is left.
TEST(PictureQueueTest, TheScreenTakesTheNewestDuePictureAndPassedOnesGo)
{
    const struct {
        const char* what;
        PlaybackSteering steering;
        double at_pictures; // after the steering's instant, in pictures' time
        int taken;          // -1: none
        size_t left;
    } cases[] = {
        {"the first is due at once", path(1, 0, 0, false, 1.0), 0, 0, 2},
        {"between the second and third: the second", path(1, 0, 0, false, 1.0), 1.5, 1, 1},
        {"late: the newest due, none passed over left", path(1, 0, 0, false, 1.0), 9, 2, 0},
        {"paused before the first: nothing yet", path(1, 0, 0, false, 0.0, -1), 5, -1, 3},
        {"a new path: nothing of the old one", path(2, 9, 0, false, 1.0), 1, -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PictureQueue queue;
        queue.steer(path(1, 0, 0, false, 1.0));
        for (int k = 0; k < 3; ++k)
            queue.push(PictureQueue::Picture{1, k * 1.0 * kFrame, picture(k)});
        queue.steer(c.steering);
        uint64_t epoch = 0;
        const DecodedPicture due =
            queue.takeDue(kBase + static_cast<int64_t>(c.at_pictures * kFrame * 1000), &epoch);
        EXPECT_EQ(due ? due->pts : -1, c.taken);
        if (due) {
            EXPECT_EQ(epoch, 1u);
        }
        EXPECT_EQ(queue.size(), c.left);
    }
    PictureQueue queue;
    queue.steer(path(3, 0, 0, false));
    queue.push(PictureQueue::Picture{2, 0, picture(0)});
    EXPECT_EQ(queue.size(), 0u) << "a picture of a path the screen has left is not kept";
}

// The decoder waits while the screen has pictures enough (paused here) or
// rests off screen; a new path or stop() ends the wait.
TEST(PictureQueueTest, TheDecoderWaitsForRoomOrANewPathAndStopEndsEveryWait)
{
    for (bool parked : {false, true}) {
        SCOPED_TRACE(parked ? "parked" : "full");
        PictureQueue queue;
        PlaybackSteering paused = path(1, 0, 0, false);
        paused.parked = parked;
        queue.steer(paused);
        for (int k = 0; k < 3 && !parked; ++k)
            queue.push(PictureQueue::Picture{1, k * 1.0 * kFrame, picture(k)});
        PlaybackSteering seen;
        std::thread decoder([&] { seen = queue.waitForRoom(1); });
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        EXPECT_EQ(seen.epoch, 0u) << "returned while there was nothing to do";
        queue.steer(path(2, 5, 0, false));
        decoder.join();
        EXPECT_EQ(seen.epoch, 2u);
    }
    PictureQueue queue;
    queue.steer(path(1, 0, 0, false));
    std::thread held([&] { queue.waitForChange(queue.steering()); });
    queue.stop();
    held.join();
    EXPECT_TRUE(queue.stopped());
    EXPECT_EQ(queue.waitForRoom(7).epoch, 1u) << "after stop() no wait blocks";
}

} // namespace
