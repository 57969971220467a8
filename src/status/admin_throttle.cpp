#include "status/admin_throttle.h"

#include <algorithm>

namespace Spectrafox {

bool AdminThrottle::mayTry(uint32_t address, Clock::time_point now) const
{
    const auto found = records.find(address);
    if (found == records.end())
        return true;
    const Record& record = found->second;
    const bool minute_over = now - record.minute_start >= std::chrono::minutes(1);
    if (!minute_over && record.failures_this_minute >= kFailuresPerMinute)
        return false;
    return now >= record.refused_until;
}

void AdminThrottle::failed(uint32_t address, Clock::time_point now)
{
    if (records.find(address) == records.end())
        makeRoom(now);
    Record& record = records[address];
    if (record.failures_this_minute == 0 || now - record.minute_start >= std::chrono::minutes(1)) {
        record.minute_start = now;
        record.failures_this_minute = 0;
    }
    ++record.failures_this_minute;
    const int doublings = std::min(record.failures_in_a_row++, 16);
    const auto delay = std::min<Clock::duration>(kFirstDelay * (1 << doublings), kLongestDelay);
    record.refused_until = now + delay;
}

void AdminThrottle::succeeded(uint32_t address)
{
    records.erase(address);
}

void AdminThrottle::makeRoom(Clock::time_point now)
{
    if (records.size() < kMostAddresses)
        return;
    for (auto it = records.begin(); it != records.end();)
        it = mayTry(it->first, now) ? records.erase(it) : std::next(it);
    // Every one still waiting: the oldest minute goes.
    if (records.size() >= kMostAddresses)
        records.erase(std::min_element(records.begin(), records.end(), [](const auto& a, const auto& b) {
            return a.second.minute_start < b.second.minute_start;
        }));
}

} // namespace Spectrafox
