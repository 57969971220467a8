#include "platform/graphics/graphics_platform.h"

#include "platform/fixed_function/fixed_function_pipeline.h"
#include "platform/graphics/drm_diagnosis.h"
#include "platform/graphics/frame_snapshot.h"

#include <GLES2/gl2.h>
#include <SDL2/SDL.h>
#include <dlfcn.h>
#include <link.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace Spectrafox {

namespace {

// Offscreen only on request: a projector left black behind a healthy-looking
// console is worse than a failure a service manager restarts.
constexpr const char* kDisplayDrivers[] = {"x11", "wayland", "kmsdrm"};
constexpr const char* kHeadlessDrivers[] = {"offscreen"};

// What a failed EGL step means, in the user's words.
std::string causeOf(DisplaySetupStep step)
{
    switch (step) {
    case DisplaySetupStep::GetDisplay:
    case DisplaySetupStep::Initialize: return "EGL could not open the display";
    case DisplaySetupStep::ChooseConfig:
        return "the GL driver offers no OpenGL ES 2.0 configuration with the colour and depth "
               "sizes asked for";
    case DisplaySetupStep::CreateContext:
    case DisplaySetupStep::MakeCurrent:
        return "the GL driver refused an OpenGL ES 2.0 context, or could not build the drawing "
               "shaders in it";
    case DisplaySetupStep::CreateSurface: return "the GL driver could not create the surface";
    default: return "the display could not be set up";
    }
}

bool mentions(const std::string& text, const char* word)
{
    return text.find(word) != std::string::npos;
}

// SDL's names for the EGL colour and depth sizes; other attributes are
// decided by the output (window or pbuffer surface).
SDL_GLattr sdlAttributeFor(EGLint egl_attribute, bool* known)
{
    *known = true;
    switch (egl_attribute) {
    case EGL_RED_SIZE: return SDL_GL_RED_SIZE;
    case EGL_GREEN_SIZE: return SDL_GL_GREEN_SIZE;
    case EGL_BLUE_SIZE: return SDL_GL_BLUE_SIZE;
    case EGL_ALPHA_SIZE: return SDL_GL_ALPHA_SIZE;
    case EGL_DEPTH_SIZE: return SDL_GL_DEPTH_SIZE;
    default: *known = false; return SDL_GL_RED_SIZE;
    }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Mesa unloads its driver when the EGL display is terminated; the leak
// checker could then no longer name the library that leaked, and the
// suppressions for the graphics stack would not apply. Sanitizer builds keep
// the driver libraries mapped for the life of the process.
int pinGraphicsLibrary(dl_phdr_info* info, size_t, void*)
{
    static const char* const kLibraries[] = {"_dri.so", "libgallium", "libLLVM", "libEGL_mesa",
                                             "libglapi"};
    for (const char* library : kLibraries)
        if (info->dlpi_name && std::strstr(info->dlpi_name, library))
            dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    return 0;
}

void keepGraphicsLibrariesForSanitizers()
{
    dl_iterate_phdr(&pinGraphicsLibrary, nullptr);
}
#else
void keepGraphicsLibrariesForSanitizers() {}
#endif

// A desktop driver is only worth a try when the environment names a desktop
// to connect to; a Wayland client without a runtime directory also prints a
// confusing error of its own.
bool worthTrying(const char* driver_name)
{
    if (std::strcmp(driver_name, "x11") == 0)
        return std::getenv("DISPLAY") != nullptr;
    if (std::strcmp(driver_name, "wayland") == 0)
        return std::getenv("XDG_RUNTIME_DIR") != nullptr;
    return true;
}

// Why a driver failed, in the words of someone setting up a show.
std::string explainFailure(const char* driver_name, const std::string& error)
{
    if (std::strcmp(driver_name, "x11") == 0)
        return "x11: no X11 desktop on DISPLAY=" + std::string(std::getenv("DISPLAY")) + " (" +
               error + ")";
    if (std::strcmp(driver_name, "wayland") == 0)
        return "wayland: no Wayland desktop reachable (" + error + ")";
    if (std::strcmp(driver_name, "kmsdrm") == 0) {
        std::string text = "kmsdrm (" + error + "):";
        for (const std::string& line : DrmDiagnosis::explain())
            text += "\n    " + line;
        return text;
    }
    return std::string(driver_name) + ": " + error;
}

} // namespace

GraphicsPlatform::GraphicsPlatform(const DisplayOptions& display_options)
    : options(display_options)
{
}

GraphicsPlatform::~GraphicsPlatform()
{
    releaseEgl();
    if (video_started)
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool GraphicsPlatform::startHost(DisplaySetupFailure* failure)
{
    // The console screen owns SIGINT and SIGTERM; a projector must not
    // blank because the session thinks it is idle.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_VIDEO_X11_FORCE_EGL, "1");
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "0");

    std::string tried;
    const bool headless = options.forcesHeadless();
    if (headless) {
        for (const char* name : kHeadlessDrivers)
            if (tryDriver(name, &tried))
                return true;
    } else {
        for (const char* name : kDisplayDrivers)
            if (worthTrying(name) && tryDriver(name, &tried))
                return true;
    }
    failure->step = DisplaySetupStep::StartHost;
    if (headless) {
        failure->detail = "no offscreen surface could start";
        failure->hint = "tried " + tried +
                        "; headless needs an SDL2 with the offscreen driver (Debian "
                        "libsdl2-2.0-0)";
        return false;
    }
    failure->detail = "no display could be opened";
    failure->hint = "tried:" + tried +
                    "\n  Without a desktop, start it on the console of the machine the "
                    "projector is plugged into. To run without any display, give "
                    "--headless=1920x1080.";
    return false;
}

// Our order, whatever SDL_VIDEODRIVER the environment holds: the override
// priority makes SDL take the name given here.
bool GraphicsPlatform::tryDriver(const char* name, std::string* tried)
{
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, name, SDL_HINT_OVERRIDE);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) {
        video_started = true;
        const char* current = SDL_GetCurrentVideoDriver();
        driver = current ? current : name;
        return true;
    }
    const std::string error = SDL_GetError();
    if (options.forcesHeadless()) {
        *tried += std::string(name) + " (" + error + ")";
        return false;
    }
    *tried += "\n  " + explainFailure(name, error);
    return false;
}

int GraphicsPlatform::getDisplaySize(uint32_t* out_width, uint32_t* out_height)
{
    int w = 0;
    int h = 0;
    if (options.forcesHeadless()) {
        w = options.headless_width;
        h = options.headless_height;
    } else if (isOffscreen()) {
        w = DisplayOptions::kDefaultHeadlessWidth;
        h = DisplayOptions::kDefaultHeadlessHeight;
    } else if (options.wantsWindow()) {
        w = options.window_width;
        h = options.window_height;
    } else {
        SDL_DisplayMode mode;
        if (SDL_GetDesktopDisplayMode(0, &mode) != 0 || mode.w <= 0 || mode.h <= 0)
            return -1;
        w = mode.w;
        h = mode.h;
    }
    width = static_cast<uint32_t>(w);
    height = static_cast<uint32_t>(h);
    *out_width = width;
    *out_height = height;
    return 0;
}

bool GraphicsPlatform::createEglObjects(const EGLint* attribute_list, EGLDisplay* display,
                                        EGLSurface* surface, EGLContext* context,
                                        DisplaySetupFailure* failure)
{
    applyConfigAttributes(attribute_list);
    // Loading the GL library opens and initialises the EGL display.
    if (SDL_GL_LoadLibrary(nullptr) != 0) {
        const std::string error = SDL_GetError();
        fail(failure, mentions(error, "nitialize") ? DisplaySetupStep::Initialize
                                                   : DisplaySetupStep::GetDisplay,
             error);
        return false;
    }
    library_loaded = true;
    return createWindow(failure) && createContext(failure) &&
           fetchCurrentHandles(display, surface, context, failure);
}

void GraphicsPlatform::applyConfigAttributes(const EGLint* attribute_list)
{
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    for (const EGLint* a = attribute_list; *a != EGL_NONE; a += 2) {
        bool known = false;
        const SDL_GLattr attribute = sdlAttributeFor(a[0], &known);
        if (known)
            SDL_GL_SetAttribute(attribute, a[1]);
    }
}

bool GraphicsPlatform::createWindow(DisplaySetupFailure* failure)
{
    Uint32 flags = SDL_WINDOW_OPENGL;
    const bool full_screen = !isOffscreen() && !options.wantsWindow();
    if (full_screen)
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    window = SDL_CreateWindow("Spectrafox", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                              static_cast<int>(width), static_cast<int>(height), flags);
    if (!window) {
        // The window's EGL config and surface are made here.
        const std::string error = SDL_GetError();
        fail(failure, mentions(error, "config") ? DisplaySetupStep::ChooseConfig
                                                : DisplaySetupStep::CreateSurface,
             error);
        return false;
    }
    if (full_screen)
        SDL_ShowCursor(SDL_DISABLE);
    return true;
}

bool GraphicsPlatform::createContext(DisplaySetupFailure* failure)
{
    gl_context = SDL_GL_CreateContext(window);
    if (!gl_context) {
        const std::string error = SDL_GetError();
        fail(failure, mentions(error, "current") ? DisplaySetupStep::MakeCurrent
                                                 : DisplaySetupStep::CreateContext,
             error);
        return false;
    }
    keepGraphicsLibrariesForSanitizers();
    std::string error;
    if (!FixedFunctionPipeline::instance().attachToCurrentContext(&error)) {
        fail(failure, DisplaySetupStep::CreateContext, error);
        return false;
    }
    // A display paces the loop by its refresh; offscreen the cap does.
    SDL_GL_SetSwapInterval(isOffscreen() ? 0 : 1);
    return true;
}

bool GraphicsPlatform::fetchCurrentHandles(EGLDisplay* display, EGLSurface* surface,
                                           EGLContext* context, DisplaySetupFailure* failure)
{
    *display = eglGetCurrentDisplay();
    *surface = eglGetCurrentSurface(EGL_DRAW);
    *context = eglGetCurrentContext();
    if (*display == EGL_NO_DISPLAY)
        fail(failure, DisplaySetupStep::GetDisplay, "no current EGL display");
    else if (*surface == EGL_NO_SURFACE)
        fail(failure, DisplaySetupStep::CreateSurface, "no current EGL surface");
    else if (*context == EGL_NO_CONTEXT)
        fail(failure, DisplaySetupStep::CreateContext, "no current EGL context");
    else
        return true;
    return false;
}

void GraphicsPlatform::fail(DisplaySetupFailure* failure, DisplaySetupStep step,
                            const std::string& detail) const
{
    *failure = failureAt(step, detail);
}

DisplaySetupFailure GraphicsPlatform::failureAt(DisplaySetupStep step,
                                                const std::string& detail) const
{
    DisplaySetupFailure failure;
    failure.step = step;
    failure.detail = detail;
    if (step == DisplaySetupStep::GetDisplaySize) {
        failure.hint = "video driver '" + driver +
                       "' reports no display mode; give --window=WIDTHxHEIGHT or "
                       "--headless=WIDTHxHEIGHT";
        return failure;
    }
    failure.hint = "video driver '" + driver + "' at " + std::to_string(width) + "x" +
                   std::to_string(height) + ": " + causeOf(step) +
                   "; the Mesa packages to check: libegl-mesa0, libgles2 and libgl1-mesa-dri";
    if (step == DisplaySetupStep::CreateSurface)
        failure.hint += " (a smaller --headless or --window size may help)";
    return failure;
}

void GraphicsPlatform::presentFrame()
{
    ++frames;
    // The frame's last batched draws, before the snapshot and the swap.
    FixedFunctionPipeline::instance().flush();
    writeDueSnapshots();
    if (options.before_swap)
        options.before_swap(static_cast<int>(width), static_cast<int>(height));
    SDL_GL_SwapWindow(window);
    if (isOffscreen()) {
        // A pbuffer swap waits for nothing: without this the driver queues
        // frame after frame, memory grows and a stop waits for the backlog.
        // (eglWaitClient is not enough for Mesa's software renderer.)
        glFinish();
        paceOffscreen();
    }
    pumpEvents();
}

// Timed snapshots are numbered modulo this, to fit a 32-bit long.
constexpr long long kIntervalNumbers = 1000000000;

void GraphicsPlatform::writeDueSnapshots()
{
    if (options.snapshot_request && options.snapshot_request())
        snapshot_requested = true;
    if (options.snapshot_frame == frames)
        queueSnapshot(options.snapshot_path);
    long long interval = 0;
    const bool timed = timedSnapshotDue(&interval);
    if (snapshot_requested || timed) {
        const long number = timed ? static_cast<long>(interval % kIntervalNumbers) : frames;
        snapshot_requested = false;
        queueSnapshot(FrameSnapshot::numberedPath(options.snapshot_path, number));
    }
}

// The first frame of every new interval; not the very first frame drawn,
// which may lie anywhere in its interval.
bool GraphicsPlatform::timedSnapshotDue(long long* interval)
{
    if (options.snapshot_every_ms <= 0)
        return false;
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    *interval = std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count() /
                options.snapshot_every_ms;
    const bool due = snapshot_interval >= 0 && *interval != snapshot_interval;
    snapshot_interval = *interval;
    return due;
}

// The pixels are read here, between drawing and the swap; compressing and
// writing them is the writer thread's work.
void GraphicsPlatform::queueSnapshot(const std::string& path)
{
    if (!snapshots)
        snapshots = std::make_unique<SnapshotWriter>();
    if (snapshots->busy())
        return;
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    snapshots->submit(SnapshotWriter::Picture{path, w, h, FrameSnapshot::readRgb(w, h)});
}

void GraphicsPlatform::paceOffscreen()
{
    if (options.offscreen_fps_cap <= 0)
        return;
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::nanoseconds(1000000000LL / options.offscreen_fps_cap);
    const Clock::time_point now = Clock::now();
    // More than a frame late (start-up, a slow frame): start afresh rather
    // than rushing frames out to catch up.
    if (next_frame_due == Clock::time_point{} || now > next_frame_due + period)
        next_frame_due = now;
    else
        std::this_thread::sleep_until(next_frame_due);
    next_frame_due += period;
}

void GraphicsPlatform::pumpEvents()
{
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) {
            askToQuit();
        } else if (event.type == SDL_KEYDOWN) {
            if (event.key.keysym.sym == SDLK_q)
                askToQuit();
            else if (event.key.keysym.sym == SDLK_s && !event.key.repeat)
                snapshot_requested = true; // a held key is one snapshot
            else if (event.key.keysym.sym == SDLK_t && !event.key.repeat && options.on_test_pattern_key)
                options.on_test_pattern_key();
        }
    }
}

void GraphicsPlatform::askToQuit() const
{
    if (options.on_quit_request)
        options.on_quit_request();
}

void GraphicsPlatform::releaseEgl()
{
    if (gl_context) {
        FixedFunctionPipeline::instance().detachFromCurrentContext();
        SDL_GL_MakeCurrent(window, nullptr);
    }
    if (window)
        SDL_DestroyWindow(window); // destroys the EGL surface
    if (gl_context)
        SDL_GL_DeleteContext(gl_context);
    if (library_loaded)
        SDL_GL_UnloadLibrary(); // terminates the EGL display
    window = nullptr;
    gl_context = nullptr;
    library_loaded = false;
}

} // namespace Spectrafox
