#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) in build-fuzz/ and runs
# each for a share of the given time: the GIF loader from fuzz/corpus/gif/,
# the E1.31 parser and source merge from fuzz/corpus/sacn/, the RDM parser and
# responder from fuzz/corpus/rdm/, and ArtAddress with the other packets a
# desk addresses the node with from fuzz/corpus/artaddress/.
# Fails on any finding (crash, sanitizer report, leak, timeout, memory blow-up);
# the input that caused it is kept in build-fuzz/artifacts/.
# Usage: scripts/fuzz.sh [seconds]   (default 60, split between the targets)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "usage: $0 [seconds]" >&2; exit 2; }
targets=(gif_loader_fuzz:gif sacn_fuzz:sacn rdm_fuzz:rdm art_address_fuzz:artaddress)
share=$(( seconds / ${#targets[@]} ))
[ "$share" -ge 1 ] || share=1

scripts/install-deps.sh --test
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DSPECTRAFOX_FUZZ=ON -DSPECTRAFOX_TESTS=OFF -DSPECTRAFOX_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target gif_loader_fuzz sacn_fuzz rdm_fuzz art_address_fuzz

artifacts="$PWD/build-fuzz/artifacts"
mkdir -p "$artifacts"
work=$(mktemp -d /tmp/spectrafox-fuzz-XXXXXX)
trap 'rm -rf "$work"' EXIT

for entry in "${targets[@]}"; do
  target="${entry%%:*}"
  corpus="${entry##*:}"
  # New inputs the fuzzer finds go to a scratch copy; the committed corpus stays as it is.
  mkdir -p "$work/$corpus"
  cp fuzz/corpus/"$corpus"/* "$work/$corpus/"
  build-fuzz/fuzz/"$target" "$work/$corpus" \
      -dict=fuzz/"$corpus".dict -max_total_time="$share" -timeout=10 -rss_limit_mb=2048 \
      -max_len=16384 -print_final_stats=1 -artifact_prefix="$artifacts/"
  echo "$target: no findings in ${share} s"
done
