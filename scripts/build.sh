#!/usr/bin/env bash
# Configures and builds one variant: default (build/), asan (build-asan/),
# tsan (build-tsan/), or program (build-program/: the server alone, without
# tests and benchmarks, so it needs only the packages for building).
set -euo pipefail
cd "$(dirname "$0")/.."
variant="${1:-default}"
case "$variant" in
  default) dir=build;      opts=() ;;
  asan)    dir=build-asan; opts=(-DSPECTRAFOX_ASAN=ON -DSPECTRAFOX_BENCH=OFF) ;;
  tsan)    dir=build-tsan; opts=(-DSPECTRAFOX_TSAN=ON -DSPECTRAFOX_BENCH=OFF) ;;
  program) dir=build-program; opts=(-DSPECTRAFOX_TESTS=OFF -DSPECTRAFOX_BENCH=OFF) ;;
  *) echo "unknown variant: $variant (default, asan, tsan, program)" >&2; exit 2 ;;
esac
# Where ccache is installed, checkouts in other folders (CI's clone) share
# its objects: paths are taken relative to the checkout.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${opts[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
echo "$dir"
