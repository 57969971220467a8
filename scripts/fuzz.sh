#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) in build-fuzz/ and runs the
# GIF loader fuzzer for a bounded time, starting from fuzz/corpus/gif/.
# Fails on any finding (crash, sanitizer report, leak, timeout, memory blow-up);
# the input that caused it is kept in build-fuzz/artifacts/.
# Usage: scripts/fuzz.sh [seconds]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "usage: $0 [seconds]" >&2; exit 2; }

scripts/install-deps.sh --test
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DSPECTRAFOX_FUZZ=ON -DSPECTRAFOX_TESTS=OFF -DSPECTRAFOX_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target gif_loader_fuzz

# New inputs the fuzzer finds go to a scratch copy; the committed corpus stays as it is.
work=$(mktemp -d /tmp/spectrafox-fuzz-XXXXXX)
trap 'rm -rf "$work"' EXIT
cp fuzz/corpus/gif/* "$work/"
artifacts="$PWD/build-fuzz/artifacts"
mkdir -p "$artifacts"

build-fuzz/fuzz/gif_loader_fuzz "$work" \
    -dict=fuzz/gif.dict -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=16384 -print_final_stats=1 -artifact_prefix="$artifacts/"
echo "gif_loader_fuzz: no findings in ${seconds} s"
