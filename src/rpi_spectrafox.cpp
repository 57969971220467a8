#include <chrono>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "artnet_receiver.h"
#include "canvas/canvas_manager.h"
#include "config_loader.h"
#include "console_screen.h"
#include "shell/exit_deadline.h"
#include "base/product_identity.h"
#include "platform/graphics/display_options.h"

using namespace Spectrafox;

namespace {

// From a stop request (q, SIGINT, SIGTERM) to the end of the process, even
// in the middle of a frame that takes far longer.
constexpr std::chrono::milliseconds kStopLimit{400};
struct Arguments {
    bool help = false;
    bool silent = false;
    DisplayOptions display;
    std::vector<std::string> malformed;
};

Arguments scanArguments(int argc, char** argv)
{
    Arguments args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0)
            args.help = true;
        else if (std::strcmp(argv[i], "--silent") == 0)
            args.silent = true;
        else if (args.display.applyArgument(argv[i]) == DisplayOptions::Parse::Malformed)
            args.malformed.push_back(argv[i]);
    }
    return args;
}

// Said before the console takes over the terminal, so it stays readable.
void leaveMidFrame()
{
    ConsoleScreen::leaveTerminal();
    ConsoleScreen::showNotice("rpi_spectrafox: stopped before the frame in progress ended");
}

void showConfig(ConsoleScreen* c_screen, const ConfigLoader* config)
{
    c_screen->print("Config: Subnet:%i Universe:%i Num:%i DMX:%i Zoom:%i",
                    config->getArtnetSubnet(), config->getArtnetUniverse(),
                    config->getLasersimNum(), config->getLasersimDMXStart(),
                    config->getZoomType());
    // The optional inputs are named only when configured, so the line is
    // unchanged without them.
    if (config->getArtnetNet() != NetworkInputSettings::kAnyNet)
        c_screen->print(" Net:%i", config->getArtnetNet());
    if (config->getSacnUniverse() != NetworkInputSettings::kSacnOff)
        c_screen->print(" sACN:%i", config->getSacnUniverse());
    const VideoCueOptions video = config->getVideoCueOptions();
    if (video.on_cue)
        c_screen->print(" Video:on cue, %i decoders", video.decoders);
    c_screen->print("\n");
}

// Start-up lines go to the console's scrolling area, notices to its own row.
ArtnetReceiver::HostAccess hostAccessFor(ConsoleScreen* c_screen, bool silent)
{
    ArtnetReceiver::HostAccess host;
    host.notice = &ConsoleScreen::showNotice;
    if (!silent)
        host.console_line = [c_screen](const std::string& line) { c_screen->print("%s\n", line.c_str()); };
    return host;
}

void warnMalformed(const std::vector<std::string>& malformed)
{
    for (const std::string& argument : malformed)
        std::cerr << "rpi_spectrafox: ignoring malformed switch " << argument << "; accepted:\n"
                  << DisplayOptions::usage();
}

} // namespace

int main(int argc, char** argv)
{
    const Arguments args = scanArguments(argc, argv);
    if (args.help) {
        std::cout << Product::versionLine() << std::endl;
        return 0;
    }
    warnMalformed(args.malformed);

    ConsoleScreen* c_screen = args.silent ? new ConsoleScreen(true) : new ConsoleScreen();
    c_screen->showTitle();
    ExitDeadline* stop_deadline =
        new ExitDeadline(kStopLimit, [c_screen] { return c_screen->isQuit(); }, &leaveMidFrame);

    ConfigLoader* config = new ConfigLoader();
    showConfig(c_screen, config);

    // The window's close button and its key q end the run like the console's q.
    DisplayOptions display = args.display;
    display.on_quit_request = &ConsoleScreen::requestQuit;
    VideoCueOptions video = config->getVideoCueOptions();
    video.notice = &ConsoleScreen::showNotice;
    CanvasManager* screen = new CanvasManager(display, video);
    screen->setZoom(config->getZoomType());
    c_screen->print("Screen: %i x %i\n", screen->getScreenWidth(), screen->getScreenHeight());
    const int lasers_id = screen->generateCanvasGroup(config->getLasersimNum(), "CONTENT_TEXTURE_256");

    // The receiver starts its listener thread and announces the node; it ends
    // the process with status 1 if the Art-Net port cannot be opened. An sACN
    // port or group it cannot have is said on the console and left out.
    ArtnetReceiver* dmxr = new ArtnetReceiver(ArtnetReceiver::targetOf(screen, lasers_id),
                                              config->getNetworkInputSettings(),
                                              hostAccessFor(c_screen, args.silent));

    c_screen->print("Init Done! Starting main loop... Press 'q' to quit! \n");

    // No sleep: the buffer swap paces the loop (vertical sync on a display,
    // the frame-rate cap offscreen).
    while (!c_screen->isQuit()) {
        screen->renderFrame();
        c_screen->showFrameRate(static_cast<double>(screen->getFPS()));
    }

    // The listener thread writes into the canvases: it stops first.
    delete dmxr;
    delete screen;
    delete config;
    delete stop_deadline;
    delete c_screen;
    return 0;
}
