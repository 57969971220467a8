#include "support/artnet_peer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Spectrafox::Test {

namespace {

const uint8_t kId[] = {'A', 'r', 't', '-', 'N', 'e', 't', 0};

std::string dotted(in_addr address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

} // namespace

std::vector<uint8_t> artPoll()
{
    std::vector<uint8_t> packet(std::begin(kId), std::end(kId));
    packet.insert(packet.end(), {0x00, 0x20, 0, 14, 0x00, 0x00});
    return packet;
}

std::vector<uint8_t> artDmx(int subnet, int universe, const std::vector<uint8_t>& channels)
{
    std::vector<uint8_t> packet(std::begin(kId), std::end(kId));
    const auto length = static_cast<uint16_t>(channels.size());
    packet.insert(packet.end(), {0x00, 0x50, 0, 14, 0, 0,
                                 static_cast<uint8_t>(subnet << 4 | universe), 0,
                                 static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    packet.insert(packet.end(), channels.begin(), channels.end());
    return packet;
}

int artnetOpCode(const std::vector<uint8_t>& packet)
{
    if (packet.size() < 10 || !std::equal(std::begin(kId), std::end(kId), packet.begin()))
        return -1;
    return packet[8] | packet[9] << 8;
}

UdpPeer::UdpPeer(uint16_t port)
{
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0)
        return;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    const int big = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        fd = -1;
    }
}

bool UdpPeer::joinGroup(const std::string& group, const std::string& interface_address) const
{
    ip_mreq request{};
    return ::inet_pton(AF_INET, group.c_str(), &request.imr_multiaddr) == 1 &&
           ::inet_pton(AF_INET, interface_address.c_str(), &request.imr_interface) == 1 &&
           ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0;
}

UdpPeer::~UdpPeer()
{
    if (fd >= 0)
        ::close(fd);
}

bool UdpPeer::sendTo(const std::string& address, uint16_t port, const std::vector<uint8_t>& bytes) const
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1)
        return false;
    return ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(bytes.size());
}

bool UdpPeer::receive(Datagram* out, std::chrono::milliseconds limit) const
{
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(limit.count())) != 1)
        return false;
    uint8_t data[2048];
    char control[CMSG_SPACE(sizeof(in_pktinfo))];
    sockaddr_in from{};
    iovec chunk{data, sizeof data};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &chunk;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t received = ::recvmsg(fd, &message, 0);
    if (received < 0)
        return false;
    out->bytes.assign(data, data + received);
    out->source = dotted(from.sin_addr);
    out->source_port = ntohs(from.sin_port);
    out->destination.clear();
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
            out->destination = dotted(reinterpret_cast<in_pktinfo*>(CMSG_DATA(c))->ipi_addr);
    }
    return true;
}

bool UdpPeer::receiveOpCode(int opcode, Datagram* out, std::chrono::milliseconds limit) const
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !receive(out, left))
            return false;
        if (artnetOpCode(out->bytes) == opcode)
            return true;
    }
}

} // namespace Spectrafox::Test
