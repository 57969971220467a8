#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Spectrafox {

// The UDP socket E1.31 arrives on: port 5568 on every local IPv4 address, so
// unicast is taken, and member of the universe's multicast group on each
// given interface. A failure is said in one line through `report`, never
// ends the process: without the port ok() is false, a failed join leaves
// the other interfaces (and unicast) working.
class SacnSocket {
public:
    using Report = std::function<void(const std::string&)>;

    SacnSocket(int universe, const std::vector<std::string>& interfaces, const Report& report);
    ~SacnSocket();
    SacnSocket(const SacnSocket&) = delete;
    SacnSocket& operator=(const SacnSocket&) = delete;

    bool ok() const { return fd >= 0; }
    // Waits up to `limit` for one datagram and returns its length: 0 when
    // none came in time, and at once after wake(); -1 on an error.
    long receive(uint8_t* buffer, std::size_t size, std::chrono::milliseconds limit);
    // Ends a receive in progress and every later one at once.
    void wake();

private:
    bool bindPort(const Report& report);
    void join(uint32_t group, const std::string& interface, const Report& report);

    int fd = -1;
};

} // namespace Spectrafox
