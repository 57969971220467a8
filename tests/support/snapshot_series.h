#pragma once

#include <map>
#include <string>

namespace Spectrafox::Test {

// The snapshots a program run with --snapshot=DIR/shot.png and
// --snapshot-every=MS wrote into `dir`, by the system-clock interval each was
// asked for (milliseconds since 1970 / MS). The program numbers its files
// modulo 10^9; `started` is an interval of the run, to undo that.
std::map<long long, std::string> snapshotsByInterval(const std::string& dir, long long started);

} // namespace Spectrafox::Test
