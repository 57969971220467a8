#!/usr/bin/env bash
# Makes the demo pictures: PNG stills, an animated GIF and H.264 clips (a raw
# stream and an MP4 file),
# named by content number as the server expects them.
# Usage: scripts/make-demo-content.sh [DIR]   (default: demo/textures)
set -euo pipefail
out="${1:-$(dirname "$0")/../demo/textures}"
mkdir -p "$out"
cd "$out"
IM=convert
command -v convert-im6.q16 >/dev/null && IM=convert-im6.q16

# 000: what every canvas shows before a desk sends anything.
$IM -size 1280x720 radial-gradient:'#ffb000'-'#401060' \
    -fill none -stroke white -strokewidth 12 -draw 'circle 640,360 640,120' 000.png
$IM -size 1280x720 gradient:'#ff0040'-'#0040ff' 001.png
$IM -size 720x720 radial-gradient:white-black 002.png
$IM -size 1280x720 pattern:checkerboard -scale 800% 003.png
# A ring on transparent ground: made for the copy rings.
$IM -size 512x512 xc:none -fill none -stroke '#00ffc0' -strokewidth 40 \
    -draw 'circle 256,256 256,40' 004.png

# 010: an animated GIF of eight colour frames, 0.1 s each, looping.
frames=()
for hue in 0 45 90 135 180 225 270 315; do
  frames+=(\( -size 320x320 "xc:hsl($hue,100%,50%)" -fill white -draw "rectangle $((hue/3)),140 $((hue/3+60)),180" \))
done
$IM -delay 10 "${frames[@]}" -loop 0 010.gif

# 020: a five-second H.264 clip at 25 frames per second.
ffmpeg -loglevel error -y -f lavfi -i "testsrc=size=640x360:rate=25:duration=5" \
       -c:v libx264 -pix_fmt yuv420p -f h264 020.h264
# 030: the same kind of clip as it usually arrives, in an MP4 file.
ffmpeg -loglevel error -y -f lavfi -i "testsrc2=size=640x360:rate=25:duration=5" \
       -c:v libx264 -pix_fmt yuv420p -movflags +faststart 030.mp4
echo "demo textures written to $(pwd)"
