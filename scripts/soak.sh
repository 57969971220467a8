#!/usr/bin/env bash
# A long headless run under a flood of Art-Net, for days-long stability: 25
# canvases of 63 copies each at full size and opacity, ArtDmx as fast as the
# sender can go and an ArtPoll every 10 ms. Samples the server's resident
# memory and frame rate, then stops it with SIGTERM and times the exit. Runs
# in a private network namespace (loopback only). Not part of the test suite.
#
# Usage: scripts/soak.sh [MINUTES] [extra server switches, e.g. --fps-cap=0]
# TERMINAL=stalled runs the server with its console on (not --silent) on a
# pseudo-terminal that nobody reads and that is full from the start, as an
# SSH session whose laptop went to sleep: the picture must not notice.
# SIZE=WIDTHxHEIGHT (default 1920x1080) sets the offscreen size: a software
# renderer needs many seconds per frame at full HD under this load, a smaller
# size gives it many frames. SERVER=FILE runs another build (default
# build/rpi_spectrafox, see scripts/build.sh). COPIES=N (default 63) sets
# the copies on each canvas's ring: fewer give a software renderer frames
# short enough to see a frame gap in. Prints one line per sample
# (the frame rate is what the server reports to a fake systemd notify socket)
# and a summary; exits 1 if memory grew by more than 10% after the first
# minute, the frame rate fell to nothing, or the exit took a second or more.
# The longest gap between the server's watchdog beats (one every 0.25 s while
# frames come: a frame gap, to a quarter second) is printed per sample and,
# for the first minute and the rest, in the summary.
#
# REWRITE_TEXTURES=1: the server runs with WATCH_TEXTURES=1 while textures/
# is rewritten every 10 s from the second minute on: a picture and a playing
# video copied over in place, a third picture added and removed in turn; the
# canvases show all three. The frame rate is sampled too: the first, quiet
# minute is the baseline, and the run also fails if the mean over the last
# minute fell below 80% of it.
#
# BURST_TEXTURES=N: the server runs with WATCH_TEXTURES=1, its canvases show
# slots 10 to 10+N-1, and from the second minute on, once a minute, N large
# PNGs (BURST_SIZE, default 4000x3000, in two colours by turn) are copied
# into textures/ over them, as a technician copies a folder of pictures. The
# summary sets the longest frame gap after the first minute against the
# quiet first minute's; memory is measured from the end of the second
# minute (the first burst's pictures are in by then).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ "${SPECTRAFOX_SOAK_INSIDE:-}" != 1 ]; then
  export SPECTRAFOX_SOAK_INSIDE=1
  exec "$root/scripts/in-netns.sh" "$0" "$@"
fi

minutes="${1:-5}"
shift || true
binary="${SERVER:-$root/build/rpi_spectrafox}"
[ -x "$binary" ] || { echo "soak: build first: scripts/build.sh" >&2; exit 2; }
work="$(mktemp -d)"
trap 'kill ${flood:-} ${notify:-} ${rewriter:-} 2>/dev/null || true; rm -rf "$work"' EXIT

rewrite="${REWRITE_TEXTURES:-0}"
burst="${BURST_TEXTURES:-0}"
watch=$([ "$rewrite" = 1 ] || [ "$burst" -gt 0 ] && echo 1 || echo 0)
mkdir -p "$work/textures" "$work/variants"
printf 'DMX_START=1\nANZAHL=25\nWATCH_TEXTURES=%s\n' "$watch" > "$work/config.txt"
# solid_png FILE R G B [WIDTHxHEIGHT]
solid_png() {
  python3 - "$@" <<'PY'
import struct, sys, zlib
w, h = map(int, (sys.argv[5] if len(sys.argv) > 5 else "64x64").split("x"))
raw = b"".join(b"\x00" + bytes([int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), 200]) * w for _ in range(h))
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(raw, 1)) + chunk(b"IEND", b""))
open(sys.argv[1], "wb").write(png)
PY
}
solid_png "$work/textures/000.png" 255 128 0
if [ "$rewrite" = 1 ]; then
  command -v ffmpeg >/dev/null ||
    { echo "soak: REWRITE_TEXTURES=1 needs ffmpeg (scripts/install-deps.sh --test)" >&2; exit 2; }
  solid_png "$work/variants/0.png" 0 128 255
  solid_png "$work/variants/1.png" 255 128 0
  for c in 0:red 1:blue; do
    ffmpeg -loglevel error -f lavfi -i "color=c=${c#*:}:s=320x180:r=25:d=2" -c:v libx264 \
      -pix_fmt yuv420p -f h264 "$work/variants/${c%%:*}.h264"
  done
  cp "$work/variants/0.h264" "$work/textures/001.h264"
fi
if [ "$burst" -gt 0 ]; then
  solid_png "$work/variants/big-0.png" 0 128 255 "${BURST_SIZE:-4000x3000}"
  solid_png "$work/variants/big-1.png" 255 128 0 "${BURST_SIZE:-4000x3000}"
fi

cd "$work"
# systemd's end of NOTIFY_SOCKET: keeps the latest frame rate in fps.txt
# and the time of each watchdog beat (ms) in beats.txt.
python3 - "$work/notify.sock" "$work/fps.txt" "$work/beats.txt" <<'PY' &
import os, re, socket, sys, time
sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
sock.bind(sys.argv[1])
beats = open(sys.argv[3], "a", buffering=1)
while True:
    message = sock.recv(4096)
    if b"WATCHDOG=1" in message:
        beats.write("%d\n" % (time.monotonic() * 1000))
    found = re.search(rb"STATUS=Showing at ([0-9.]+) fps", message)
    if found:
        with open(sys.argv[2] + ".new", "wb") as out:
            out.write(found.group(1))
        os.replace(sys.argv[2] + ".new", sys.argv[2])
PY
notify=$!
export NOTIFY_SOCKET="$work/notify.sock"
terminal="${TERMINAL:-none}"
if [ "$terminal" = stalled ]; then
  # The server becomes the leader of a session whose terminal is a pty full
  # to the brim; the master stays open (in the server) and is never read.
  TERM=xterm python3 - "$binary" --headless="${SIZE:-1920x1080}" "$@" <<'PY' &
import fcntl, os, sys, termios
master, slave = os.openpty()
os.set_blocking(slave, False)
try:
    while True:
        os.write(slave, b"x" * 4096)
except BlockingIOError:
    pass
os.set_blocking(slave, True)
os.setsid()
fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
for fd in (0, 1, 2):
    os.dup2(slave, fd)
os.set_inheritable(master, True)
os.execv(sys.argv[1], sys.argv[1:])
PY
  server=$!
else
  "$binary" --silent --headless="${SIZE:-1920x1080}" "$@" 2> "$work/stderr.txt" &
  server=$!
fi
touch "$work/stderr.txt"
fps() { cat "$work/fps.txt" 2>/dev/null || echo 0; }
if [ "$rewrite" = 1 ]; then
  (
    i=0
    sleep 50
    while sleep 10; do
      i=$((i + 1))
      cp "$work/variants/$((i % 2)).png" textures/000.png
      cp "$work/variants/$((i % 2)).h264" textures/001.h264
      if [ $((i % 2)) = 1 ]; then cp "$work/variants/0.png" textures/002.png; else rm -f textures/002.png; fi
    done
  ) &
  rewriter=$!
fi
if [ "$burst" -gt 0 ]; then
  (
    i=0
    sleep 75
    while :; do
      for k in $(seq 10 $(( 9 + burst ))); do cp "$work/variants/big-$((i % 2)).png" "textures/$(printf %03d "$k").png"; done
      i=$((i + 1))
      sleep 60
    done
  ) &
  rewriter=$!
fi
sleep 2
kill -0 "$server" || { cat "$work/stderr.txt"; exit 1; }

first_content=$([ "$burst" -gt 0 ] && echo 10 || echo 0)
contents=$([ "$burst" -gt 0 ] && echo "$burst" || { [ "$rewrite" = 1 ] && echo 3 || echo 1; })
python3 - "$first_content" "$contents" "${COPIES:-63}" <<'PY' &
import socket, sys, time
first, contents = int(sys.argv[1]), int(sys.argv[2])
ring = min(255, 4 * int(sys.argv[3]))
header = b"Art-Net\x00" + bytes([0x00, 0x50, 0, 14])
poll = b"Art-Net\x00" + bytes([0x00, 0x20, 0, 14, 0, 0])
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
n = 0
next_poll = time.monotonic()
while True:
    n += 1
    canvases = b""
    for i in range(25):
        # content 0, opaque, centred, full width, 63 copies on a turning ring
        canvases += bytes([first + i % contents, 255, 128, 128, 255, 0, 0, ring, 0, 60 + i,
                           255, 255, 255, 0, 0, 140, 135, 0, 0, 0])
    channels = canvases + bytes(512 - len(canvases))
    sock.sendto(header + bytes([n % 255 + 1, 0, 0, 0, 2, 0]) + channels, ("127.0.0.1", 6454))
    if time.monotonic() >= next_poll:
        sock.sendto(poll, ("127.0.0.1", 6454))
        next_poll += 0.01
PY
flood=$!

rss() { awk '/^VmRSS:/ {print $2}' "/proc/$server/status"; }
threads() { awk '/^Threads:/ {print $2}' "/proc/$server/status"; }
# longest_gap FROM_MS [TO_MS]: the longest time between watchdog beats that
# ended in that span (ms)
longest_gap() {
  awk -v from="$1" -v to="${2:-}" '(to == "" || $1 <= to) && $1 >= from && last != "" && $1 - last > gap { gap = $1 - last }
                                   { last = $1 } END { print gap + 0 }' "$work/beats.txt" 2>/dev/null || echo 0
}
now_ms() { python3 -c 'import time; print(int(time.monotonic() * 1000))'; }
sampling_from=$(now_ms)
samples=$(( minutes * 6 ))
baseline_sample=$([ "$burst" -gt 0 ] && echo 12 || echo 6)
first_minute_rss=""
rates=()
peak=0
echo "size ${SIZE:-1920x1080}, terminal: $terminal, textures rewritten: $rewrite, burst: $burst, switches: $*"
echo "time_s rss_kib threads fps longest_gap_ms"
for i in $(seq 1 "$samples"); do
  sleep 10
  kill -0 "$server" 2>/dev/null || { echo "soak: server died"; cat "$work/stderr.txt"; exit 1; }
  now=$(rss)
  rate=$(fps)
  window_end=$(now_ms)
  echo "$(( i * 10 )) $now $(threads) $rate $(longest_gap $(( window_end - 10000 )))"
  [ "$i" -eq 6 ] && first_minute_end=$window_end
  [ "$i" -eq "$baseline_sample" ] && first_minute_rss=$now
  rates+=("$rate")
  [ "$now" -gt "$peak" ] && peak=$now
done
last=$(rss)
gap_first=$(longest_gap 0 "${first_minute_end:-0}")
gap_rest=$(longest_gap "${first_minute_end:-$sampling_from}")
high_water=$(awk '/^VmHWM:/ {print $2}' "/proc/$server/status")
kill "$flood"
[ -n "${rewriter:-}" ] && kill "$rewriter"
start_ns=$(date +%s%N)
kill -TERM "$server"
# Bounded: a server that does not stop within 30 s is killed and fails.
( sleep 30; kill -KILL "$server" 2>/dev/null ) &
killer=$!
status=0
wait "$server" || status=$?
stop_ms=$(( ($(date +%s%N) - start_ns) / 1000000 ))
kill "$killer" 2>/dev/null || true
base=${first_minute_rss:-$last}
# mean FROM COUNT: the mean of COUNT rates from the FROM-th (counted from 0)
mean() { printf '%s\n' "${rates[@]:$1:$2}" | awk '{ s += $1; n++ } END { if (n) printf "%.2f", s / n; else printf "-" }'; }
first_fps=$(mean 0 6)
last_fps=$(mean $(( ${#rates[@]} > 6 ? ${#rates[@]} - 6 : 0 )) 6)
echo "summary: rss after $(( baseline_sample * 10 )) s ${base} KiB, last ${last} KiB, peak ${peak} KiB" \
     "(high-water mark ${high_water} KiB);" \
     "mean fps first (quiet) minute ${first_fps}, last minute ${last_fps};" \
     "exit status ${status} ${stop_ms} ms after SIGTERM"
echo "longest frame gap: first minute ${gap_first} ms, after it ${gap_rest} ms" \
     "(ratio $(awk -v a="$gap_first" -v b="$gap_rest" 'BEGIN { if (a > 0) printf "%.2f", b / a; else printf "-" }'))"
# The frame rate must not fall to nothing; with textures rewritten, not below
# 80% of the quiet first minute.
fps_kept() {
  awk -v b="$last_fps" 'BEGIN { exit !(b > 0) }' &&
    { [ "$rewrite" != 1 ] || awk -v a="$first_fps" -v b="$last_fps" 'BEGIN { exit !(b >= 0.8 * a) }'; }
}
[ "$status" = 0 ] && [ "$stop_ms" -lt 1000 ] && [ "$last" -le $(( base + base / 10 )) ] && fps_kept
