#include "network/sacn/sacn_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "network/sacn/sacn_protocol.h"

namespace Spectrafox {

namespace {

constexpr int kReceiveBufferBytes = 4 << 20;

std::string dotted(uint32_t host_order)
{
    in_addr address{htonl(host_order)};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

} // namespace

SacnSocket::SacnSocket(int universe, const Report& report) : group(Sacn::multicastGroup(universe))
{
    bindPort(report);
}

std::string SacnSocket::groupText() const { return dotted(group); }

SacnSocket::~SacnSocket()
{
    if (fd >= 0)
        ::close(fd);
}

bool SacnSocket::bindPort(const Report& report)
{
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        report(std::string("sACN: cannot open a UDP socket (") + std::strerror(errno) +
               "); Art-Net goes on without sACN");
        return false;
    }
    // Room for bursts while the thread waits for a CPU; not fatal without it.
    const int bytes = kReceiveBufferBytes;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(Sacn::kPort);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        report("sACN: cannot bind UDP port " + std::to_string(Sacn::kPort) + " (" + std::strerror(errno) +
               "); Art-Net goes on without sACN");
        ::close(fd);
        fd = -1;
        return false;
    }
    return true;
}

int SacnSocket::join(const std::string& interface, std::string* why)
{
    const int index = static_cast<int>(::if_nametoindex(interface.c_str()));
    const int failed = index == 0 ? ENODEV : (membership(IP_ADD_MEMBERSHIP, index) ? 0 : errno);
    if (failed == 0)
        return index;
    *why = std::strerror(failed);
    return 0;
}

void SacnSocket::leave(int interface_index) { (void)membership(IP_DROP_MEMBERSHIP, interface_index); }

bool SacnSocket::membership(int option, int interface_index)
{
    ip_mreqn request{};
    request.imr_multiaddr.s_addr = htonl(group);
    request.imr_ifindex = interface_index;
    return ::setsockopt(fd, IPPROTO_IP, option, &request, sizeof request) == 0;
}

// Under load a datagram is usually waiting: read first, wait only when none is.
long SacnSocket::receive(uint8_t* buffer, std::size_t size, std::chrono::milliseconds limit)
{
    ssize_t received = ::recv(fd, buffer, size, MSG_DONTWAIT);
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd waiting{fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(limit.count()));
        if (ready <= 0)
            return ready == 0 || errno == EINTR ? 0 : -1;
        received = ::recv(fd, buffer, size, MSG_DONTWAIT);
    }
    if (received < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
    return received;
}

void SacnSocket::wake()
{
    ::shutdown(fd, SHUT_RD);
}

} // namespace Spectrafox
