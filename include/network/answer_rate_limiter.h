#pragma once

#include <chrono>

namespace Spectrafox {

// A token bucket for answers to requests anyone may send (RDM, ArtTodRequest,
// ArtDataRequest): a burst of kBurst, then kPerSecond (a controller waits for
// each answer, far below it); the rest are dropped,
// as a lost answer is to a controller, which asks again. Time is passed in.
//
// Not thread-safe: the listener thread alone uses it.
class AnswerRateLimiter {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr double kPerSecond = 5000.0;
    static constexpr double kBurst = 1000.0;

    // True: answer this one.
    bool allow(Clock::time_point now);

private:
    double tokens = kBurst;
    bool started = false;
    Clock::time_point last{};
};

} // namespace Spectrafox
