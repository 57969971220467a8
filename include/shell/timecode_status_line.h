#pragma once

#include <string>

#include "base/show_clock.h"

namespace Spectrafox {

// The console's timecode line: the show time as a timecode, where it comes
// from, the clock's state and the measured jitter, and a second sender when
// one is heard, e.g.
// "Timecode 01:02:03:04 from 10.0.0.7 chase jitter 0.8 ms; 2 senders: also 10.0.0.9".
class TimecodeStatusLine {
public:
    static std::string describe(const ShowClock::Snapshot& snapshot);
};

} // namespace Spectrafox
