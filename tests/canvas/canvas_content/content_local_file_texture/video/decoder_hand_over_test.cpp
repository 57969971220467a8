#include "canvas/canvas_content/content_local_file_texture/video/decoder_hand_over.h"

#include <gtest/gtest.h>

#include <vector>

using Spectrafox::DecoderHandOver;

namespace {

// One frame: the time, the clips on screen, and what must change.
struct Frame {
    double time;
    std::vector<int> on_screen;
    std::vector<int> started, stopped, waiting;
};

struct Case {
    const char* name;
    int decoders;
    std::vector<Frame> frames;
};

TEST(DecoderHandOverTest, GivesTakesOverAndMakesWaitAsTheCanvasesCall)
{
    const Case cases[] = {
        {"free decoders go to the clips called, in canvas order, once each",
         2,
         {{0, {5, 5, 7}, {5, 7}, {}, {}}, {1, {5, 7}, {}, {}, {}}}},
        {"all busy: the clip off screen longest loses its decoder",
         2,
         {{0, {1, 2}, {1, 2}, {}, {}},
          {1, {2}, {}, {}, {}},        // 1 leaves first
          {2, {}, {}, {}, {}},         // then 2
          {3, {3}, {3}, {1}, {}},
          {4, {3, 4}, {4}, {2}, {}}}},
        {"every holder on screen: the new clip waits, told once, and gets the next free decoder",
         1,
         {{0, {1}, {1}, {}, {}},
          {1, {1, 2}, {}, {}, {2}},
          {2, {1, 2}, {}, {}, {}},
          {3, {2}, {2}, {1}, {}}}},
        {"a clip back on screen that still holds its decoder needs no new one",
         1,
         {{0, {1}, {1}, {}, {}}, {1, {}, {}, {}, {}}, {2, {1}, {}, {}, {}}}},
        {"a waiting clip that leaves the screen stops waiting and is told again when called again",
         1,
         {{0, {1, 2}, {1}, {}, {2}}, {1, {1}, {}, {}, {}}, {2, {1, 2}, {}, {}, {2}}}},
    };
    for (const Case& c : cases) {
        double now = 0;
        DecoderHandOver policy(c.decoders, [&now] { return now; });
        for (const Frame& f : c.frames) {
            now = f.time;
            const DecoderHandOver::Changes changes = policy.update(f.on_screen);
            EXPECT_EQ(changes.started, f.started) << c.name << " at " << f.time;
            EXPECT_EQ(changes.stopped, f.stopped) << c.name << " at " << f.time;
            EXPECT_EQ(changes.waiting, f.waiting) << c.name << " at " << f.time;
        }
    }
}

TEST(DecoderHandOverTest, AReleasedDecoderGoesToTheWaitingClip)
{
    double now = 0;
    DecoderHandOver policy(1, [&now] { return now; });
    policy.update({1, 2});
    policy.release(1); // clip 1 failed to decode
    policy.release(1); // twice is harmless
    now = 1;
    // A failed clip shows its error texel: it is no video any more.
    const DecoderHandOver::Changes changes = policy.update({2});
    EXPECT_EQ(changes.started, std::vector<int>{2});
    EXPECT_TRUE(changes.stopped.empty());
    EXPECT_FALSE(policy.holds(1));
}

} // namespace
