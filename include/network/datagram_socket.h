#pragma once

#include <cstddef>
#include <cstdint>

namespace Spectrafox {

// The receiver's view of its UDP socket: what arrives, from where, and what
// it sends. The program uses UdpDatagramSocket; tests drive the receiver
// in-process through a fake.
class DatagramSocket {
public:
    // An IPv4 address and port, both in host byte order.
    struct Peer {
        uint32_t address = 0;
        uint16_t port = 0;
    };

    virtual ~DatagramSocket() = default;

    // Waits a bounded time for one datagram and returns its length; 0 or less
    // when none came (a timeout, an error, or after wake()).
    virtual long receive(uint8_t* buffer, std::size_t size, Peer* source) = 0;
    // Best effort: a lost datagram is not reported.
    virtual void send(const uint8_t* data, std::size_t size, const Peer& destination) = 0;
    // Ends a receive in progress and makes every later one return at once.
    virtual void wake() = 0;
};

} // namespace Spectrafox
