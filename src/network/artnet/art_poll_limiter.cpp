#include "network/artnet/art_poll_limiter.h"

namespace Spectrafox {

bool ArtPollLimiter::pollArrived(Clock::time_point now)
{
    pending = true;
    return replyDue(now);
}

bool ArtPollLimiter::replyDue(Clock::time_point now)
{
    if (!pending || !windowOver(now))
        return false;
    pending = false;
    replied_before = true;
    last_reply = now;
    return true;
}

bool ArtPollLimiter::windowOver(Clock::time_point now) const
{
    return !replied_before || now - last_reply >= kWindow;
}

} // namespace Spectrafox
