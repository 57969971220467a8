#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Spectrafox::Test {

// A desk's side of CITP/MSEX over TCP, written from the protocol document
// alone: requests laid out by hand, replies cut from the stream by their
// size field. Every wait has a limit.
class CitpDesk {
public:
    CitpDesk() = default;
    ~CitpDesk();
    CitpDesk(const CitpDesk&) = delete;
    CitpDesk& operator=(const CitpDesk&) = delete;

    // In the calling thread's namespace.
    bool connect(const std::string& address, uint16_t port);
    bool sendBytes(const std::vector<uint8_t>& bytes) const;
    // A whole MSEX request: both headers, then `body`.
    bool ask(uint8_t major, uint8_t minor, const char* type, const std::vector<uint8_t>& body) const;
    // The next message whose MSEX type is `type` (others are skipped);
    // empty when none came in time.
    std::vector<uint8_t> await(const char* type, std::chrono::milliseconds limit);
    // True when the server closed the connection within the limit.
    bool closedBy(std::chrono::milliseconds limit);

private:
    std::vector<uint8_t> nextMessage(std::chrono::steady_clock::time_point deadline);

    int fd = -1;
    std::vector<uint8_t> stream;
};

// Little-endian fields of a received message, from `offset` on; a read past
// the end fails the test that made it.
class CitpFields {
public:
    CitpFields(std::vector<uint8_t> message, size_t offset) : message(std::move(message)), at(offset) {}
    // After both headers of an MSEX message.
    static CitpFields msexBody(const std::vector<uint8_t>& message) { return CitpFields(message, 26); }

    unsigned u8();
    unsigned u16();
    uint32_t u32();
    std::string cookie();      // four characters
    std::string ucs1();        // up to its zero
    std::string ucs2();        // up to its zero unit, narrowed
    std::vector<uint8_t> bytes(size_t count);

private:
    bool has(size_t count);
    std::vector<uint8_t> message;
    size_t at;
};

} // namespace Spectrafox::Test
