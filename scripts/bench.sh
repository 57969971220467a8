#!/usr/bin/env bash
# Builds and runs the benchmarks (all, or those whose names contain the given
# words) inside a private network namespace. Each prints its own figures and a
# ratio against a baseline measured in the same run. Some take minutes: the
# texture start-up benchmark writes 256 full-HD pictures on its first run.
# Usage: scripts/bench.sh [renderer|artnet|gif|texture|video|status ...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test
dir=$(scripts/build.sh default | tail -n 1)
for bench in "$dir"/bench/*_bench; do
  name=$(basename "$bench")
  if [ $# -gt 0 ]; then
    wanted=no
    for word in "$@"; do [[ "$name" == *"$word"* ]] && wanted=yes; done
    [ "$wanted" = yes ] || continue
  fi
  echo "== $name"
  scripts/in-netns.sh "$bench"
done
