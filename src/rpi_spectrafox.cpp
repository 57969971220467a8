#include <atomic>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "artnet_receiver.h"
#include "base/ipv4_text.h"
#include "base/settings_file.h"
#include "base/dmx_layout.h"
#include "base/show_clock.h"
#include "base/show_time.h"
#include "canvas/canvas_content/content_local_file_texture/content_local_file_texture.h"
#include "canvas/canvas_content/content_local_file_texture/slots/texture_folder_watcher.h"
#include "canvas/canvas.h"
#include "canvas/canvas_manager.h"
#include "config_loader.h"
#include "console_screen.h"
#include "network/artnet/timecode_sender.h"
#include "shell/exit_deadline.h"
#include "shell/geometry_source.h"
#include "shell/timecode_status_line.h"
#include "shell/service_notifier.h"
#include "base/product_identity.h"
#include "platform/graphics/display_options.h"
#include "platform/graphics/frame_snapshot.h"
#include "network/citp/citp_peer.h"
#include "network/host_interface_addresses.h"
#include "network/interface_chooser.h"
#include "status/admin_token.h"
#include "status/status_reporter.h"

using namespace Spectrafox;

namespace {

// From a stop request (q, SIGINT, SIGTERM) to the end of the process, even
// in the middle of a frame that takes far longer.
constexpr std::chrono::milliseconds kStopLimit{400};
// How often the console's timecode line is written.
constexpr std::chrono::milliseconds kTimecodeLinePeriod{250};
struct Arguments {
    bool help = false;
    bool silent = false;
    // Run by the boot service: a stray q does not end the show.
    bool service = false;
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
        else if (std::strcmp(argv[i], "--service") == 0)
            args.service = true;
        else if (args.display.applyArgument(argv[i]) == DisplayOptions::Parse::Malformed)
            args.malformed.push_back(argv[i]);
    }
    return args;
}

// Said before the console takes over the terminal, so it stays readable.
// A snapshot being compressed is dropped rather than left half written.
void leaveMidFrame()
{
    ConsoleScreen::leaveTerminal();
    ConsoleScreen::showNotice("rpi_spectrafox: stopped before the frame in progress ended");
    FrameSnapshot::closeFiles();
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
    const ConfigLoader::TimecodeSettings timecode = config->getTimecodeSettings();
    if (timecode.mode != ConfigLoader::TimecodeSettings::Off)
        c_screen->print(" Timecode:%s", timecode.mode == ConfigLoader::TimecodeSettings::Master ? "master" : "chase");
    const VideoCueOptions video = config->getVideoCueOptions();
    if (video.on_cue)
        c_screen->print(" Video:on cue, %i decoders", video.decoders);
    // Named only where settings.txt gave any: the line is unchanged without.
    std::string from_settings;
    for (const std::string& key : config->keysFromSettings())
        from_settings += (from_settings.empty() ? "" : ",") + key.substr(0, key.size() - 1);
    if (!from_settings.empty())
        c_screen->print(" Settings:%s", from_settings.c_str());
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

// The frame rate the render loop measured last; the RDM sensor reads it.
std::atomic<double> latest_frame_rate{0.0};

// RDM=1 or REMOTE_CONFIG=1: what the desk changes is kept in settings.txt;
// the desk's identify shows the test pattern, is said on the console (and
// the LED blinks fast).
SettingsFile* wireRemote(const ConfigLoader& config, ArtnetReceiver::HostAccess& host, Renderer& output)
{
    if (!config.getNetworkInputSettings().remote.any())
        return nullptr;
    auto* settings = new SettingsFile(config.settingsPath());
    settings->load();
    host.settings_file = settings;
    host.frame_rate = [] { return latest_frame_rate.load(std::memory_order_relaxed); };
    host.on_identify = [&output](bool on) {
        output.setIdentify(on);
        ConsoleScreen::showNotice(on ? "Identify: the desk asks this node to show itself" : "Identify: off");
    };
    return settings;
}

// Null without TIMECODE=: the pictures then play by their own clocks.
ShowClock* makeShowClock(const ConfigLoader::TimecodeSettings& timecode)
{
    if (timecode.mode == ConfigLoader::TimecodeSettings::Off)
        return nullptr;
    ShowClock::Options options;
    options.role = timecode.mode == ConfigLoader::TimecodeSettings::Master ? ShowClock::Role::Master
                                                                           : ShowClock::Role::Chase;
    options.freewheel_seconds = timecode.freewheel_seconds;
    options.type = timecode.type;
    return new ShowClock(options);
}

// The timecode's own row of the console, a few times a second.
void showTimecodeLine(const ShowClock* show_clock)
{
    using Clock = std::chrono::steady_clock;
    static Clock::time_point next_line;
    if (!show_clock || Clock::now() < next_line)
        return;
    next_line = Clock::now() + kTimecodeLinePeriod;
    ConsoleScreen::showTimecode(TimecodeStatusLine::describe(show_clock->snapshot()));
}

// The picture memory budget, the console row that names a slot left out, and
// thumbnails where the status page shows them.
ContentOptions contentOptionsFrom(const ConfigLoader& config)
{
    ContentOptions content;
    content.picture_memory_bytes = static_cast<std::uint64_t>(config.getTextureMemoryMb()) << 20;
    content.notice = &ConsoleScreen::showNotice;
    content.video = config.getVideoCueOptions();
    content.video.notice = &ConsoleScreen::showNotice;
    content.thumbnails = config.getHttpPort() > 0;
    return content;
}

// The terminal's s, SIGUSR1 and the window's s all end up as a snapshot;
// the window's q and close button act as the console's q.
DisplayOptions displayWiredTo(const Arguments& args)
{
    DisplayOptions display = args.display;
    display.on_quit_request = &ConsoleScreen::quitKeyPressed;
    display.snapshot_request = &ConsoleScreen::takeSnapshotRequest;
    display.on_test_pattern_key = &ConsoleScreen::testPatternKeyPressed;
    return display;
}

void keepShowOnQuitKeyUnderService(const Arguments& args)
{
    if (args.service)
        ConsoleScreen::keepShowOnQuitKey(
            "Running as the boot service: q does not end the show; stop it with "
            "'sudo systemctl stop spectrafox'");
}

// WATCH_TEXTURES=1, or an admin token (uploads take effect at once): null
// without either, or when the folder cannot be watched.
std::unique_ptr<TextureFolderWatcher> watchTextures(const ConfigLoader* config, ConsoleScreen* c_screen)
{
    if (!config->getWatchTextures() && !AdminToken(config->getHttpAdminToken()).enabled())
        return nullptr;
    auto watcher = std::make_unique<TextureFolderWatcher>();
    if (watcher->ok())
        return watcher;
    c_screen->print("Textures: %s; files changed now show after a restart\n", watcher->error().c_str());
    return nullptr;
}

// Decoded off the render thread; each new picture replaces its old one at
// the end of a later frame.
void reloadChangedSlots(TextureFolderWatcher* watcher, ContentLocalFileTexture* slots)
{
    const TextureFolderWatcher::Changes changes = watcher->changes();
    if (changes.rescan)
        slots->rescanSlots();
    for (const int slot : changes.slots)
        slots->reloadSlot(slot);
}

// The admin API's token, limit and geometry path.
AdminApi::Options adminOptions(const ConfigLoader* config, GeometrySource* geometry, ArtnetReceiver* dmxr)
{
    AdminApi::Options admin;
    admin.token = config->getHttpAdminToken();
    admin.upload_limit_bytes = static_cast<uint64_t>(config->getUploadMaxMb()) << 20;
    admin.geometry = [geometry] { return geometry->current(); };
    admin.store_geometry = [geometry](const Geometry& changed, std::string* why) {
        return geometry->store(changed, why);
    };
    admin.settings = [dmxr](NodeRemote::Settings* now) { return dmxr->remoteSettings(now); };
    admin.store_settings = [dmxr](const NodeRemote::Settings& wanted, std::string* why) {
        return dmxr->postRemoteSettings(wanted, why);
    };
    admin.rig = [dmxr] { return dmxr->rigNodes(); };
    admin.page_port = config->getHttpPort();
    return admin;
}

// The slot line on the console, and the status page when HTTP_PORT is set.
// Everything it reads lives until it is deleted, before the receiver.
StatusReporter* startStatus(const ConfigLoader* config, CanvasManager* screen, ArtnetReceiver* dmxr,
                            const ShowClock* show_clock, GeometrySource* geometry)
{
    Renderer* output = &screen->output();
    StatusReporter::Setup setup;
    setup.sources.config = config->settingsInForce();
    std::string from_settings;
    for (const std::string& key : config->keysFromSettings())
        from_settings += (from_settings.empty() ? "" : " ") + key.substr(0, key.size() - 1);
    if (!from_settings.empty())
        setup.sources.config.emplace_back("FROM_SETTINGS_TXT=", from_settings);
    setup.sources.dmx_start = config->getLasersimDMXStart();
    setup.sources.canvas_count = config->getLasersimNum();
    setup.sources.inputs = [dmxr] { return dmxr->inputReport(); };
    setup.sources.addresses = &HostInterfaceAddresses::read;
    setup.sources.memory_in_use = &StatusReporter::residentBytes;
    setup.sources.test_pattern = [output] { return output->testPatternOn(); };
    if (show_clock)
        setup.sources.timecode = [show_clock] { return show_clock->snapshot(); };
    auto* textures = dynamic_cast<ContentLocalFileTexture*>(screen->findContent("CONTENT_TEXTURE_256"));
    if (textures)
        setup.slots = [textures] { return textures->slotReports(); };
    setup.frame_rate = [screen] { return static_cast<double>(screen->getFPS()); };
    setup.server.port = config->getHttpPort();
    setup.server.bind_address = config->getHttpBind();
    setup.server.admin = adminOptions(config, geometry, dmxr);
    auto* status = new StatusReporter(std::move(setup));
    // On the notice row: the start-up lines above keep their places.
    std::string notice = status->changedSlotSummary();
    const AdminToken token(config->getHttpAdminToken());
    if (!config->getHttpAdminToken().empty() && !token.enabled())
        notice = "Admin API off: " + token.whyOff() + "; " + notice;
    if (!status->serverError().empty())
        notice = status->serverError() + "; " + notice;
    ConsoleScreen::showNotice(notice);
    return status;
}

// The node's name and first outside IPv4 address, written on the test pattern.
std::vector<std::string> testPatternLabel()
{
    std::string address = "no address";
    for (const InterfaceAddressEntry& entry : HostInterfaceAddresses::read())
        if (entry.family == AF_INET && !(entry.flags & IFF_LOOPBACK)) {
            address = ipv4Text(entry.address);
            break;
        }
    return {Product::kShortName, "ADDRESS " + address};
}

// config.txt's geometry, then geometry.txt's, to the renderer; refusals and
// a mask that cannot be read on the console. Started before the receiver,
// which reads the stage's size from the renderer.
GeometrySource* startGeometry(const ConfigLoader* config, ConsoleScreen* c_screen, CanvasManager* screen)
{
    for (const std::string& refusal : config->geometryRefusals())
        c_screen->print("Config: %s; kept at its default\n", refusal.c_str());
    Renderer& output = screen->output();
    output.setNotice(&ConsoleScreen::showNotice);
    output.setTestPatternLabel(testPatternLabel());
    GeometrySource::Hooks hooks;
    hooks.apply = [&output](const Geometry& geometry, std::shared_ptr<const MaskPicture> mask) {
        output.setGeometry(geometry, std::move(mask));
    };
    hooks.say = &ConsoleScreen::showNotice;
    auto* source = new GeometrySource("geometry.txt", config->getGeometry(), std::move(hooks));
    source->start();
    return source;
}

// The key t on the terminal or in the window, and the console's word on it.
void followTestPattern(Renderer& output, bool* shown_on)
{
    if (ConsoleScreen::takeTestPatternKey())
        output.toggleTestPattern();
    const bool on = output.testPatternOn();
    if (on != *shown_on)
        ConsoleScreen::showNotice(on ? "Test pattern: on (t turns it off)" : "Test pattern: off");
    *shown_on = on;
}

// The same UUID on every start of this machine (from its machine id).
std::string machineUuid()
{
    std::string id;
    std::ifstream("/etc/machine-id") >> id;
    id.resize(32, '0');
    return id.substr(0, 8) + '-' + id.substr(8, 4) + '-' + id.substr(12, 4) + '-' + id.substr(16, 4) + '-' +
           id.substr(20, 12);
}

// One DMX connection string per canvas, where the desk patched its block.
std::vector<std::string> layerSources(const ConfigLoader* config)
{
    const NetworkInputSettings& input = config->getNetworkInputSettings();
    std::vector<std::string> sources;
    for (int canvas = 0; canvas < config->getLasersimNum(); ++canvas) {
        const int channel = input.dmx_start + Dmx::kChannelsPerCanvas * canvas;
        sources.push_back(input.sacn_universe != NetworkInputSettings::kSacnOff
                              ? CitpMediaLibrary::sacnSource(input.sacn_universe, channel)
                              : CitpMediaLibrary::artnetSource(std::max(0, input.artnet_net), input.artnet_subnet,
                                                               input.artnet_universe, channel));
    }
    return sources;
}

// CITP=1: desks browse the slots. Null without it, or when its port cannot be had.
std::unique_ptr<CitpPeer> startCitp(const ConfigLoader* config, CanvasManager* screen, int canvases_id,
                                    const StatusReporter* status)
{
    if (!config->getCitp())
        return nullptr;
    CitpPeer::Setup setup;
    setup.port = config->getCitpPort();
    setup.identity = {Product::kShortName, machineUuid(), layerSources(config)};
    setup.slots = [status]() -> std::shared_ptr<const std::vector<SlotReport>> {
        const std::shared_ptr<const RenderState> state = status->renderState();
        return {state, &state->slots};
    };
    setup.contents = [canvases = screen->getCanvasGroup(canvases_id)] {
        std::vector<int> contents;
        for (const Canvas* canvas : canvases)
            contents.push_back(canvas->getContentData());
        return contents;
    };
    setup.announce_address = [] {
        return InterfaceChooser::choose(InterfaceChooser::listInterfaces(HostInterfaceAddresses::read())).my_ip_address;
    };
    auto peer = std::make_unique<CitpPeer>(std::move(setup));
    if (peer->running())
        return peer;
    ConsoleScreen::showNotice(peer->error());
    return nullptr;
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

    keepShowOnQuitKeyUnderService(args);
    ConsoleScreen* c_screen = args.silent ? new ConsoleScreen(true) : new ConsoleScreen();
    c_screen->showTitle();
    ExitDeadline* stop_deadline =
        new ExitDeadline(kStopLimit, [c_screen] { return c_screen->isQuit(); }, &leaveMidFrame);

    ConfigLoader* config = new ConfigLoader();
    showConfig(c_screen, config);

    // Watching starts before the slots load, so no change slips between;
    // slots whose files changed are loaded anew in the main loop.
    const std::unique_ptr<TextureFolderWatcher> texture_watcher = watchTextures(config, c_screen);

    // Installed before the pictures load: they play by the show time.
    const ConfigLoader::TimecodeSettings timecode = config->getTimecodeSettings();
    ShowClock* show_clock = makeShowClock(timecode);
    if (show_clock)
        ShowTime::install([show_clock] { return show_clock->showSeconds(); },
                          [show_clock] { return show_clock->daySeconds(); });

    StatusReporter* status = nullptr;
    DisplayOptions display = displayWiredTo(args);
    display.before_swap = [&status](int width, int height) {
        if (status)
            status->beforeSwap(width, height);
    };
    CanvasManager* screen = new CanvasManager(display, contentOptionsFrom(*config));
    screen->setZoom(config->getZoomType());
    c_screen->print("Screen: %i x %i\n", screen->getScreenWidth(), screen->getScreenHeight());
    GeometrySource* geometry = startGeometry(config, c_screen, screen);
    const int lasers_id = screen->generateCanvasGroup(config->getLasersimNum(), "CONTENT_TEXTURE_256");

    // The receiver starts its listener thread and announces the node; it ends
    // the process with status 1 if the Art-Net port cannot be opened. An sACN
    // port or group it cannot have is said on the console and left out.
    ArtnetReceiver::HostAccess host = hostAccessFor(c_screen, args.silent);
    if (show_clock)
        host.on_timecode = [show_clock](const Timecode& tc, uint32_t sender) { show_clock->takeTimecode(tc, sender); };
    SettingsFile* settings_file = wireRemote(*config, host, screen->output());
    ArtnetReceiver* dmxr = new ArtnetReceiver(ArtnetReceiver::targetOf(screen, lasers_id),
                                              config->getNetworkInputSettings(), std::move(host));
    TimecodeSender* timecode_sender = nullptr;
    if (timecode.mode == ConfigLoader::TimecodeSettings::Master)
        timecode_sender = new TimecodeSender(*show_clock, timecode.type,
                                             [dmxr](const Timecode& tc) { dmxr->sendTimecode(tc); });

    auto* texture_slots = dynamic_cast<ContentLocalFileTexture*>(screen->findContent("CONTENT_TEXTURE_256"));
    status = startStatus(config, screen, dmxr, show_clock, geometry);
    std::unique_ptr<CitpPeer> citp = startCitp(config, screen, lasers_id, status);

    c_screen->print("Init Done! Starting main loop... Press 'q' to quit! \n");
    // Null unless systemd asked for notifications.
    std::unique_ptr<ServiceNotifier> service = ServiceNotifier::forThisProcess();
    if (service)
        service->markReady();

    // No sleep: the buffer swap paces the loop (vertical sync on a display,
    // the frame-rate cap offscreen).
    bool test_pattern_shown = false;
    while (!c_screen->isQuit()) {
        followTestPattern(screen->output(), &test_pattern_shown);
        screen->renderFrame();
        if (texture_watcher && texture_slots != nullptr)
            reloadChangedSlots(texture_watcher.get(), texture_slots);
        const double fps = static_cast<double>(screen->getFPS());
        latest_frame_rate.store(fps, std::memory_order_relaxed);
        c_screen->showFrameRate(fps);
        showTimecodeLine(show_clock);
        if (service)
            service->frameShown(fps);
        status->afterFrame();
        const std::string slots = status->changedSlotSummary();
        if (!slots.empty())
            ConsoleScreen::showNotice(slots);
    }
    service.reset();

    // The CITP peer reads the status board and the canvases: it stops first.
    citp.reset();
    // The status page reads the receiver and the slots: it stops next.
    StatusReporter* stopping = status;
    status = nullptr;
    delete stopping;
    // The sender sends through the receiver's socket; the listener thread
    // writes into the canvases: they stop next.
    delete timecode_sender;
    delete dmxr;
    // Its watcher hands geometry to the renderer: it stops first.
    delete geometry;
    delete settings_file;
    delete screen;
    ShowTime::remove();
    delete show_clock;
    delete config;
    delete stop_deadline;
    delete c_screen;
    return 0;
}
