#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "network/artnet/artnet_protocol.h"
#include "network/network_interface.h"
#include "network/sacn/sacn_merger.h"
#include "network/sacn/sacn_packet_parser.h"
#include "network/sacn/sacn_socket.h"

namespace Spectrafox {

// E1.31 input for one universe: a thread of its own receives on the sACN
// socket, parses, merges the sources and hands every new merged result to
// `on_channels`. Stops promptly (bounded by kWakeInterval) when destroyed.
// The multicast group follows the interfaces: the thread looks at the host's
// addresses every kMembershipCheckInterval, joins on an interface that gained
// one (a switch or DHCP later than the Pi) and leaves one that lost it.
class SacnReceiver {
public:
    using Clock = SacnMerger::Clock;
    // Called on the receiver's thread: channels 1 to `count` of `merged`.
    using ChannelsHandler = std::function<void(const Artnet::DmxUniverse& merged, int count)>;

    struct Setup {
        int universe = Sacn::kMinUniverse;
        // The host's interface addresses: where to join the multicast group.
        std::function<std::vector<InterfaceAddressEntry>()> interface_addresses;
        SacnSocket::Report report; // at start-up
        SacnSocket::Report notice; // while running; `report` when not given
        ChannelsHandler on_channels;
        std::function<Clock::time_point()> now = &Clock::now;
    };

    // Sources are checked for silence at least this often.
    static constexpr std::chrono::milliseconds kWakeInterval{100};
    static constexpr std::chrono::milliseconds kMembershipCheckInterval{1000};

    explicit SacnReceiver(Setup setup);
    ~SacnReceiver();
    SacnReceiver(const SacnReceiver&) = delete;
    SacnReceiver& operator=(const SacnReceiver&) = delete;

    // False when the port could not be had: nothing is received then.
    bool listening() const { return socket.ok(); }
    // Data packets the merge took (late, foreign and malformed ones not).
    uint64_t packetsTaken() const { return taken.load(std::memory_order_relaxed); }

    // The multicast-capable IPv4 interfaces among the host's addresses, each once.
    static std::vector<std::string> multicastInterfaces(const std::vector<InterfaceAddressEntry>& entries);

private:
    void listen();
    void handle(long len, Clock::time_point now);
    void followInterfaces(const SacnSocket::Report& say, bool starting);

    Setup setup;
    SacnSocket socket;
    SacnPacketParser parser;
    SacnMerger merger; // the listening thread's alone
    std::atomic<bool> quit{false};
    std::atomic<uint64_t> taken{0};
    // The listening thread's alone (the constructor's before it starts):
    // interfaces joined, by name, with their index, and those whose join
    // failed, said once.
    std::map<std::string, int> joined;
    std::set<std::string> refused;
    Clock::time_point next_membership_check{};
    uint8_t buffer[1024];
    std::thread thread;
};

} // namespace Spectrafox
