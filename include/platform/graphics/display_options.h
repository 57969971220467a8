#pragma once

#include <functional>
#include <string>

namespace Spectrafox {

// How the display is opened. The defaults pick the output automatically: a
// full-screen window when a display server is reachable, else KMS/DRM; no
// display is a failure. Offscreen rendering only when headless is asked for.
struct DisplayOptions {
    static constexpr int kDefaultHeadlessWidth = 1920;
    static constexpr int kDefaultHeadlessHeight = 1080;
    static constexpr int kDefaultOffscreenFpsCap = 60;
    static constexpr int kMaxSize = 16384;

    // Both above 0: render offscreen at this size, even if a display exists.
    int headless_width = 0;
    int headless_height = 0;
    // Both above 0: a desktop window of this size instead of full screen.
    int window_width = 0;
    int window_height = 0;
    // Above 0: write the frame with this number (counted from 1) to snapshot_path.
    int snapshot_frame = 0;
    std::string snapshot_path = "snapshot.png";
    // Above 0: after every multiple of this many milliseconds of the system
    // clock, write the next frame to the snapshot file numbered with that
    // multiple. Nodes on one host (or on hosts whose clocks agree) thus
    // sample the same instants and can be compared frame for frame.
    int snapshot_every_ms = 0;
    // Offscreen there is no vertical sync; this keeps a headless run off the
    // CPU. 0 lifts the cap (benchmarks).
    int offscreen_fps_cap = kDefaultOffscreenFpsCap;
    // Called on the main thread when the window is closed or the key q is
    // pressed in it; without it those events are ignored.
    std::function<void()> on_quit_request;
    // Polled once per frame on the main thread: true asks for a snapshot of
    // this frame to the numbered snapshot file, as the window's key s does.
    std::function<bool()> snapshot_request;
    // Called on the main thread when the key t is pressed in the window.
    std::function<void()> on_test_pattern_key;
    // Called on the main thread with the finished frame still in the back
    // buffer, just before each swap (the status page's preview).
    std::function<void(int width, int height)> before_swap;

    static DisplayOptions headless(int width, int height);
    bool forcesHeadless() const { return headless_width > 0 && headless_height > 0; }
    bool wantsWindow() const { return window_width > 0 && window_height > 0; }

    enum class Parse { NotOurs, Applied, Malformed };
    // Applies one command-line argument such as "--headless=1920x1080".
    Parse applyArgument(const char* argument);
    // The accepted switches, one per line, for error messages.
    static const char* usage();
};

} // namespace Spectrafox
