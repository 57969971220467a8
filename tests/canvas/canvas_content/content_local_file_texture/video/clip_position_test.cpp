// Where a clip should be: the desk's channels and the time source, frame by
// frame, into a path and a place along it.
#include "canvas/canvas_content/content_local_file_texture/video/clip_position.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Spectrafox;

namespace {

using Channels = ClipPosition::Channels;

constexpr int kLoop = 0, kOnce = 40, kPause = 70, kScrub = 100;

// Under a show time, which comes round to 0 after a day.
ClipPosition::Now at(double source, double steady)
{
    return ClipPosition::Now{source, static_cast<int64_t>(steady * 1e9), 86400.0};
}

TEST(ClipPositionTest, ChannelsMeanModesAndSpeeds)
{
    const struct {
        int value;
        ClipPosition::Mode mode;
    } modes[] = {{0, ClipPosition::Mode::Loop},    {31, ClipPosition::Mode::Loop},
                 {32, ClipPosition::Mode::Once},   {63, ClipPosition::Mode::Once},
                 {64, ClipPosition::Mode::Pause},  {95, ClipPosition::Mode::Pause},
                 {96, ClipPosition::Mode::Scrub},  {127, ClipPosition::Mode::Scrub},
                 {128, ClipPosition::Mode::Loop},  {255, ClipPosition::Mode::Loop}};
    for (const auto& m : modes)
        EXPECT_EQ(ClipPosition::modeOf(m.value), m.mode) << m.value;
    EXPECT_EQ(ClipPosition::speedOf(0), 1.0);
    EXPECT_EQ(ClipPosition::speedOf(1), 1.0 / 128);
    EXPECT_EQ(ClipPosition::speedOf(128), 1.0);
    EXPECT_EQ(ClipPosition::speedOf(255), 255.0 / 128);
}

// One story per row: what happens, frame after frame, and where the clip is
// after each step (u in seconds along its path; a new epoch where the path
// starts afresh).
TEST(ClipPositionTest, FollowsTheDeskAndTheTimeSource)
{
    enum class Do { StartAt0, Cue, Update, Park };
    struct Step {
        Do what;
        Channels channels;
        double source, steady;
        double u;
        double rate;
        bool new_epoch;
        int origin, in;
        bool once;
    };
    struct Story {
        const char* what;
        std::vector<Step> steps;
    };
    const Story stories[] = {
        {"under a show time a clip loaded at start-up is at the show time",
         {{Do::StartAt0, {}, 3600, 5, 3600, 1, true, 0, 0, false},
          {Do::Update, {}, 3601, 6, 3601, 1, false, 0, 0, false}}},
        {"a new speed goes on from where the clip is",
         {{Do::Cue, {kLoop, 0, 0}, 10, 10, 0, 1, true, 0, 0, false},
          {Do::Update, {kLoop, 0, 0}, 12, 12, 2, 1, false, 0, 0, false},
          {Do::Update, {kLoop, 64, 0}, 12, 12, 2, 0.5, false, 0, 0, false},
          {Do::Update, {kLoop, 64, 0}, 14, 14, 3, 0.5, false, 0, 0, false}}},
        {"pause holds, play goes on, without a new path",
         {{Do::Cue, {kLoop, 0, 0}, 0, 0, 0, 1, true, 0, 0, false},
          {Do::Update, {kPause, 0, 0}, 1, 1, 1, 0, false, 0, 0, false},
          {Do::Update, {kPause, 0, 0}, 5, 5, 1, 0, false, 0, 0, false},
          {Do::Update, {kLoop, 0, 0}, 6, 6, 1, 1, false, 0, 0, false},
          {Do::Update, {kLoop, 0, 0}, 7, 7, 2, 1, false, 0, 0, false}}},
        {"each new scrub position is a new path; play goes on from there",
         {{Do::Cue, {kLoop, 0, 0}, 0, 0, 0, 1, true, 0, 0, false},
          {Do::Update, {kScrub, 0, 30000}, 1, 1, 0, 0, true, 30000, 0, false},
          {Do::Update, {kScrub, 0, 30000}, 2, 2, 0, 0, false, 30000, 0, false},
          {Do::Update, {kScrub, 0, 31000}, 3, 3, 0, 0, true, 31000, 0, false},
          {Do::Update, {kLoop, 0, 31000}, 4, 4, 0, 1, false, 31000, 31000, false},
          {Do::Update, {kLoop, 0, 31000}, 5, 5, 1, 1, false, 31000, 31000, false}}},
        {"a call starts at the in-point; in-point and once change the path's end only",
         {{Do::Cue, {kLoop, 0, 20000}, 0, 0, 0, 1, true, 20000, 20000, false},
          {Do::Update, {kLoop, 0, 9000}, 1, 1, 1, 1, false, 20000, 9000, false},
          {Do::Update, {kOnce, 0, 9000}, 2, 2, 2, 1, false, 20000, 9000, true}}},
        {"a call while scrubbing shows the position, held",
         {{Do::Cue, {kScrub, 0, 5000}, 0, 0, 0, 0, true, 5000, 5000, false},
          {Do::Update, {kScrub, 0, 5000}, 3, 3, 0, 0, false, 5000, 5000, false}}},
        {"the show time jumped: the same path, looked for anew; a slew is no jump",
         {{Do::StartAt0, {}, 100, 0, 100, 1, true, 0, 0, false},
          {Do::Update, {}, 101.1, 1, 101.1, 1, false, 0, 0, false},
          {Do::Update, {}, 160, 2, 160, 1, true, 0, 0, false},
          {Do::Update, {}, 20, 3, 20, 1, true, 0, 0, false}}},
        {"a jump back before the call shows the in-point; paused, a jump moves nothing",
         {{Do::Cue, {kLoop, 0, 0}, 50, 0, 0, 1, true, 0, 0, false},
          {Do::Update, {kLoop, 0, 0}, 40, 1, 0, 1, true, 0, 0, false},
          {Do::Update, {kPause, 0, 0}, 41, 2, 0, 0, false, 0, 0, false},
          {Do::Update, {kPause, 0, 0}, 90, 3, 0, 0, false, 0, 0, false}}},
        {"past the show time's midnight a call goes on, without a new path",
         {{Do::Cue, {kLoop, 0, 0}, 86390, 0, 0, 1, true, 0, 0, false},
          {Do::Update, {kLoop, 0, 0}, 86399.5, 9.5, 9.5, 1, false, 0, 0, false},
          {Do::Update, {kLoop, 0, 0}, 1, 11, 11, 1, false, 0, 0, false},
          {Do::Update, {kLoop, 0, 0}, 100, 110, 110, 1, false, 0, 0, false}}},
        {"a clip loaded at start-up comes round with the show time, as on a node started later",
         {{Do::StartAt0, {}, 86399.5, 0, 86399.5, 1, true, 0, 0, false},
          {Do::Update, {}, 1, 1.5, 1, 1, true, 0, 0, false}}},
        {"off screen the decoder rests until the next call",
         {{Do::Cue, {kLoop, 0, 0}, 0, 0, 0, 1, true, 0, 0, false},
          {Do::Park, {}, 1, 1, 0, 1, false, 0, 0, false},
          {Do::Cue, {kLoop, 0, 0}, 9, 9, 0, 1, true, 0, 0, false}}},
    };
    for (const Story& story : stories) {
        SCOPED_TRACE(story.what);
        ClipPosition position;
        uint64_t epoch = position.steering().epoch;
        for (size_t i = 0; i < story.steps.size(); ++i) {
            SCOPED_TRACE(i);
            const Step& step = story.steps[i];
            const ClipPosition::Now now = at(step.source, step.steady);
            switch (step.what) {
            case Do::StartAt0: position.startAt(0.0, now); break;
            case Do::Cue: position.cue(step.channels, now); break;
            case Do::Update: position.update(step.channels, now); break;
            case Do::Park: position.park(); break;
            }
            const PlaybackSteering& s = position.steering();
            EXPECT_EQ(s.parked, step.what == Do::Park);
            if (step.what != Do::Park) {
                EXPECT_NEAR(s.u_us, step.u * 1e6, 1.0);
                EXPECT_EQ(s.steady_ns, now.steady_ns);
            }
            EXPECT_DOUBLE_EQ(s.rate, step.rate);
            EXPECT_EQ(s.epoch != epoch, step.new_epoch);
            EXPECT_EQ(s.origin, step.origin);
            EXPECT_EQ(s.in, step.in);
            EXPECT_EQ(s.once, step.once);
            epoch = s.epoch;
        }
    }
}

} // namespace
