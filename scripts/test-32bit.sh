#!/usr/bin/env bash
# Builds the tests that need no GL, FFmpeg or SDL (the Art-Net and sACN
# parsers, the sACN merger, the CITP/MSEX messages, the GIF decoder, the
# config loader and the geometry keys, a clip's position) as 32-bit i386
# programs and runs them, so that size arithmetic
# that wraps in a 32-bit size_t (as on 32-bit Raspberry Pi OS) fails here too. Needs an amd64 Debian
# (g++-multilib); GoogleTest is built for -m32 from Debian's own sources.
# Everything goes to build-32bit/.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(dpkg --print-architecture)" != amd64 ]; then
  echo "test-32bit: skipped: g++-multilib (-m32) is an amd64 package"
  exit 0
fi
scripts/install-deps.sh --32bit
out="$PWD/build-32bit"
jobs=$(nproc)
version=$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
flags=(-m32 -std=c++17 -O1 -g -Wall -Wextra -D_FILE_OFFSET_BITS=64 "-DSPECTRAFOX_VERSION=\"$version\"")

cmake -S /usr/src/googletest -B "$out/gtest" -DBUILD_GMOCK=OFF -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_FLAGS=-m32 -DCMAKE_C_FLAGS=-m32 >/dev/null
cmake --build "$out/gtest" -j"$jobs" >/dev/null

# Each test with the sources it needs.
declare -A tests=(
  [artnet_packet_parser_test]="tests/network/artnet/artnet_packet_parser_test.cpp src/network/artnet/artnet_packet_parser.cpp src/network/artnet/art_timecode.cpp src/base/timecode.cpp"
  [art_timecode_test]="tests/network/artnet/art_timecode_test.cpp src/network/artnet/art_timecode.cpp src/network/artnet/artnet_packet_parser.cpp src/base/timecode.cpp"
  [sacn_packet_parser_test]="tests/network/sacn/sacn_packet_parser_test.cpp src/network/sacn/sacn_packet_parser.cpp tests/support/sacn_packets.cpp"
  [sacn_merger_test]="tests/network/sacn/sacn_merger_test.cpp src/network/sacn/sacn_merger.cpp src/network/sacn/sacn_packet_parser.cpp tests/support/sacn_packets.cpp"
  [gif_loader_test]="tests/canvas/canvas_content/content_local_file_texture/gif_loader_test.cpp src/canvas/canvas_content/content_local_file_texture/GIFLoader.cpp tests/support/gif_writer.cpp tests/support/temp_dir.cpp"
  [geometry_test]="tests/base/geometry_test.cpp src/base/geometry.cpp src/base/homography.cpp"
  [config_loader_test]="tests/config_loader_test.cpp src/config_loader.cpp src/base/timecode.cpp src/base/settings_file.cpp src/base/regular_file.cpp src/base/geometry.cpp src/base/homography.cpp tests/support/temp_dir.cpp"
  [rdm_responder_test]="tests/network/rdm/rdm_responder_test.cpp src/network/rdm/rdm_responder.cpp src/network/rdm/rdm_message.cpp src/network/rdm/rdm_uid.cpp"
  [art_rdm_packets_test]="tests/network/artnet/art_rdm_packets_test.cpp src/network/artnet/art_rdm_packets.cpp src/network/rdm/rdm_uid.cpp"
  [art_address_test]="tests/network/artnet/art_address_test.cpp src/network/artnet/art_address.cpp"
  [citp_message_parser_test]="tests/network/citp/citp_message_parser_test.cpp src/network/citp/citp_message_parser.cpp src/network/citp/citp_message_builder.cpp src/network/citp/citp_writer.cpp"
  [clip_position_test]="tests/canvas/canvas_content/content_local_file_texture/video/clip_position_test.cpp src/canvas/canvas_content/content_local_file_texture/video/clip_position.cpp src/base/show_time.cpp"
)
for name in "${!tests[@]}"; do
  # shellcheck disable=SC2086
  g++ "${flags[@]}" -Iinclude -Itests -I/usr/src/googletest/googletest/include \
      -DSPECTRAFOX_SOURCE_DIR="\"$PWD\"" ${tests[$name]} tests/support/test_main.cpp \
      -L"$out/gtest/lib" -lgtest -pthread -o "$out/$name" &
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
done
wait
# Some kernels are built without IA32 emulation (or boot with it off): the
# programs are built and checked above, but cannot run here.
printf 'int main() { return 0; }\n' | g++ -m32 -x c++ - -o "$out/runs-i386"
if ! "$out/runs-i386" 2>/dev/null; then
  echo "test-32bit: built, not run: this kernel cannot run i386 programs (no IA32 emulation)"
  built=0
  for name in "${!tests[@]}"; do
    file "$out/$name" 2>/dev/null | grep -q "ELF 32-bit" || { echo "test-32bit: $name did not build"; built=1; }
  done
  exit $built
fi
failed=0
for name in "${!tests[@]}"; do
  [ -x "$out/$name" ] || { echo "test-32bit: $name did not build"; failed=1; continue; }
  file "$out/$name" | grep -q "ELF 32-bit" || { echo "test-32bit: $name is not 32-bit"; failed=1; continue; }
  if "$out/$name" --gtest_brief=1 >"$out/$name.log" 2>&1; then
    echo "test-32bit: $name passed"
  else
    cat "$out/$name.log"; echo "test-32bit: $name FAILED"; failed=1
  fi
done
exit $failed
