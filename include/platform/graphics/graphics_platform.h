#pragma once

#include "platform/graphics/display_options.h"
#include "platform/graphics/snapshot_writer.h"

#include <EGL/egl.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

struct SDL_Window;

namespace Spectrafox {

// The display set-up steps whose failure ends the program.
enum class DisplaySetupStep {
    StartHost,
    GetDisplaySize,
    GetDisplay,
    Initialize,
    ChooseConfig,
    CreateContext,
    CreateSurface,
    MakeCurrent,
};

struct DisplaySetupFailure {
    DisplaySetupStep step = DisplaySetupStep::StartHost;
    std::string detail; // what the video layer said
    std::string hint;   // one line: what was tried, what to install
};

// The display behind the renderer: SDL2's video subsystem with EGL and
// OpenGL ES 2.0. It picks the output (display server, KMS/DRM or offscreen),
// owns the window, and hands out the real EGL display, surface and context.
// Everything here runs on the main thread.
class GraphicsPlatform {
public:
    explicit GraphicsPlatform(const DisplayOptions& options);
    ~GraphicsPlatform();
    GraphicsPlatform(const GraphicsPlatform&) = delete;
    GraphicsPlatform& operator=(const GraphicsPlatform&) = delete;

    // Starts the first video driver that works: x11 (with DISPLAY set),
    // wayland, kmsdrm; offscreen only, and only it, when headless is forced.
    // The environment's SDL_VIDEODRIVER is overridden. On failure the hint
    // says, driver by driver, what was tried and why it failed.
    bool startHost(DisplaySetupFailure* failure);
    // 0 on success with the output size in pixels, negative when unknown.
    int getDisplaySize(uint32_t* width, uint32_t* height);
    // Creates the one full-screen surface and a current OpenGL ES 2.0 context
    // matching attribute_list (EGL_NONE-terminated pairs; colour and depth
    // sizes are honoured, the surface type follows the output).
    bool createEglObjects(const EGLint* attribute_list, EGLDisplay* display, EGLSurface* surface,
                          EGLContext* context, DisplaySetupFailure* failure);
    // Ends a frame: a due snapshot, the buffer swap (vsync on a display, the
    // frame-rate cap offscreen), then the window events.
    void presentFrame();
    // Releases, in this order: current binding, surface, context, display.
    void releaseEgl();

    // A failure record for `step`, with the hint line filled in.
    DisplaySetupFailure failureAt(DisplaySetupStep step, const std::string& detail) const;
    const std::string& driverName() const { return driver; }
    bool isOffscreen() const { return driver == "offscreen"; }
    long framesPresented() const { return frames; }

private:
    bool tryDriver(const char* name, std::string* tried);
    void applyConfigAttributes(const EGLint* attribute_list);
    bool createWindow(DisplaySetupFailure* failure);
    bool createContext(DisplaySetupFailure* failure);
    bool fetchCurrentHandles(EGLDisplay* display, EGLSurface* surface, EGLContext* context,
                             DisplaySetupFailure* failure);
    void fail(DisplaySetupFailure* failure, DisplaySetupStep step, const std::string& detail) const;
    void writeDueSnapshots();
    bool timedSnapshotDue(long long* interval);
    void queueSnapshot(const std::string& path);
    void paceOffscreen();
    void pumpEvents();
    void askToQuit() const;

    DisplayOptions options;
    std::string driver;
    bool video_started = false;
    bool library_loaded = false;
    SDL_Window* window = nullptr;
    void* gl_context = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    long frames = 0;
    bool snapshot_requested = false;
    // The system-clock interval of the last timed snapshot (--snapshot-every).
    long long snapshot_interval = -1;
    // Made at the first snapshot: most runs never take one.
    std::unique_ptr<SnapshotWriter> snapshots;
    std::chrono::steady_clock::time_point next_frame_due{};
};

} // namespace Spectrafox
