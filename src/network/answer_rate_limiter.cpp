#include "network/answer_rate_limiter.h"

#include <algorithm>

namespace Spectrafox {

bool AnswerRateLimiter::allow(Clock::time_point now)
{
    if (started) {
        const double elapsed = std::chrono::duration<double>(now - last).count();
        tokens = std::min(kBurst, tokens + std::max(0.0, elapsed) * kPerSecond);
    }
    started = true;
    last = now;
    if (tokens < 1.0)
        return false;
    tokens -= 1.0;
    return true;
}

} // namespace Spectrafox
