#pragma once

#include <cstdint>
#include <memory>

#include "network/datagram_socket.h"

namespace Spectrafox {

// The Art-Net port on every local IPv4 address, allowed to broadcast, with a
// large receive buffer and a receive that wakes every 250 ms. A socket that
// cannot be opened or bound ends the process with status 1: the node is
// useless without its port. No address reuse, so a second program on the
// port fails here.
class UdpDatagramSocket : public DatagramSocket {
public:
    // Ends the process when the port cannot be had.
    static std::unique_ptr<UdpDatagramSocket> open(uint16_t port);
    ~UdpDatagramSocket() override;
    UdpDatagramSocket(const UdpDatagramSocket&) = delete;
    UdpDatagramSocket& operator=(const UdpDatagramSocket&) = delete;

    long receive(uint8_t* buffer, std::size_t size, Peer* source) override;
    void send(const uint8_t* data, std::size_t size, const Peer& destination) override;
    void wake() override;

private:
    explicit UdpDatagramSocket(int bound_fd) : fd(bound_fd) {}

    const int fd;
};

} // namespace Spectrafox
