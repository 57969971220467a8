#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
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
class SacnReceiver {
public:
    using Clock = SacnMerger::Clock;
    // Called on the receiver's thread: channels 1 to `count` of `merged`.
    using ChannelsHandler = std::function<void(const Artnet::DmxUniverse& merged, int count)>;

    struct Setup {
        int universe = Sacn::kMinUniverse;
        std::vector<std::string> interfaces; // where to join the multicast group
        SacnSocket::Report report;
        ChannelsHandler on_channels;
        std::function<Clock::time_point()> now = &Clock::now;
    };

    // Sources are checked for silence at least this often.
    static constexpr std::chrono::milliseconds kWakeInterval{100};

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

    Setup setup;
    SacnSocket socket;
    SacnPacketParser parser;
    SacnMerger merger; // the listening thread's alone
    std::atomic<bool> quit{false};
    std::atomic<uint64_t> taken{0};
    uint8_t buffer[1024];
    std::thread thread;
};

} // namespace Spectrafox
