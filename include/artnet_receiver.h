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

#include "base/settings_file.h"
#include "base/timecode.h"
#include "network/artnet/art_sync_gate.h"
#include "network/artnet/artnet_packet_parser.h"
#include "network/datagram_socket.h"
#include "network/artnet/artnet_protocol.h"
#include "network/dmx_channel_map.h"
#include "network/network_input_settings.h"
#include "network/interface_chooser.h"
#include "network/network_interface.h"
#include "network/node_remote.h"
#include "network/rig_list.h"
#include "network/sacn/sacn_receiver.h"
#include "network/status_led.h"
#include "network/artnet/art_poll_limiter.h"

namespace Spectrafox {

class Canvas;
class CanvasManager;

// The node's Art-Net endpoint: one UDP socket on port 6454 and a listener
// thread that maps ArtDmx for the configured sub-net and universe onto a
// canvas group, answers ArtPoll with an ArtPollReply broadcast and blinks the
// status LED. Announces itself once at start-up. The real socket ends the
// process with status 1 when it cannot be opened or bound.
//
// Optionally (NetworkInputSettings) it takes only one Art-Net Net, and it
// takes E1.31 for one universe on a receiver thread of its own; the latest
// packet of either protocol sets the channels it carries. After an ArtSync
// from the controller of our ArtDmx, ArtDmx waits for the next ArtSync.
class ArtnetReceiver {
public:
    using Clock = std::chrono::steady_clock;

    // What the receiver needs of the host besides its socket. The program
    // uses the defaults; tests point them at a temporary GPIO tree, a
    // made-up interface list and a clock of their own.
    struct HostAccess {
        std::string gpio_root = StatusLed::kSysfsGpioRoot;
        bool is_root = realUserIsRoot();
        std::function<std::vector<InterfaceAddressEntry>()> interface_addresses = hostInterfaceAddresses();
        // Where a start-up problem that does not end the process is said,
        // one line without its line end.
        std::function<void(const std::string&)> console_line = printLine;
        // Where a problem or change found while running is said (the LED pin
        // refused, sACN joining a late network), one line without its line
        // end. Standard error without a console.
        StatusLed::Reporter notice;
        // Called after every pass of the channel map, on the thread that ran it.
        std::function<void()> canvases_updated;
        // Called with every well-formed ArtTimeCode and its sender's IPv4
        // address (host byte order), on the listener thread.
        std::function<void(const Timecode&, uint32_t)> on_timecode;
        // What ArtSync's time-out is measured with.
        std::function<Clock::time_point()> now = &Clock::now;

        // Addressing from the desk (RDM=1, REMOTE_CONFIG=1) only.
        // Where values changed from the network are kept; none: this run only.
        SettingsFile* settings_file = nullptr;
        // Identify (RDM) and locate (ArtAddress) on or off, on the listener thread.
        std::function<void(bool)> on_identify;
        // The picture's frame rate now; any thread.
        std::function<double()> frame_rate;
        // The SoC's temperature in degrees Celsius; false where there is none.
        std::function<bool(double*)> soc_temperature = &ArtnetReceiver::socTemperature;
        // "aa:bb:cc:dd:ee:ff" of an interface, "" where unknown.
        std::function<std::string(const std::string&)> mac_address = &ArtnetReceiver::macAddress;
    };

    // The canvases the channel map writes (the group does not change while
    // the receiver runs) and the stage's width/height ratio.
    struct CanvasTarget {
        std::vector<Canvas*> group;
        float screen_ratio = 1.0f;
        // Where set, read at every packet instead: the stage's ratio, which
        // a live REGION change moves.
        const std::atomic<float>* live_ratio = nullptr;
    };

    // The program's constructors: the group `canvases_id` of `screen` (none
    // when screen is null) and the real socket on the Art-Net port.
    ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                   unsigned int subnet, int dmx_start, float scale_multiplier, int led_gpio_pin);
    ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                   unsigned int subnet, int dmx_start, float scale_multiplier, int led_gpio_pin,
                   HostAccess host);
    ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                   unsigned int subnet, int dmx_start, float scale_multiplier, int led_gpio_pin,
                   const NetworkInputSettings& settings, HostAccess host);
    // No socket given: the real one on the Art-Net port.
    ArtnetReceiver(CanvasTarget target, const NetworkInputSettings& settings, HostAccess host,
                   std::unique_ptr<DatagramSocket> socket = nullptr);
    ~ArtnetReceiver();
    ArtnetReceiver(const ArtnetReceiver&) = delete;
    ArtnetReceiver& operator=(const ArtnetReceiver&) = delete;

    static CanvasTarget targetOf(CanvasManager* screen, int canvases_id);

    // Broadcasts an ArtTimeCode to the address ArtPollReply goes to. Any
    // thread; the timecode must be valid().
    void sendTimecode(const Timecode& timecode);
    // What came in so far, for the status page: counts since start, the last
    // Art-Net sender (host byte order, 0 before the first) and the channel
    // table the canvases show. Any thread; the table is copied under its lock.
    struct InputReport {
        uint64_t artdmx_packets = 0;
        uint64_t artpoll_packets = 0;
        uint64_t artsync_packets = 0;
        uint64_t other_packets = 0;
        uint32_t last_artnet_sender = 0;
        bool artsync_holding = false;
        bool sacn_listening = false;
        uint64_t sacn_packets = 0;
        Artnet::DmxUniverse channels{};
        // With RDM=1 or REMOTE_CONFIG=1 only.
        bool remote = false;
        bool identify = false;
        std::string rdm_uid;
    };
    InputReport inputReport();

    // With RDM=1 or REMOTE_CONFIG=1 (else false, "off"): the addressing in
    // force, and new values, checked now and taken by the listener thread at
    // its next wake (within a quarter second), as the desk's would be.
    // Any thread.
    bool remoteSettings(NodeRemote::Settings* now) const;
    bool postRemoteSettings(const NodeRemote::Settings& wanted, std::string* why);
    // The other Spectrafox nodes heard (for the technician's page: asking
    // lets this node poll where no desk does). Any thread.
    std::vector<RigList::Node> rigNodes() { return rig.nodes(now()); }

private:
    static bool realUserIsRoot();
    static std::function<std::vector<InterfaceAddressEntry>()> hostInterfaceAddresses();
    static void printLine(const std::string& line);
    static std::unique_ptr<DatagramSocket> realSocketUnless(std::unique_ptr<DatagramSocket> socket);
    static bool socTemperature(double* celsius);
    static std::string macAddress(const std::string& interface_name);

    void startRemote(const HostAccess& host);
    RdmUid remoteUid(const HostAccess& host);
    NodeRemote::Effects remoteEffects();
    void movePort(const NodeRemote::PortAddress& port);
    void moveDmxStart(int start);
    void storeSetting(const std::string& key, const std::string& value);
    void saveSettings(Clock::time_point time, bool at_end);
    void blinkForLocate(Clock::time_point now);
    void takePostedSettings();
    void hearRigNode(int len, Clock::time_point time);

    void startSacn();
    void netListener();
    int parseArtNet(int len);
    ArtnetParseResult parseIntoTable(int len, bool holding);
    void takeArtDmx(const ArtnetParseResult& result, bool holding);
    void takeArtSync(Clock::time_point now);
    void applyHeldChannels();
    void applySacnChannels(const Artnet::DmxUniverse& merged, int count);
    void countForLed();
    void countPacket(ArtnetPacketKind kind);
    void updateCanvasValues();
    void sendArtPollReply();
    InterfaceChooser::ReplyAddresses chooseAddresses();

    std::thread net_listener_thread;
    std::atomic<bool> quit{false};
    const NetworkInputSettings settings;
    const CanvasTarget target;
    // Made before the LED is touched: a port that cannot be had ends the
    // process first.
    std::unique_ptr<DatagramSocket> socket;
    // The channel table the canvases show, written by the listener thread and
    // the sACN thread; table_mutex guards it and every channel map pass.
    Artnet::DmxUniverse dmx512{};
    std::mutex table_mutex;
    // Listener thread only: ArtDmx waiting for the next ArtSync (channels 1
    // to held_channels), the gate, the receive buffer and the sender.
    Artnet::DmxUniverse held{};
    int held_channels = 0;
    ArtSyncGate sync_gate;
    ArtPollLimiter poll_limiter;
    uint8_t buffer[1024];
    DatagramSocket::Peer sender;
    // The start-up reply, the listener's replies and the timecode sender ask
    // the host for its interfaces one at a time.
    std::mutex reply_mutex;
    // The node's own address as the last of those choices found it: telling
    // our own packets from other nodes' needs no look at the interfaces.
    std::atomic<uint32_t> own_address{0};

    ArtnetPacketParser parser;
    DmxChannelMap channel_map;
    // Holds the LED level and the packet count; both input threads count.
    StatusLed status_led;
    std::mutex led_mutex;
    // Settings from the admin page waiting for the listener thread.
    std::mutex posted_mutex;
    bool settings_posted = false;
    RigList rig;
    NodeRemote::Settings posted_settings;
    std::function<std::vector<InterfaceAddressEntry>()> interface_addresses;
    std::function<void(const std::string&)> console_line;
    std::function<void(const std::string&)> sacn_notice;
    std::function<void()> canvases_updated;
    std::function<void(const Timecode&, uint32_t)> on_timecode;
    std::function<Clock::time_point()> now;
    // Written by the listener thread, read by the status page.
    std::atomic<uint64_t> artdmx_count{0};
    std::atomic<uint64_t> artpoll_count{0};
    std::atomic<uint64_t> artsync_count{0};
    std::atomic<uint64_t> other_count{0};
    std::atomic<uint32_t> last_sender{0};
    std::atomic<bool> sync_holding{false};
    // Addressing from the desk: null unless RDM=1 or REMOTE_CONFIG=1. The
    // settings file, identify hook and LED blinking are the listener thread's.
    std::unique_ptr<NodeRemote> remote;
    SettingsFile* settings_file = nullptr;
    bool settings_failure_said = false;
    bool settings_unsaved = false;
    bool settings_saved_once = false;
    Clock::time_point settings_saved{};
    std::function<void(bool)> on_identify;
    Clock::time_point led_toggled{};
    // Made last and stopped first: its thread writes the table and the canvases.
    std::unique_ptr<SacnReceiver> sacn;
};

} // namespace Spectrafox
