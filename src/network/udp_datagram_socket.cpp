#include "network/udp_datagram_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "base/fatal_error.h"

namespace Spectrafox {

namespace {

// The operator reads these on the terminal; the text is Latin-1 ("\xF6" is ö).
constexpr const char* kSocketFailed = "init_net: Kann Socket nicht \xF6" "ffnen ...(%s)\n";
constexpr const char* kBroadcastFailed = "setsockopt() failed";
constexpr const char* kBindFailed = "ArtnetReceiver: bind(): Kann Portnummern %d nicht binden (%s)\n";
constexpr int kReceiveBufferBytes = 4 << 20;
constexpr long kReceiveWakeMicroseconds = 250000;

sockaddr_in socketAddress(uint32_t address, uint16_t port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = htonl(address);
    result.sin_port = htons(port);
    return result;
}

// Room for a burst of traffic while the listener thread waits for a CPU:
// desks broadcast every universe of a show to every node. Root may exceed the
// system's limit; otherwise the kernel caps the request. Not fatal either way.
void enlargeReceiveBuffer(int fd)
{
    const int bytes = kReceiveBufferBytes;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

// A receive that waits at most this long lets a lapsed ArtSync mode hand its
// held channels over even when nothing else arrives.
void wakeRegularly(int fd)
{
    timeval limit{};
    limit.tv_usec = kReceiveWakeMicroseconds;
    (void)::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

void bindPort(int fd, uint16_t port)
{
    const sockaddr_in local = socketAddress(INADDR_ANY, port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0)
        exitWithMessage(kBindFailed, static_cast<int>(port), std::strerror(errno));
}

int openBoundSocket(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0)
        exitWithMessage(kSocketFailed, std::strerror(errno));
    const int enable = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &enable, sizeof enable) < 0)
        exitWithMessage("%s", kBroadcastFailed);
    enlargeReceiveBuffer(fd);
    wakeRegularly(fd);
    bindPort(fd, port);
    return fd;
}

} // namespace

// The port is opened before the object exists: a failure then ends the
// process without touching it, which keeps the sanitizers' type checks (they
// need a free file descriptor) off the path of a process that has none left.
std::unique_ptr<UdpDatagramSocket> UdpDatagramSocket::open(uint16_t port)
{
    const int fd = openBoundSocket(port);
    return std::unique_ptr<UdpDatagramSocket>(new UdpDatagramSocket(fd));
}

UdpDatagramSocket::~UdpDatagramSocket()
{
    ::close(fd);
}

long UdpDatagramSocket::receive(uint8_t* buffer, std::size_t size, Peer* source)
{
    sockaddr_in from{};
    socklen_t from_size = sizeof from;
    const ssize_t received = ::recvfrom(fd, buffer, size, 0, reinterpret_cast<sockaddr*>(&from), &from_size);
    source->address = ntohl(from.sin_addr.s_addr);
    source->port = ntohs(from.sin_port);
    return static_cast<long>(received);
}

void UdpDatagramSocket::send(const uint8_t* data, std::size_t size, const Peer& destination)
{
    const sockaddr_in to = socketAddress(destination.address, destination.port);
    (void)::sendto(fd, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// The blocked receive returns 0 bytes, and so does every later one.
void UdpDatagramSocket::wake()
{
    ::shutdown(fd, SHUT_RD);
}

} // namespace Spectrafox
