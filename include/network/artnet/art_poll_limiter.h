#pragma once

#include <chrono>

namespace Spectrafox {

// Coalesces ArtPollReplies so that a flood of polls (from any host) cannot
// turn the node into a broadcast amplifier: at most one reply per kWindow; a
// poll that arrives inside the window is answered once at its end, well
// within the 3 s a controller waits. Time is passed in, never read here.
//
// Not thread-safe: the listener thread alone uses it.
class ArtPollLimiter {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kWindow{250};

    // A poll came in. True: reply now; false: the reply waits for replyDue.
    bool pollArrived(Clock::time_point now);
    // True once when a poll held back is to be answered now.
    bool replyDue(Clock::time_point now);

private:
    bool windowOver(Clock::time_point now) const;

    bool replied_before = false;
    Clock::time_point last_reply{};
    bool pending = false;
};

} // namespace Spectrafox
