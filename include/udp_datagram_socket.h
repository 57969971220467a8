#pragma once

#include <cstdint>

#include "datagram_socket.h"

namespace Spectrafox {

// The Art-Net port on every local IPv4 address, allowed to broadcast, with a
// large receive buffer and a receive that wakes every 250 ms. A socket that
// cannot be opened or bound ends the process with status 1: the node is
// useless without its port. No address reuse, so a second program on the
// port fails here.
class UdpDatagramSocket : public DatagramSocket {
public:
    explicit UdpDatagramSocket(uint16_t port);
    ~UdpDatagramSocket() override;
    UdpDatagramSocket(const UdpDatagramSocket&) = delete;
    UdpDatagramSocket& operator=(const UdpDatagramSocket&) = delete;

    long receive(uint8_t* buffer, std::size_t size, Peer* source) override;
    void send(const uint8_t* data, std::size_t size, const Peer& destination) override;
    void wake() override;

private:
    void enlargeReceiveBuffer();
    void wakeRegularly();
    void bindPort(uint16_t port);

    int fd = -1;
};

} // namespace Spectrafox
