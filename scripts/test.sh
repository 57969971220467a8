#!/usr/bin/env bash
# Installs what is missing, builds and runs every test inside a private network
# namespace. Usage: scripts/test.sh [default|asan|tsan] [extra ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
variant="${1:-default}"
[ $# -gt 0 ] && shift
scripts/install-deps.sh --test
dir=$(scripts/build.sh "$variant" | tail -n 1)
scripts/in-netns.sh ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" "$@"
