// The preview is the screen scaled down, the right way up, and made only
// while a page asks for it.
#include <gtest/gtest.h>

#include <GLES2/gl2.h>

#include <array>

#include "status/preview_grabber.h"
#include "support/gl_fixture.h"

using namespace Spectrafox;
using Spectrafox::Test::HeadlessRenderer;

namespace {

// Top quarter red, the rest blue; left tenth green over both.
void paintScreen(int width, int height)
{
    ::glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, width, height);
    glClearColor(0, 0, 1, 1);
    ::glClear(GL_COLOR_BUFFER_BIT);
    glScissor(0, height * 3 / 4, width, height / 4); // GL's y grows upward
    glClearColor(1, 0, 0, 1);
    ::glClear(GL_COLOR_BUFFER_BIT);
    glScissor(0, 0, width / 10, height);
    glClearColor(0, 1, 0, 1);
    ::glClear(GL_COLOR_BUFFER_BIT);
    ::glDisable(GL_SCISSOR_TEST);
}

void runFrames(PreviewGrabber& grabber, int frames, int width, int height)
{
    for (int i = 0; i < frames; ++i)
        grabber.beforeSwap(width, height);
}

TEST(PreviewGrabber, ScalesTheScreenDownTheRightWayUpOnlyWhileWatched)
{
    HeadlessRenderer gl(640, 360);
    paintScreen(640, 360);
    StatusBoard board;
    PreviewGrabber grabber(board);

    runFrames(grabber, 3 * PreviewGrabber::kCycleFrames, 640, 360);
    EXPECT_EQ(board.preview(), nullptr) << "read back with no page watching";

    board.previewAsked();
    runFrames(grabber, PreviewGrabber::kCycleFrames + PreviewGrabber::kBands, 640, 360);
    const auto picture = board.preview();
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(picture->width, 320);
    ASSERT_EQ(picture->height, 180);
    const auto at = [&](int x, int y) {
        const unsigned char* p = &picture->rgb[(static_cast<size_t>(y) * picture->width + x) * 3];
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    const struct {
        int x, y;
        std::array<int, 3> rgb;
    } expected[] = {
        {160, 2, {255, 0, 0}},   // top: red
        {160, 44, {255, 0, 0}},  // last row of the top quarter
        {160, 46, {0, 0, 255}},  // below it: blue
        {160, 179, {0, 0, 255}}, // bottom row
        {2, 100, {0, 255, 0}},   // left edge
        {319, 100, {0, 0, 255}}, // right edge
    };
    for (const auto& e : expected)
        EXPECT_EQ(at(e.x, e.y), e.rgb) << "at " << e.x << "," << e.y;
}

} // namespace
