#include "artnet_receiver.h"

#include "fatal_error.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <utility>

#include "art_poll_reply.h"
#include "canvas/canvas.h"
#include "canvas/canvas_manager.h"
#include "host_interface_addresses.h"
#include "interface_chooser.h"

namespace Spectrafox {

namespace {

// The operator reads these on the terminal; the text is Latin-1 ("\xF6" is ö).
constexpr const char* kSocketFailed = "init_net: Kann Socket nicht \xF6" "ffnen ...(%s)\n";
constexpr const char* kBroadcastFailed = "setsockopt() failed";
constexpr int kReceiveBufferBytes = 4 << 20;
constexpr long kReceiveWakeMicroseconds = 250000;
constexpr const char* kBindFailed = "ArtnetReceiver: bind(): Kann Portnummern %d nicht binden (%s)\n";

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

ArtnetReceiver::ArtnetReceiver(CanvasManager* screen_, int canvases_id_, unsigned int universe,
                               unsigned int subnet, int dmx_start_, float scale_multiplier_,
                               int led_gpio_pin_)
    : ArtnetReceiver(screen_, canvases_id_, universe, subnet, dmx_start_, scale_multiplier_,
                     led_gpio_pin_, HostAccess{})
{
}

ArtnetReceiver::ArtnetReceiver(CanvasManager* screen_, int canvases_id_, unsigned int universe,
                               unsigned int subnet, int dmx_start_, float scale_multiplier_,
                               int led_gpio_pin_, HostAccess host)
    : ArtnetReceiver(screen_, canvases_id_, universe, subnet, dmx_start_, scale_multiplier_,
                     led_gpio_pin_, NetworkInputSettings{}, std::move(host))
{
}

ArtnetReceiver::ArtnetReceiver(CanvasManager* screen_, int canvases_id_, unsigned int universe,
                               unsigned int subnet, int dmx_start_, float scale_multiplier_,
                               int led_gpio_pin_, const NetworkInputSettings& settings_,
                               HostAccess host)
    : screen(screen_),
      canvases_id(canvases_id_),
      artnet_universe(static_cast<int>(universe)),
      artnet_subnet(static_cast<int>(subnet)),
      dmx_start(dmx_start_),
      scale_multiplier(scale_multiplier_),
      settings(settings_),
      led_gpio_pin(led_gpio_pin_),
      is_root(host.is_root),
      parser(subnet, universe, settings_.artnet_net),
      channel_map(dmx_start_, scale_multiplier_),
      status_led(led_gpio_pin_, host.is_root, std::move(host.gpio_root)),
      interface_addresses(std::move(host.interface_addresses)),
      console_line(std::move(host.console_line)),
      canvases_updated(std::move(host.canvases_updated))
{
    openSocket();
    initLED();
    setLED(1);
    startSacn();
    std::memset(&client_address, 0, sizeof client_address);
    quit.store(false);
    net_listener_thread = std::thread(&ArtnetReceiver::netListener, this);
    // Announce the node to the desks on the network.
    sendArtPollReply();
}

ArtnetReceiver::~ArtnetReceiver()
{
    quit.store(true);
    // Wakes the blocked receive: it returns 0 bytes and the loop sees quit.
    ::shutdown(s, SHUT_RD);
    if (net_listener_thread.joinable())
        net_listener_thread.join();
    sacn.reset();
    ::close(s);
    setLED(0);
    quitLED();
}

void ArtnetReceiver::openSocket()
{
    s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s < 0) {
        exitWithMessage(kSocketFailed, std::strerror(errno));
    }
    const int enable = 1;
    if (::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &enable, sizeof enable) < 0) {
        exitWithMessage("%s", kBroadcastFailed);
    }
    enlargeReceiveBuffer();
    wakeRegularly();
    my_receive_address.sin_family = AF_INET;
    my_receive_address.sin_addr.s_addr = htonl(INADDR_ANY);
    my_receive_address.sin_port = htons(Artnet::kPort);
    // No address reuse: a second program on port 6454 must make this fail.
    if (::bind(s, reinterpret_cast<const sockaddr*>(&my_receive_address), sizeof my_receive_address) < 0) {
        exitWithMessage(kBindFailed, static_cast<int>(Artnet::kPort), std::strerror(errno));
    }
}

// Room for a burst of traffic while the listener thread waits for a CPU:
// desks broadcast every universe of a show to every node. Root may exceed the
// system's limit; otherwise the kernel caps the request. Not fatal either way.
void ArtnetReceiver::enlargeReceiveBuffer()
{
    const int bytes = kReceiveBufferBytes;
    if (::setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        (void)::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

// A receive that waits at most this long lets a lapsed ArtSync mode hand its
// held channels over even when nothing else arrives.
void ArtnetReceiver::wakeRegularly()
{
    timeval limit{};
    limit.tv_usec = kReceiveWakeMicroseconds;
    (void)::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

// Off, out of range, or a port that cannot be had: Art-Net goes on alone.
void ArtnetReceiver::startSacn()
{
    if (settings.sacn_universe < Sacn::kMinUniverse || settings.sacn_universe > Sacn::kMaxUniverse)
        return;
    SacnReceiver::Setup setup;
    setup.universe = settings.sacn_universe;
    setup.interfaces = SacnReceiver::multicastInterfaces(interface_addresses());
    setup.report = console_line;
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
        socklen_t address_size = sizeof client_address;
        const ssize_t received = ::recvfrom(s, buffer, sizeof buffer, 0,
                                            reinterpret_cast<sockaddr*>(&client_address), &address_size);
        if (parseArtNet(static_cast<int>(received)) == 0)
            countForLed();
    }
}

int ArtnetReceiver::parseArtNet(int len)
{
    const Clock::time_point now = Clock::now();
    if (sync_gate.expire(now))
        applyHeldChannels();
    const bool holding = sync_gate.synchronous();
    const ArtnetParseResult result = parseIntoTable(len, holding);
    switch (result.kind) {
    case ArtnetPacketKind::Poll:
        sendArtPollReply();
        return 0;
    case ArtnetPacketKind::Dmx:
        if (result.channels_updated)
            takeArtDmx(result, holding);
        return 0;
    case ArtnetPacketKind::Sync:
        takeArtSync(now);
        return 0;
    case ArtnetPacketKind::Unrecognised:
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
    sync_gate.dmxArrived(client_address.sin_addr.s_addr);
    if (holding)
        held_channels = std::max(held_channels, result.channels_carried);
}

void ArtnetReceiver::takeArtSync(Clock::time_point now)
{
    if (sync_gate.syncArrived(client_address.sin_addr.s_addr, now))
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

void ArtnetReceiver::countForLed()
{
    std::lock_guard<std::mutex> lock(led_mutex);
    status_led.countPacket();
}

// Runs under table_mutex.
void ArtnetReceiver::updateCanvasValues()
{
    if (screen)
        channel_map.apply(dmx512, screen->getCanvasGroup(canvases_id), screen->getScreenRatio());
    if (canvases_updated)
        canvases_updated();
}

float ArtnetReceiver::correctAngleRange(float angle)
{
    return Canvas::correctAngleRange(angle);
}

void ArtnetReceiver::sendArtPollReply()
{
    std::lock_guard<std::mutex> lock(reply_mutex);
    calcMyAndBroadcastIP();
    const int net = settings.artnet_net == NetworkInputSettings::kAnyNet ? 0 : settings.artnet_net;
    const ArtPollReply::Bytes reply = ArtPollReply::build(my_ip_address, artnet_subnet, artnet_universe, net);
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(send_broadcast_address);
    destination.sin_port = htons(Artnet::kPort);
    // A lost reply is answered by the desk's next poll.
    (void)::sendto(s, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&destination),
                   sizeof destination);
}

void ArtnetReceiver::calcMyAndBroadcastIP()
{
    getNetworkInterfacesList();
    const InterfaceChooser::ReplyAddresses chosen = InterfaceChooser::choose(interfaces);
    my_ip_address = chosen.my_ip_address;
    send_broadcast_address = chosen.send_broadcast_address;
}

void ArtnetReceiver::getNetworkInterfacesList()
{
    interfaces = InterfaceChooser::listInterfaces(interface_addresses());
}

void ArtnetReceiver::initLED()
{
    status_led.init();
}

void ArtnetReceiver::setLED(int value)
{
    status_led.set(value);
}

void ArtnetReceiver::quitLED()
{
    status_led.release();
}

} // namespace Spectrafox
