#include "canvas/canvas_content/content_local_file_texture/video/clip_position.h"

#include <algorithm>
#include <cmath>

#include "base/show_time.h"

namespace Spectrafox {

bool PlaybackSteering::samePath(const PlaybackSteering& other) const
{
    return epoch == other.epoch && origin == other.origin && in == other.in &&
           once == other.once && parked == other.parked && rate == other.rate;
}

ClipPosition::Mode ClipPosition::modeOf(int value)
{
    if (value < 32)
        return Mode::Loop;
    if (value < 64)
        return Mode::Once;
    if (value < 96)
        return Mode::Pause;
    if (value < 128)
        return Mode::Scrub;
    return Mode::Loop;
}

const char* ClipPosition::nameOf(Mode mode)
{
    switch (mode) {
    case Mode::Once: return "once";
    case Mode::Pause: return "pause";
    case Mode::Scrub: return "scrub";
    default: return "loop";
    }
}

double ClipPosition::speedOf(int value)
{
    return value <= 0 ? 1.0 : std::min(value, 255) / 128.0;
}

double ClipPosition::uAt(double seconds) const
{
    return std::max(0.0, anchor_u + (seconds - anchor_seconds) * 1e6 * current.rate);
}

void ClipPosition::anchor(const Now& now, double rate)
{
    follows_time_source = false;
    anchor_u = uAt(now.seconds);
    anchor_seconds = now.seconds;
    current.rate = rate;
}

void ClipPosition::newEpoch() { ++current.epoch; }

void ClipPosition::startAt(double start, const Now& now)
{
    newEpoch();
    current.origin = current.in = 0;
    current.once = current.parked = false;
    current.rate = 1.0;
    mode = Mode::Loop;
    scrubbed_to = -1;
    follows_time_source = true;
    anchor_u = 0.0;
    anchor_seconds = start;
    last = now;
    has_last = true;
    current.u_us = uAt(now.seconds);
    current.steady_ns = now.steady_ns;
}

void ClipPosition::cue(const Channels& channels, const Now& now)
{
    newEpoch();
    mode = modeOf(channels.mode);
    current.origin = current.in = channels.position;
    current.once = mode == Mode::Once;
    current.parked = false;
    current.rate = mode == Mode::Pause || mode == Mode::Scrub ? 0.0 : speedOf(channels.speed);
    scrubbed_to = mode == Mode::Scrub ? channels.position : -1;
    follows_time_source = false;
    anchor_u = 0.0;
    anchor_seconds = now.seconds;
    last = now;
    has_last = true;
    current.u_us = 0.0;
    current.steady_ns = now.steady_ns;
}

// Mode, speed and in-point changes keep the clip where it is; only a new
// scrub position moves it.
void ClipPosition::follow(const Channels& channels, const Now& now)
{
    const Mode wanted = modeOf(channels.mode);
    if (wanted == Mode::Scrub) {
        if (mode != Mode::Scrub || channels.position != scrubbed_to) {
            newEpoch();
            current.origin = channels.position;
            scrubbed_to = channels.position;
            follows_time_source = false;
            current.rate = 0.0;
            anchor_u = 0.0;
            anchor_seconds = now.seconds;
        }
    } else {
        scrubbed_to = -1;
        const double rate = wanted == Mode::Pause ? 0.0 : speedOf(channels.speed);
        if (rate != current.rate)
            anchor(now, rate);
        if (wanted != Mode::Pause) {
            current.in = channels.position;
            current.once = wanted == Mode::Once;
        }
    }
    mode = wanted;
}

// The show time came round to 0 at the timecode's midnight. A clip on a
// path of its own (called, scrubbed, sped up) goes on from where it was;
// one at the show time itself comes round with it, as on a node started
// after midnight: a jump.
void ClipPosition::goOnPastMidnight(const Now& now)
{
    if (!has_last || follows_time_source || !ShowTime::cameRound(last.seconds, now.seconds, now.day_seconds))
        return;
    anchor_seconds -= now.day_seconds;
    last.seconds -= now.day_seconds;
}

const PlaybackSteering& ClipPosition::update(const Channels& channels, const Now& now)
{
    current.parked = false;
    goOnPastMidnight(now);
    const double source_step = now.seconds - last.seconds;
    const double steady_step = static_cast<double>(now.steady_ns - last.steady_ns) / 1e9;
    const bool jumped = has_last && std::fabs(source_step - steady_step) > kLargestDrift;
    follow(channels, now);
    // The show time moved (the operator moved the timecode): the clip is
    // somewhere else now, and its decoder must look for it there.
    if (jumped && current.rate != 0.0)
        newEpoch();
    last = now;
    has_last = true;
    current.u_us = uAt(now.seconds);
    current.steady_ns = now.steady_ns;
    return current;
}

const PlaybackSteering& ClipPosition::park()
{
    current.parked = true;
    return current;
}

} // namespace Spectrafox
