#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace Spectrafox::Test {

// Art-Net packets as a desk sends them.
std::vector<uint8_t> artPoll();
// ArtDmx for the given sub-net and universe carrying `channels` from channel 1.
std::vector<uint8_t> artDmx(int subnet, int universe, const std::vector<uint8_t>& channels);
// The OpCode of a received Art-Net packet, or -1 when it is none.
int artnetOpCode(const std::vector<uint8_t>& packet);

// One received datagram and where it came from and went to.
struct Datagram {
    std::vector<uint8_t> bytes;
    std::string source;      // dotted quad
    uint16_t source_port = 0;
    std::string destination; // the address in the IP header: a broadcast shows as one
};

// A UDP socket such as a desk or a test sender holds, made in the calling
// thread's namespace. Every receive has a time limit.
class UdpPeer {
public:
    // Port 0 binds nothing: a send-only peer on an ephemeral port.
    explicit UdpPeer(uint16_t port = 0);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    bool ok() const { return fd >= 0; }
    // Receives what is sent to a multicast group on the interface holding `interface_address`.
    bool joinGroup(const std::string& group, const std::string& interface_address) const;
    bool sendTo(const std::string& address, uint16_t port, const std::vector<uint8_t>& bytes) const;
    // False when nothing arrived in time.
    bool receive(Datagram* out, std::chrono::milliseconds limit) const;
    // Waits for a packet with this Art-Net OpCode, skipping others.
    bool receiveOpCode(int opcode, Datagram* out, std::chrono::milliseconds limit) const;

private:
    int fd = -1;
};

} // namespace Spectrafox::Test
