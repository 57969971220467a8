#pragma once

#include <chrono>
#include <cstdint>
#include <unordered_map>

namespace Spectrafox {

// What a wrong token costs the address that sent it: each failure doubles
// the time during which that address's requests are refused unread (from
// kFirstDelay up to kLongestDelay), and no more than kFailuresPerMinute
// failures a minute are ever looked at. A right token clears the record.
// The table is bounded: when full, records whose delay has passed go first.
//
// Not thread-safe: the web server's one thread owns it.
class AdminThrottle {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kFailuresPerMinute = 10;
    static constexpr std::chrono::milliseconds kFirstDelay{250};
    static constexpr std::chrono::milliseconds kLongestDelay{60000};
    static constexpr size_t kMostAddresses = 1024;

    // False while `address` (IPv4, any byte order) must wait.
    bool mayTry(uint32_t address, Clock::time_point now) const;
    void failed(uint32_t address, Clock::time_point now);
    void succeeded(uint32_t address);

private:
    struct Record {
        int failures_this_minute = 0;
        int failures_in_a_row = 0;
        Clock::time_point minute_start;
        Clock::time_point refused_until;
    };
    void makeRoom(Clock::time_point now);

    std::unordered_map<uint32_t, Record> records;
};

} // namespace Spectrafox
