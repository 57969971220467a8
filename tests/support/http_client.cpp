#include "support/http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace Spectrafox::Test {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads until end of file or the deadline; false on the deadline.
bool readAll(int fd, std::string* out, Clock::time_point deadline)
{
    char chunk[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, remainingMs(deadline)) <= 0)
            return false;
        const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            return true;
        if (out)
            out->append(chunk, static_cast<size_t>(got));
    }
}

} // namespace

int httpConnect(int port, const std::string& from)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in source{AF_INET, 0, {}, {}};
    if (fd >= 0 && !from.empty() && (inet_pton(AF_INET, from.c_str(), &source.sin_addr) != 1 ||
                                     bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0))
        return close(fd), -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

HttpReply httpExchange(int port, const std::string& request, int timeout_ms, const std::string& from)
{
    const int fd = httpConnect(port, from);
    return fd < 0 ? HttpReply() : httpFinish(fd, request, timeout_ms);
}

HttpReply httpFinish(int fd, const std::string& rest, int timeout_ms)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    HttpReply reply;
    // The server may answer (and close) before a large request is all sent.
    for (size_t sent = 0; sent < rest.size();) {
        const ssize_t n = send(fd, rest.data() + sent, rest.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
    }
    std::string raw;
    readAll(fd, &raw, deadline);
    close(fd);
    const size_t end_of_headers = raw.find("\r\n\r\n");
    reply.headers = raw.substr(0, end_of_headers);
    if (end_of_headers != std::string::npos)
        reply.body = raw.substr(end_of_headers + 4);
    if (raw.compare(0, 5, "HTTP/") == 0 && raw.size() > 12)
        reply.status = std::atoi(raw.c_str() + 9);
    return reply;
}

HttpReply httpGet(int port, const std::string& path, int timeout_ms)
{
    return httpExchange(port, "GET " + path + " HTTP/1.1\r\nHost: node\r\nConnection: close\r\n\r\n", timeout_ms);
}

bool closedByServer(int fd, int timeout_ms)
{
    return readAll(fd, nullptr, Clock::now() + std::chrono::milliseconds(timeout_ms));
}

} // namespace Spectrafox::Test
