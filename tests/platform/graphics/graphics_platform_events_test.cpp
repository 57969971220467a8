#include "canvas/renderer.h"
#include "console_screen.h"
#include "support/eventually.h"
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

void pushKey(SDL_Keycode key, bool repeat = false)
{
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = key;
    event.key.repeat = repeat ? 1 : 0;
    SDL_PushEvent(&event);
}

void pushQuit()
{
    SDL_Event event{};
    event.type = SDL_QUIT;
    SDL_PushEvent(&event);
}

DisplayOptions tinyHeadless()
{
    DisplayOptions options = DisplayOptions::headless(32, 18);
    options.offscreen_fps_cap = 0;
    return options;
}

// The platform only reports; whoever made it decides what a quit means.
TEST(GraphicsPlatformEventsTest, WindowCloseAndKeyQAreReportedThroughTheCallback)
{
    const struct {
        const char* what;
        bool push_quit;
        SDL_Keycode key;
        int reports;
    } cases[] = {
        {"window closed", true, 0, 1},
        {"key q", false, SDLK_q, 1},
        {"key x", false, SDLK_x, 0},
    };
    for (const auto& c : cases) {
        int reports = 0;
        DisplayOptions options = tinyHeadless();
        options.on_quit_request = [&reports] { ++reports; };
        Renderer renderer(options);
        if (c.push_quit)
            pushQuit();
        else
            pushKey(c.key);
        renderer.drawCanvases({});
        EXPECT_EQ(reports, c.reports) << c.what;
    }
}

TEST(GraphicsPlatformEventsTest, WithoutACallbackAQuitEventIsDropped)
{
    Renderer renderer(tinyHeadless());
    pushQuit();
    pushKey(SDLK_q);
    renderer.drawCanvases({});
    renderer.drawCanvases({});
}

// The program's wiring: the window's quit ends the run like the console's q.
TEST(GraphicsPlatformEventsTest, WiredToTheConsoleAWindowCloseQuitsTheRun)
{
    ConsoleScreen console(true);
    DisplayOptions options = tinyHeadless();
    options.on_quit_request = &ConsoleScreen::requestQuit;
    Renderer renderer(options);
    ASSERT_FALSE(console.isQuit());
    pushQuit();
    renderer.drawCanvases({});
    EXPECT_TRUE(console.isQuit());
}

// Snapshots are written on a thread of their own: the files come a little
// after the frame, and all of them by the time the renderer is gone.
TEST(GraphicsPlatformEventsTest, SnapshotsAfterFrameNAndOnKeySOnceForAHeldKey)
{
    TempDir dir;
    ScopedChdir inside(dir.path());
    DisplayOptions options = DisplayOptions::headless(32, 18);
    options.offscreen_fps_cap = 0;
    options.snapshot_frame = 2;
    options.snapshot_path = "frame.png";
    {
        Renderer renderer(options);
        renderer.drawCanvases({});
        renderer.drawCanvases({});
        EXPECT_TRUE(eventually([] { return exists("frame.png"); }));

        pushKey(SDLK_s);
        renderer.drawCanvases({}); // frame 3 sees the key at its end
        renderer.drawCanvases({}); // frame 4 is written
        EXPECT_TRUE(eventually([] { return exists("frame-000004.png"); }));
        // The key held down: repeats, one per frame, ask for nothing more.
        for (int frame = 5; frame <= 8; ++frame) {
            pushKey(SDLK_s, true);
            renderer.drawCanvases({});
        }
    }
    EXPECT_FALSE(exists("frame-000003.png"));
    for (int frame = 5; frame <= 9; ++frame)
        EXPECT_FALSE(exists("frame-00000" + std::to_string(frame) + ".png")) << frame;
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
