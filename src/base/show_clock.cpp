#include "base/show_clock.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace Spectrafox {

namespace {
// A second sender is reported for this long after its last packet.
constexpr double kOtherSenderShownSeconds = 2.0;
// Transit-time differences above this are jumps, not jitter.
constexpr double kJitterLimitSeconds = 0.5;
// The running mean's weight of each new difference.
constexpr double kJitterGain = 1.0 / 16.0;
} // namespace

ShowClock::ShowClock(Options options_, Now now_)
    : options(options_), now(std::move(now_)), anchor_time(now()), type(options_.type)
{
}

double ShowClock::secondsSince(SteadyClock::time_point earlier, SteadyClock::time_point later) const
{
    return std::chrono::duration<double>(later - earlier).count();
}

// Show time comes round with the timecode's day on master and chaser
// alike: past 23:59:59 a master sends 00:00:00 and shows what a chaser of
// 00:00:00 shows, so a clip is at the same place on both.
double ShowClock::wrapToDay(double seconds) const
{
    const double day = Timecode::daySeconds(type);
    const double wrapped = std::fmod(seconds, day);
    return wrapped < 0.0 ? wrapped + day : wrapped;
}

// From `from` to `to` the shorter way round the day: 00:00:00:01 heard at
// 23:59:59:24 is a frame ahead, not a day behind.
double ShowClock::aroundTheDay(double to, double from) const
{
    const double day = Timecode::daySeconds(type);
    const double difference = wrapToDay(to - from);
    return difference > day / 2.0 ? difference - day : difference;
}

double ShowClock::showAt(SteadyClock::time_point t) const
{
    const double elapsed = std::max(0.0, secondsSince(anchor_time, t));
    const double absorbed = std::min(std::fabs(slew), elapsed * slew_rate);
    return wrapToDay(anchor_show + elapsed + std::copysign(absorbed, slew));
}

ShowClock::State ShowClock::stateAt(SteadyClock::time_point t) const
{
    if (options.role == Role::Master)
        return State::Master;
    if (!heard)
        return State::OwnClock;
    const double silent = secondsSince(last_packet, t);
    if (silent <= kSilenceSeconds)
        return State::Chase;
    if (silent <= kSilenceSeconds + options.freewheel_seconds)
        return State::Freewheel;
    return State::OwnClock;
}

bool ShowClock::followedAt(uint32_t sender, SteadyClock::time_point t) const
{
    return heard && sender == source && stateAt(t) == State::Chase;
}

void ShowClock::takeTimecode(const Timecode& timecode, uint32_t sender)
{
    if (options.role == Role::Master)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    const SteadyClock::time_point t = now();
    const bool locked = followedAt(source, t);
    if (locked && sender != source) {
        other_source = sender;
        last_other_packet = t;
        return;
    }
    const double target = timecode.toSeconds();
    if (sender != source)
        other_source = 0; // the one heard beside the old sender may be the new one
    if (locked)
        measureJitter(target, t);
    // Locked, only a jump re-seeks; (re)locking, anything over a frame does.
    type = timecode.type;
    steer(target, locked ? kSeekSeconds : 1.0 / Timecode::frameRate(timecode.type), t);
    heard = true;
    source = sender;
    last_packet = t;
    last_timecode = target;
}

void ShowClock::steer(double target, double threshold, SteadyClock::time_point t)
{
    const double current = showAt(t);
    const double error = aroundTheDay(target, current);
    anchor_time = t;
    if (std::fabs(error) > threshold) {
        anchor_show = target;
        slew = 0.0;
        slew_rate = 0.0;
        return;
    }
    anchor_show = current;
    slew = error;
    slew_rate = std::min(std::fabs(error) / kSlewSeconds, kMaxSlewRate);
}

// Mean variation of the transit time from one packet to the next, as RTP
// receivers measure it; a jump of the timecode is left out.
void ShowClock::measureJitter(double target, SteadyClock::time_point t)
{
    const double difference = std::fabs(secondsSince(last_packet, t) - aroundTheDay(target, last_timecode));
    if (difference < kJitterLimitSeconds)
        jitter += (difference - jitter) * kJitterGain;
}

double ShowClock::showSeconds() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return showAt(now());
}

double ShowClock::daySeconds() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return Timecode::daySeconds(type);
}

ShowClock::Snapshot ShowClock::snapshot() const
{
    std::lock_guard<std::mutex> lock(mutex);
    const SteadyClock::time_point t = now();
    Snapshot view;
    view.state = stateAt(t);
    view.show_seconds = showAt(t);
    view.type = type;
    view.source = source;
    if (heard && secondsSince(last_other_packet, t) <= kOtherSenderShownSeconds)
        view.other_source = other_source;
    view.jitter_ms = jitter * 1000.0;
    return view;
}

const char* ShowClock::stateName(State state)
{
    switch (state) {
    case State::Chase:
        return "chase";
    case State::Freewheel:
        return "freewheel";
    case State::Master:
        return "master";
    case State::OwnClock:
        break;
    }
    return "own clock";
}

} // namespace Spectrafox
