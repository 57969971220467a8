#include "shell/timecode_status_line.h"

#include <cstdio>

namespace Spectrafox {

std::string TimecodeStatusLine::dottedQuad(uint32_t address)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, address >> 16 & 0xFF,
                  address >> 8 & 0xFF, address & 0xFF);
    return text;
}

std::string TimecodeStatusLine::describe(const ShowClock::Snapshot& snapshot)
{
    const Timecode tc = Timecode::fromSeconds(snapshot.show_seconds, snapshot.type);
    const char separator = tc.type == Timecode::DropFrame2997 ? ';' : ':';
    const std::string source = snapshot.state == ShowClock::State::Master ? "this node"
                               : snapshot.source == 0                     ? "-"
                                                                          : dottedQuad(snapshot.source);
    char text[160];
    std::snprintf(text, sizeof text, "Timecode %02d:%02d:%02d%c%02d from %s %s jitter %.1f ms", tc.hours,
                  tc.minutes, tc.seconds, separator, tc.frames, source.c_str(),
                  ShowClock::stateName(snapshot.state), snapshot.jitter_ms);
    std::string line = text;
    if (snapshot.other_source != 0)
        line += "; 2 senders: also " + dottedQuad(snapshot.other_source);
    return line;
}

} // namespace Spectrafox
