#include "canvas/renderer.h"

#include <gtest/gtest.h>

#include <chrono>

#include "canvas/canvas.h"
#include "support/gl_fixture.h"
#include "support/h264_clip.h"
#include "support/temp_dir.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;

namespace {

// A clip called onto a canvas shows its first frame on that very frame, and
// again when it is called back after playing on.
TEST(VideoSlotsOnCue, ACalledClipShowsItsFirstFrameAtOnceAndAfterEveryCall)
{
    TempDir dir;
    dir.write("textures/notes.txt", ""); // makes the folder
    const std::vector<ClipSegment> red_then_green = {{255, 0, 0, 5}, {0, 255, 0, 100}};
    ASSERT_TRUE(makeH264Clip(dir.file("textures/000.h264"), 64, 48, 25, red_then_green));
    ASSERT_TRUE(makeH264Clip(dir.file("textures/001.h264"), 64, 48, 25, {{0, 0, 255, 10}}));
    ScopedChdir in_dir(dir.path());
    DisplayOptions display = DisplayOptions::headless(64, 36);
    display.offscreen_fps_cap = 0;
    ContentOptions content;
    content.video.on_cue = true;
    content.video.decoders = 2; // clip 0 keeps its decoder while clip 1 shows
    Renderer renderer(display, content);
    Canvas canvas("CONTENT_TEXTURE_256");
    auto colourOf = [&](int clip) {
        canvas.setContentData(clip);
        renderer.drawCanvases({&canvas});
        const Rgba seen = readPixelAt(32, 30, 36); // below the white band
        return Rgb{seen.r, seen.g, seen.b};
    };
    const Rgb red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255};
    EXPECT_TRUE(closeColour(colourOf(0), red)) << "first picture on the first frame";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    bool played_on = false;
    while (!played_on && std::chrono::steady_clock::now() < deadline)
        played_on = closeColour(colourOf(0), green);
    ASSERT_TRUE(played_on) << "the clip never moved on";
    EXPECT_TRUE(closeColour(colourOf(1), blue));
    EXPECT_TRUE(closeColour(colourOf(0), red)) << "called again: back to its first frame";
}

} // namespace
