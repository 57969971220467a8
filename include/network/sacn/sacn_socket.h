#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace Spectrafox {

// The UDP socket E1.31 arrives on: port 5568 on every local IPv4 address, so
// unicast is taken, and member of the universe's multicast group on the
// interfaces it is told to join. A failure is said in one line through a
// report, never ends the process: without the port ok() is false, a failed
// join leaves the other interfaces (and unicast) working.
class SacnSocket {
public:
    using Report = std::function<void(const std::string&)>;

    SacnSocket(int universe, const Report& report);
    ~SacnSocket();
    SacnSocket(const SacnSocket&) = delete;
    SacnSocket& operator=(const SacnSocket&) = delete;

    bool ok() const { return fd >= 0; }
    // The universe's group, dotted, for messages.
    std::string groupText() const;
    // Joins the group on `interface`; its index then, 0 when it failed, and
    // then *why holds the system's reason.
    int join(const std::string& interface, std::string* why);
    // Leaves the group on the interface of that index; an interface that is
    // gone took the membership with it.
    void leave(int interface_index);
    // Waits up to `limit` for one datagram and returns its length: 0 when
    // none came in time, and at once after wake(); -1 on an error.
    long receive(uint8_t* buffer, std::size_t size, std::chrono::milliseconds limit);
    // Ends a receive in progress and every later one at once.
    void wake();

private:
    bool bindPort(const Report& report);
    bool membership(int option, int interface_index);

    int fd = -1;
    uint32_t group = 0;
};

} // namespace Spectrafox
