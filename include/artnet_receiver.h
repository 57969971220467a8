#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>

#include "artnet_packet_parser.h"
#include "artnet_protocol.h"
#include "dmx_channel_map.h"
#include "network_interface.h"
#include "status_led.h"

namespace Spectrafox {

class CanvasManager;

// The node's Art-Net endpoint: one UDP socket on port 6454 and a listener
// thread that maps ArtDmx for the configured sub-net and universe onto a
// canvas group, answers ArtPoll with an ArtPollReply broadcast and blinks the
// status LED. Announces itself once at start-up. A socket that cannot be
// opened or bound ends the process with status 1.
class ArtnetReceiver {
public:
    // What the receiver needs of the host besides its socket. The program
    // uses the defaults; tests point them at a temporary GPIO tree and a
    // made-up interface list.
    struct HostAccess {
        std::string gpio_root = StatusLed::kSysfsGpioRoot;
        bool is_root = realUserIsRoot();
        std::function<std::vector<InterfaceAddressEntry>()> interface_addresses = hostInterfaceAddresses();
    };

    ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                   unsigned int subnet, int dmx_start, float scale_multiplier, int led_gpio_pin);
    ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                   unsigned int subnet, int dmx_start, float scale_multiplier, int led_gpio_pin,
                   HostAccess host);
    ~ArtnetReceiver();
    ArtnetReceiver(const ArtnetReceiver&) = delete;
    ArtnetReceiver& operator=(const ArtnetReceiver&) = delete;

private:
    static bool realUserIsRoot();
    static std::function<std::vector<InterfaceAddressEntry>()> hostInterfaceAddresses();

    void openSocket();
    void enlargeReceiveBuffer();
    void netListener();
    int parseArtNet(int len);
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
    // Listener thread only: the channel table, the receive buffer and the sender.
    Artnet::DmxUniverse dmx512{};
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
    // Holds the LED level and the packet count.
    StatusLed status_led;
    std::function<std::vector<InterfaceAddressEntry>()> interface_addresses;
};

} // namespace Spectrafox
