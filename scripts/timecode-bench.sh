#!/usr/bin/env bash
# The timecode figures: three headless nodes on a private bridge showing the
# same 25 fps video (made at run time, its pictures carrying their number),
# sampled at the same instants every 100 ms. Prints, in frames of the clip or
# seconds: the 95th-percentile difference between the nodes chasing a desk
# whose packets are delayed 0-3 ms at random (before and after a jump), with
# one node as master and two chasing, and for two nodes without timecode
# started half a second apart (the baseline, measured in the same run); the
# time to follow a jump of the timecode; the time for a node started 30 s late
# to join. Runs the end-to-end test that asserts generous limits on the same run.
# Usage: scripts/timecode-bench.sh [build directory, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
cmake --build "$dir" --target timecode_e2e_test rpi_spectrafox -j2 >/dev/null
output=$(SPECTRAFOX_LATE_START_S=30 scripts/in-netns.sh "$dir/tests/timecode_e2e_test" 2>&1) || { echo "$output"; exit 1; }
echo "$output" | sed -n 's/^FIGURE //p'
