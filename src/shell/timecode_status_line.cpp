#include "shell/timecode_status_line.h"

#include <cstdio>

#include "base/ipv4_text.h"

namespace Spectrafox {

std::string TimecodeStatusLine::describe(const ShowClock::Snapshot& snapshot)
{
    const Timecode tc = Timecode::fromSeconds(snapshot.show_seconds, snapshot.type);
    const std::string source = snapshot.state == ShowClock::State::Master ? "this node"
                               : snapshot.source == 0                     ? "-"
                                                                          : ipv4Text(snapshot.source);
    char text[160];
    std::snprintf(text, sizeof text, "Timecode %s from %s %s jitter %.1f ms", tc.text().c_str(),
                  source.c_str(), ShowClock::stateName(snapshot.state), snapshot.jitter_ms);
    std::string line = text;
    if (snapshot.other_source != 0)
        line += "; 2 senders: also " + ipv4Text(snapshot.other_source);
    return line;
}

} // namespace Spectrafox
