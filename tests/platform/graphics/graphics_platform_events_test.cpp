#include "canvas/renderer.h"
#include "console_screen.h"
#include "support/gl_fixture.h"
#include "support/temp_dir.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

using namespace Spectrafox;
using namespace Spectrafox::Test;

namespace {

bool exists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

void pushKey(SDL_Keycode key)
{
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = key;
    SDL_PushEvent(&event);
}

TEST(GraphicsPlatformEventsTest, WindowCloseAndKeyQQuitLikeTheConsole)
{
    const struct {
        const char* what;
        bool push_quit;
        SDL_Keycode key;
        bool quits;
    } cases[] = {
        {"window closed", true, 0, true},
        {"key q", false, SDLK_q, true},
        {"key x", false, SDLK_x, false},
    };
    for (const auto& c : cases) {
        ConsoleScreen console(true);
        HeadlessRenderer gl(32, 18);
        ASSERT_FALSE(console.isQuit());
        if (c.push_quit) {
            SDL_Event event{};
            event.type = SDL_QUIT;
            SDL_PushEvent(&event);
        } else {
            pushKey(c.key);
        }
        gl.renderer().drawCanvases({});
        EXPECT_EQ(console.isQuit(), c.quits) << c.what;
    }
}

TEST(GraphicsPlatformEventsTest, SnapshotsAfterFrameNAndOnKeyS)
{
    TempDir dir;
    ScopedChdir inside(dir.path());
    DisplayOptions options = DisplayOptions::headless(32, 18);
    options.offscreen_fps_cap = 0;
    options.snapshot_frame = 2;
    options.snapshot_path = "frame.png";
    Renderer renderer(options);

    renderer.drawCanvases({});
    EXPECT_FALSE(exists("frame.png"));
    renderer.drawCanvases({});
    EXPECT_TRUE(exists("frame.png"));
    EXPECT_FALSE(exists("frame.png.part"));

    pushKey(SDLK_s);
    renderer.drawCanvases({}); // frame 3 sees the key at its end
    EXPECT_FALSE(exists("frame-000003.png"));
    renderer.drawCanvases({}); // frame 4 is written
    EXPECT_TRUE(exists("frame-000004.png"));
}

// A lower bound only: sleeping can take longer, never shorter.
TEST(GraphicsPlatformEventsTest, OffscreenFrameRateCapHoldsFramesBack)
{
    DisplayOptions options = DisplayOptions::headless(32, 18);
    options.offscreen_fps_cap = 50;
    Renderer renderer(options);
    renderer.drawCanvases({});
    const auto start = std::chrono::steady_clock::now();
    for (int frame = 0; frame < 5; ++frame)
        renderer.drawCanvases({});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(5 * 20 - 5));
}

} // namespace
