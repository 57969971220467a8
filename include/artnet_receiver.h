#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>

#include "art_sync_gate.h"
#include "artnet_packet_parser.h"
#include "artnet_protocol.h"
#include "dmx_channel_map.h"
#include "network_input_settings.h"
#include "network_interface.h"
#include "sacn_receiver.h"
#include "status_led.h"

namespace Spectrafox {

class CanvasManager;

// The node's Art-Net endpoint: one UDP socket on port 6454 and a listener
// thread that maps ArtDmx for the configured sub-net and universe onto a
// canvas group, answers ArtPoll with an ArtPollReply broadcast and blinks the
// status LED. Announces itself once at start-up. A socket that cannot be
// opened or bound ends the process with status 1.
//
// Optionally (NetworkInputSettings) it takes only one Art-Net Net, and it
// takes E1.31 for one universe on a receiver thread of its own; the latest
// packet of either protocol sets the channels it carries. After an ArtSync
// from the controller of our ArtDmx, ArtDmx waits for the next ArtSync.
class ArtnetReceiver {
public:
    using Clock = std::chrono::steady_clock;

    // What the receiver needs of the host besides its socket. The program
    // uses the defaults; tests point them at a temporary GPIO tree and a
    // made-up interface list.
    struct HostAccess {
        std::string gpio_root = StatusLed::kSysfsGpioRoot;
        bool is_root = realUserIsRoot();
        std::function<std::vector<InterfaceAddressEntry>()> interface_addresses = hostInterfaceAddresses();
        // Where a start-up problem that does not end the process is said,
        // one line without its line end.
        std::function<void(const std::string&)> console_line = printLine;
        // Called after every pass of the channel map, on the thread that ran it.
        std::function<void()> canvases_updated;
    };

    ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                   unsigned int subnet, int dmx_start, float scale_multiplier, int led_gpio_pin);
    ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                   unsigned int subnet, int dmx_start, float scale_multiplier, int led_gpio_pin,
                   HostAccess host);
    ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                   unsigned int subnet, int dmx_start, float scale_multiplier, int led_gpio_pin,
                   const NetworkInputSettings& settings, HostAccess host);
    ~ArtnetReceiver();
    ArtnetReceiver(const ArtnetReceiver&) = delete;
    ArtnetReceiver& operator=(const ArtnetReceiver&) = delete;

private:
    static bool realUserIsRoot();
    static std::function<std::vector<InterfaceAddressEntry>()> hostInterfaceAddresses();
    static void printLine(const std::string& line);

    void openSocket();
    void enlargeReceiveBuffer();
    void wakeRegularly();
    void startSacn();
    void netListener();
    int parseArtNet(int len);
    ArtnetParseResult parseIntoTable(int len, bool holding);
    void takeArtDmx(const ArtnetParseResult& result, bool holding);
    void takeArtSync(Clock::time_point now);
    void applyHeldChannels();
    void applySacnChannels(const Artnet::DmxUniverse& merged, int count);
    void countForLed();
    void updateCanvasValues();
    static float correctAngleRange(float angle);
    void sendArtPollReply();
    void calcMyAndBroadcastIP();
    void getNetworkInterfacesList();
    void initLED();
    void setLED(int value);
    void quitLED();

    std::thread net_listener_thread;
    std::atomic<bool> quit{false};
    CanvasManager* screen;
    int canvases_id;
    int artnet_universe;
    int artnet_subnet;
    int dmx_start;
    float scale_multiplier;
    NetworkInputSettings settings;
    // The channel table the canvases show, written by the listener thread and
    // the sACN thread; table_mutex guards it and every channel map pass.
    Artnet::DmxUniverse dmx512{};
    std::mutex table_mutex;
    // Listener thread only: ArtDmx waiting for the next ArtSync (channels 1
    // to held_channels), the gate, the receive buffer and the sender.
    Artnet::DmxUniverse held{};
    int held_channels = 0;
    ArtSyncGate sync_gate;
    int s = -1;
    sockaddr_in my_receive_address{};
    sockaddr_in client_address{};
    uint8_t buffer[1024];
    // The reply's address choice, rebuilt for every reply under reply_mutex:
    // the start-up reply and the listener's replies never rebuild it at once.
    std::vector<networkInterface> interfaces;
    uint32_t my_ip_address = 0;
    uint32_t send_broadcast_address = 0;
    std::mutex reply_mutex;
    int led_gpio_pin;
    bool is_root;

    ArtnetPacketParser parser;
    DmxChannelMap channel_map;
    // Holds the LED level and the packet count; both input threads count.
    StatusLed status_led;
    std::mutex led_mutex;
    std::function<std::vector<InterfaceAddressEntry>()> interface_addresses;
    std::function<void(const std::string&)> console_line;
    std::function<void()> canvases_updated;
    // Made last and stopped first: its thread writes the table and the canvases.
    std::unique_ptr<SacnReceiver> sacn;
};

} // namespace Spectrafox
