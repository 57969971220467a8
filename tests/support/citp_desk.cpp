#include "support/citp_desk.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace Spectrafox::Test {

namespace {

// Waits for the socket to be readable until the deadline.
bool readable(int fd, std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd watched{fd, POLLIN, 0};
    return left.count() > 0 && ::poll(&watched, 1, static_cast<int>(left.count())) == 1;
}

} // namespace

CitpDesk::~CitpDesk()
{
    if (fd >= 0)
        ::close(fd);
}

bool CitpDesk::connect(const std::string& address, uint16_t port)
{
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    return fd >= 0 && ::inet_pton(AF_INET, address.c_str(), &to.sin_addr) == 1 &&
           ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
}

bool CitpDesk::sendBytes(const std::vector<uint8_t>& bytes) const
{
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

bool CitpDesk::ask(uint8_t major, uint8_t minor, const char* type, const std::vector<uint8_t>& body) const
{
    const uint32_t size = 26 + static_cast<uint32_t>(body.size());
    std::vector<uint8_t> message = {'C', 'I', 'T', 'P', 1, 0, 0, 0, // CITP 1.0, request index 0
                                    uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), uint8_t(size >> 24),
                                    1, 0, 0, 0, // one part, the first
                                    'M', 'S', 'E', 'X', major, minor};
    message.insert(message.end(), type, type + 4);
    message.insert(message.end(), body.begin(), body.end());
    return sendBytes(message);
}

std::vector<uint8_t> CitpDesk::nextMessage(std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        if (stream.size() >= 12) {
            const uint32_t size = stream[8] | stream[9] << 8 | stream[10] << 16 | static_cast<uint32_t>(stream[11]) << 24;
            EXPECT_GE(size, 20u);
            if (size >= 20 && stream.size() >= size) {
                std::vector<uint8_t> message(stream.begin(), stream.begin() + size);
                stream.erase(stream.begin(), stream.begin() + size);
                return message;
            }
        }
        uint8_t buffer[65536];
        if (!readable(fd, deadline))
            return {};
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return {};
        stream.insert(stream.end(), buffer, buffer + got);
    }
}

std::vector<uint8_t> CitpDesk::await(const char* type, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::vector<uint8_t> message = nextMessage(deadline);
        if (message.empty())
            return {};
        EXPECT_EQ(std::string(message.begin(), message.begin() + 4), "CITP");
        if (message.size() >= 26 && std::string(message.begin() + 16, message.begin() + 20) == "MSEX" &&
            std::string(message.begin() + 22, message.begin() + 26) == type)
            return message;
    }
}

bool CitpDesk::closedBy(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    uint8_t buffer[65536];
    while (readable(fd, deadline)) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return true;
    }
    return false;
}

bool CitpFields::has(size_t count)
{
    EXPECT_LE(at + count, message.size()) << "read past the message's end";
    return at + count <= message.size();
}

unsigned CitpFields::u8()
{
    return has(1) ? message[at++] : 0;
}

unsigned CitpFields::u16()
{
    const unsigned low = u8();
    return low | u8() << 8;
}

uint32_t CitpFields::u32()
{
    const uint32_t low = u16();
    return low | static_cast<uint32_t>(u16()) << 16;
}

std::string CitpFields::cookie()
{
    const std::vector<uint8_t> four = bytes(4);
    return std::string(four.begin(), four.end());
}

std::string CitpFields::ucs1()
{
    std::string text;
    while (unsigned c = u8())
        text.push_back(static_cast<char>(c));
    return text;
}

std::string CitpFields::ucs2()
{
    std::string text;
    while (unsigned c = u16())
        text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return text;
}

std::vector<uint8_t> CitpFields::bytes(size_t count)
{
    if (!has(count))
        return std::vector<uint8_t>(count, 0);
    std::vector<uint8_t> out(message.begin() + static_cast<long>(at), message.begin() + static_cast<long>(at + count));
    at += count;
    return out;
}

} // namespace Spectrafox::Test
