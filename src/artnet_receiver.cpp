#include "artnet_receiver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <unistd.h>
#include <utility>

#include "network/artnet/art_poll_reply.h"
#include "network/artnet/art_timecode.h"
#include "canvas/canvas_manager.h"
#include "network/host_interface_addresses.h"
#include "network/interface_chooser.h"
#include "network/udp_datagram_socket.h"

namespace Spectrafox {

namespace {

NetworkInputSettings withArtnetScalars(NetworkInputSettings settings, unsigned int universe,
                                       unsigned int subnet, int dmx_start, float scale_multiplier,
                                       int led_gpio_pin)
{
    settings.artnet_universe = static_cast<int>(universe);
    settings.artnet_subnet = static_cast<int>(subnet);
    settings.dmx_start = dmx_start;
    settings.scale_multiplier = scale_multiplier;
    settings.led_gpio_pin = led_gpio_pin;
    return settings;
}

} // namespace

bool ArtnetReceiver::realUserIsRoot()
{
    return ::getuid() == 0;
}

std::function<std::vector<InterfaceAddressEntry>()> ArtnetReceiver::hostInterfaceAddresses()
{
    return &HostInterfaceAddresses::read;
}

void ArtnetReceiver::printLine(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::unique_ptr<DatagramSocket> ArtnetReceiver::realSocketUnless(std::unique_ptr<DatagramSocket> given)
{
    if (given)
        return given;
    return UdpDatagramSocket::open(Artnet::kPort);
}

ArtnetReceiver::CanvasTarget ArtnetReceiver::targetOf(CanvasManager* screen, int canvases_id)
{
    if (!screen)
        return {};
    return {screen->getCanvasGroup(canvases_id), screen->getScreenRatio(), &screen->stageRatio()};
}

ArtnetReceiver::ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                               unsigned int subnet, int dmx_start, float scale_multiplier,
                               int led_gpio_pin)
    : ArtnetReceiver(screen, canvases_id, universe, subnet, dmx_start, scale_multiplier,
                     led_gpio_pin, HostAccess{})
{
}

ArtnetReceiver::ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                               unsigned int subnet, int dmx_start, float scale_multiplier,
                               int led_gpio_pin, HostAccess host)
    : ArtnetReceiver(screen, canvases_id, universe, subnet, dmx_start, scale_multiplier,
                     led_gpio_pin, NetworkInputSettings{}, std::move(host))
{
}

ArtnetReceiver::ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                               unsigned int subnet, int dmx_start, float scale_multiplier,
                               int led_gpio_pin, const NetworkInputSettings& settings,
                               HostAccess host)
    : ArtnetReceiver(targetOf(screen, canvases_id),
                     withArtnetScalars(settings, universe, subnet, dmx_start, scale_multiplier, led_gpio_pin),
                     std::move(host))
{
}

ArtnetReceiver::ArtnetReceiver(CanvasTarget target_, const NetworkInputSettings& settings_,
                               HostAccess host, std::unique_ptr<DatagramSocket> socket_)
    : settings(settings_),
      target(std::move(target_)),
      socket(realSocketUnless(std::move(socket_))),
      parser(static_cast<unsigned int>(settings_.artnet_subnet),
             static_cast<unsigned int>(settings_.artnet_universe), settings_.artnet_net),
      channel_map(settings_.dmx_start, settings_.scale_multiplier),
      status_led(settings_.led_gpio_pin, host.is_root, std::move(host.gpio_root), host.notice),
      interface_addresses(std::move(host.interface_addresses)),
      console_line(std::move(host.console_line)),
      sacn_notice(host.notice),
      canvases_updated(std::move(host.canvases_updated)),
      on_timecode(std::move(host.on_timecode)),
      now(host.now)
{
    status_led.init();
    status_led.set(1);
    startRemote(host);
    startSacn();
    net_listener_thread = std::thread(&ArtnetReceiver::netListener, this);
    // Announce the node to the desks on the network.
    sendArtPollReply();
}

ArtnetReceiver::~ArtnetReceiver()
{
    quit.store(true);
    // Ends the blocked receive: the loop then sees quit.
    socket->wake();
    if (net_listener_thread.joinable())
        net_listener_thread.join();
    sacn.reset();
    socket.reset();
    status_led.set(0);
    status_led.release();
}

void ArtnetReceiver::startSacn()
{
    if (settings.sacn_universe < Sacn::kMinUniverse || settings.sacn_universe > Sacn::kMaxUniverse)
        return;
    SacnReceiver::Setup setup;
    setup.universe = settings.sacn_universe;
    setup.interface_addresses = interface_addresses;
    setup.report = console_line;
    setup.notice = sacn_notice;
    setup.on_channels = [this](const Artnet::DmxUniverse& merged, int count) {
        applySacnChannels(merged, count);
    };
    sacn = std::make_unique<SacnReceiver>(std::move(setup));
    if (!sacn->listening())
        sacn.reset();
}

void ArtnetReceiver::netListener()
{
    while (!quit.load()) {
        std::memset(buffer, 0, sizeof buffer);
        const long received = socket->receive(buffer, sizeof buffer, &sender);
        if (parseArtNet(static_cast<int>(received)) == 0)
            countForLed();
        if (rig.pollDue(now()))
            socket->send(RigList::artPoll().data(), RigList::artPoll().size(),
                         {chooseAddresses().send_broadcast_address, Artnet::kPort});
        if (remote) {
            const Clock::time_point time = now();
            takePostedSettings();
            remote->tick(time);
            blinkForLocate(time);
            saveSettings(time, false);
        }
    }
    if (remote)
        saveSettings(now(), true);
}

int ArtnetReceiver::parseArtNet(int len)
{
    const Clock::time_point time = now();
    if (sync_gate.expire(time))
        applyHeldChannels();
    // Also on a receive that timed out: a held-back poll is answered then.
    if (poll_limiter.replyDue(time))
        sendArtPollReply();
    const bool holding = sync_gate.synchronous();
    const ArtnetParseResult result = parseIntoTable(len, holding);
    if (len > 0) // not a receive time-out
        countPacket(result.kind);
    switch (result.kind) {
    case ArtnetPacketKind::Poll:
        if (sender.address != own_address.load(std::memory_order_relaxed))
            rig.pollSeen(time);
        if (poll_limiter.pollArrived(time))
            sendArtPollReply();
        return 0;
    case ArtnetPacketKind::Dmx:
        if (result.channels_updated)
            takeArtDmx(result, holding);
        return 0;
    case ArtnetPacketKind::Sync:
        takeArtSync(time);
        return 0;
    case ArtnetPacketKind::TimeCode:
        // Without a show clock ArtTimeCode is not ours, as before (the LED
        // does not count it).
        if (!on_timecode)
            break;
        on_timecode(result.timecode, sender.address);
        return 0;
    case ArtnetPacketKind::Unrecognised:
        if (remote && len > 0 && remote->take(buffer, static_cast<std::size_t>(len), time))
            return 0;
        hearRigNode(len, time);
        break;
    }
    return -1;
}

// ArtDmx goes into the held table in synchronous mode, else straight into the
// shown table and onto the canvases.
ArtnetParseResult ArtnetReceiver::parseIntoTable(int len, bool holding)
{
    if (holding)
        return parser.parse(buffer, len, held);
    std::lock_guard<std::mutex> lock(table_mutex);
    const ArtnetParseResult result = parser.parse(buffer, len, dmx512);
    if (result.channels_updated)
        updateCanvasValues();
    return result;
}

void ArtnetReceiver::takeArtDmx(const ArtnetParseResult& result, bool holding)
{
    sync_gate.dmxArrived(sender.address);
    if (holding)
        held_channels = std::max(held_channels, result.channels_carried);
}

void ArtnetReceiver::takeArtSync(Clock::time_point time)
{
    if (sync_gate.syncArrived(sender.address, time))
        applyHeldChannels();
}

void ArtnetReceiver::applyHeldChannels()
{
    if (held_channels == 0)
        return;
    std::lock_guard<std::mutex> lock(table_mutex);
    std::copy_n(held.begin(), held_channels, dmx512.begin());
    held_channels = 0;
    updateCanvasValues();
}

void ArtnetReceiver::applySacnChannels(const Artnet::DmxUniverse& merged, int count)
{
    if (count > 0) {
        std::lock_guard<std::mutex> lock(table_mutex);
        std::copy_n(merged.begin(), count, dmx512.begin());
        updateCanvasValues();
    }
    countForLed();
}

void ArtnetReceiver::countPacket(ArtnetPacketKind kind)
{
    constexpr auto relaxed = std::memory_order_relaxed;
    switch (kind) {
    case ArtnetPacketKind::Dmx:
        artdmx_count.fetch_add(1, relaxed);
        break;
    case ArtnetPacketKind::Poll:
        artpoll_count.fetch_add(1, relaxed);
        break;
    case ArtnetPacketKind::Sync:
        artsync_count.fetch_add(1, relaxed);
        break;
    case ArtnetPacketKind::TimeCode:
        other_count.fetch_add(1, relaxed);
        break;
    case ArtnetPacketKind::Unrecognised:
        other_count.fetch_add(1, relaxed);
        return; // not a sender of Art-Net
    }
    last_sender.store(sender.address, relaxed);
    sync_holding.store(sync_gate.synchronous(), relaxed);
}

ArtnetReceiver::InputReport ArtnetReceiver::inputReport()
{
    constexpr auto relaxed = std::memory_order_relaxed;
    InputReport report;
    report.artdmx_packets = artdmx_count.load(relaxed);
    report.artpoll_packets = artpoll_count.load(relaxed);
    report.artsync_packets = artsync_count.load(relaxed);
    report.other_packets = other_count.load(relaxed);
    report.last_artnet_sender = last_sender.load(relaxed);
    report.artsync_holding = sync_holding.load(relaxed);
    report.sacn_listening = sacn != nullptr;
    report.sacn_packets = sacn ? sacn->packetsTaken() : 0;
    if (remote) {
        report.remote = true;
        report.identify = remote->identifying();
        report.rdm_uid = remote->uid().text();
    }
    std::lock_guard<std::mutex> lock(table_mutex);
    report.channels = dmx512;
    return report;
}

void ArtnetReceiver::countForLed()
{
    std::lock_guard<std::mutex> lock(led_mutex);
    if (remote && remote->led() != NodeRemote::Led::Normal)
        return;
    status_led.countPacket();
}

// Runs under table_mutex.
void ArtnetReceiver::updateCanvasValues()
{
    const float ratio = target.live_ratio ? target.live_ratio->load(std::memory_order_relaxed) : target.screen_ratio;
    channel_map.apply(dmx512, target.group, ratio);
    if (canvases_updated)
        canvases_updated();
}

// Broadcast on the interface the chooser picks; a lost reply is answered by
// the desk's next poll.
void ArtnetReceiver::sendArtPollReply()
{
    const InterfaceChooser::ReplyAddresses chosen = chooseAddresses();
    const int net = settings.artnet_net == NetworkInputSettings::kAnyNet ? 0 : settings.artnet_net;
    const ArtPollReply::Bytes reply =
        remote ? ArtPollReply::build(chosen.my_ip_address, remote->pollReplyNode())
               : ArtPollReply::build(chosen.my_ip_address, settings.artnet_subnet, settings.artnet_universe, net);
    socket->send(reply.data(), reply.size(), {chosen.send_broadcast_address, Artnet::kPort});
}

} // namespace Spectrafox

namespace Spectrafox {

InterfaceChooser::ReplyAddresses ArtnetReceiver::chooseAddresses()
{
    std::lock_guard<std::mutex> lock(reply_mutex);
    const InterfaceChooser::ReplyAddresses chosen =
        InterfaceChooser::choose(InterfaceChooser::listInterfaces(interface_addresses()));
    own_address.store(chosen.my_ip_address, std::memory_order_relaxed);
    return chosen;
}

// The same destination as the reply, so that the desks and the other nodes
// hear the rig's clock where they hear this node.
void ArtnetReceiver::sendTimecode(const Timecode& timecode)
{
    const InterfaceChooser::ReplyAddresses chosen = chooseAddresses();
    const ArtTimeCode::Bytes packet = ArtTimeCode::build(timecode);
    socket->send(packet.data(), packet.size(), {chosen.send_broadcast_address, Artnet::kPort});
}

} // namespace Spectrafox

namespace Spectrafox {

bool ArtnetReceiver::socTemperature(double* celsius)
{
    std::ifstream file("/sys/class/thermal/thermal_zone0/temp");
    long millidegrees = 0;
    if (!(file >> millidegrees))
        return false;
    *celsius = static_cast<double>(millidegrees) / 1000.0;
    return true;
}

std::string ArtnetReceiver::macAddress(const std::string& interface_name)
{
    if (interface_name.empty() || interface_name.find('/') != std::string::npos)
        return "";
    std::ifstream file("/sys/class/net/" + interface_name + "/address");
    std::string mac;
    file >> mac;
    return mac;
}

// Before the listener thread starts: the first ArtPollReply already carries
// what settings.txt gave.
void ArtnetReceiver::startRemote(const HostAccess& host)
{
    if (!settings.remote.any())
        return;
    settings_file = host.settings_file;
    on_identify = host.on_identify;
    RdmResponder::Readings readings;
    readings.temperature = host.soc_temperature;
    readings.frame_rate = host.frame_rate;
    remote = std::make_unique<NodeRemote>(settings, remoteUid(host), std::move(readings), remoteEffects(), now());
    if (settings.remote.rdm)
        console_line("RDM: responder " + remote->uid().text());
}

// RDM_UID= where given, else the prototyping range and the MAC address of
// the interface the node announces itself on.
RdmUid ArtnetReceiver::remoteUid(const HostAccess& host)
{
    RdmUid uid(RdmUid::kPrototypeManufacturer, 1);
    if (RdmUid::parse(settings.remote.uid, &uid))
        return uid;
    if (!settings.remote.uid.empty())
        console_line("RDM: RDM_UID=" + settings.remote.uid + " is no UID (7ff0:12345678); ignored");
    const std::vector<networkInterface> interfaces = InterfaceChooser::listInterfaces(interface_addresses());
    if (host.mac_address && !RdmUid::fromMac(host.mac_address(interfaces.front().name), &uid))
        uid = RdmUid(RdmUid::kPrototypeManufacturer, interfaces.front().ip_address);
    return uid;
}

NodeRemote::Effects ArtnetReceiver::remoteEffects()
{
    NodeRemote::Effects effects;
    effects.port_address = [this](const NodeRemote::PortAddress& port) { movePort(port); };
    effects.dmx_start = [this](int start) { moveDmxStart(start); };
    effects.store = [this](const std::string& key, const std::string& value) { storeSetting(key, value); };
    effects.identify = [this](bool on) {
        if (on_identify)
            on_identify(on);
    };
    effects.poll_reply = [this] {
        if (poll_limiter.pollArrived(now()))
            sendArtPollReply();
    };
    effects.reply_to_sender = [this](const std::vector<uint8_t>& bytes) {
        socket->send(bytes.data(), bytes.size(), {sender.address, Artnet::kPort});
    };
    effects.broadcast = [this](const std::vector<uint8_t>& bytes) {
        socket->send(bytes.data(), bytes.size(), {chooseAddresses().send_broadcast_address, Artnet::kPort});
    };
    effects.my_address = [this] { return chooseAddresses().my_ip_address; };
    return effects;
}

// Listener thread: the parser is its own; the table keeps its values until
// DMX for the new address arrives, so nothing goes dark.
void ArtnetReceiver::movePort(const NodeRemote::PortAddress& port)
{
    parser.setPortAddress(static_cast<unsigned int>(port.subnet), static_cast<unsigned int>(port.universe),
                          port.net);
}

void ArtnetReceiver::moveDmxStart(int start)
{
    std::lock_guard<std::mutex> lock(table_mutex);
    channel_map.setStart(start);
}

// An empty value takes the key out. Saves are at most one a second (a flood
// of SETs does not wear the card out); the last is made at the next wake
// of the listener or at the end. A folder that cannot be written keeps the
// change for this run, said once.
void ArtnetReceiver::storeSetting(const std::string& key, const std::string& value)
{
    if (!settings_file)
        return;
    if (value.empty() && key != "DEVICE_LABEL")
        settings_file->remove(key);
    else
        settings_file->set(key, value);
    // The video path reads VIDEO_ON_CUE once, at start-up.
    if (key == "VIDEO_ON_CUE" && sacn_notice)
        sacn_notice(std::string("RDM: personality ") + (value == "1" ? "2" : "1") + " takes effect at the next start");
    settings_unsaved = true;
    saveSettings(now(), false);
}

void ArtnetReceiver::saveSettings(Clock::time_point time, bool at_end)
{
    if (!settings_unsaved || (!at_end && settings_saved_once && time - settings_saved < std::chrono::seconds(1)))
        return;
    settings_unsaved = false;
    settings_saved_once = true;
    settings_saved = time;
    if (settings_file->save() || settings_failure_said)
        return;
    settings_failure_said = true;
    if (sacn_notice)
        sacn_notice("Settings: " + settings_file->error() + "; changes from the desk last until the next start");
}

// Another Spectrafox node's ArtPollReply (ours comes back too: left out).
void ArtnetReceiver::hearRigNode(int len, Clock::time_point time)
{
    RigList::Node node;
    if (len > 0 && RigList::parseReply(buffer, static_cast<std::size_t>(len), &node) &&
        node.address != own_address.load(std::memory_order_relaxed))
        rig.heard(node, time);
}

bool ArtnetReceiver::remoteSettings(NodeRemote::Settings* now) const
{
    if (!remote)
        return false;
    *now = remote->settings();
    return true;
}

bool ArtnetReceiver::postRemoteSettings(const NodeRemote::Settings& wanted, std::string* why)
{
    if (!remote) {
        *why = "the node takes no settings from the network (RDM=1 or REMOTE_CONFIG=1)";
        return false;
    }
    if (!remote->check(wanted, why))
        return false;
    std::lock_guard<std::mutex> lock(posted_mutex);
    posted_settings = wanted;
    settings_posted = true;
    return true;
}

// Listener thread.
void ArtnetReceiver::takePostedSettings()
{
    NodeRemote::Settings wanted;
    {
        std::lock_guard<std::mutex> lock(posted_mutex);
        if (!settings_posted)
            return;
        settings_posted = false;
        wanted = posted_settings;
    }
    remote->takeSettings(wanted);
}

// Locate blinks the LED at every wake of the listener (4 times a second);
// mute keeps it off.
void ArtnetReceiver::blinkForLocate(Clock::time_point time)
{
    const NodeRemote::Led mode = remote->led();
    std::lock_guard<std::mutex> lock(led_mutex);
    if (mode == NodeRemote::Led::Mute && status_led.status() != 0)
        status_led.set(0);
    if (mode != NodeRemote::Led::Locate || time - led_toggled < std::chrono::milliseconds(200))
        return;
    led_toggled = time;
    status_led.set(status_led.status() == 0 ? 1 : 0);
}

} // namespace Spectrafox
