#!/usr/bin/env bash
# Installs the Debian packages needed to build, run and test the server.
# Safe to run again: it only asks apt for packages that are not installed yet.
set -euo pipefail

BUILD_PKGS=(build-essential cmake pkg-config
            libsdl2-dev libegl-dev libgles-dev libegl-mesa0 libgles1 libgl1-mesa-dri
            libncurses-dev libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
            libstb-dev libomxil-bellagio-dev)
RUN_PKGS=(mediainfo)
DEMO_PKGS=(imagemagick ffmpeg)
TEST_PKGS=(libgtest-dev libgmock-dev libgif-dev tmux xvfb xauth iproute2
           imagemagick gifsicle ffmpeg ola clang libfuzzer-14-dev libclang-rt-14-dev systemd)

# No argument: what building and running needs. --demo: also the tools that
# make the demo pictures. --test: also everything the test suite uses.
want=("${BUILD_PKGS[@]}" "${RUN_PKGS[@]}")
case "${1:-}" in
  "") ;;
  --demo) want+=("${DEMO_PKGS[@]}") ;;
  --test) want+=("${TEST_PKGS[@]}") ;;
  *) echo "usage: $0 [--demo|--test]" >&2; exit 2 ;;
esac

# --- E1.31 test peer: the npm package "sacn", for --test only -------------
# Debian's nodejs and npm give node; the package goes into tests/peers/
# (node_modules is not committed), pinned by tests/peers/package-lock.json.
if [ "${1:-}" = --test ]; then
  peers="$(cd "$(dirname "$0")/../tests/peers" && pwd)"
  if [ ! -f "$peers/node_modules/sacn/package.json" ]; then
    if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
      sudo_=""; [ "$(id -u)" -ne 0 ] && sudo_="sudo"
      $sudo_ apt-get update -qq
      DEBIAN_FRONTEND=noninteractive $sudo_ apt-get install -y -qq --no-install-recommends nodejs npm
    fi
    (cd "$peers" && npm ci --no-audit --no-fund --loglevel=error)
  fi
fi
# ----------------------------------------------------------------------------

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive

# OLA is only a test peer here. Its package would start olad as a service,
# which then talks Art-Net on the real network; keep it from starting.
installs_ola=no
for p in "${missing[@]}"; do [ "$p" = ola ] && installs_ola=yes; done
policy=/usr/sbin/policy-rc.d
added_policy=no
if [ "$installs_ola" = yes ] && [ ! -e "$policy" ]; then
  $SUDO sh -c "printf '#!/bin/sh\nexit 101\n' > $policy && chmod +x $policy"
  added_policy=yes
  trap '$SUDO rm -f "$policy"' EXIT
fi

$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

if [ "$installs_ola" = yes ]; then
  [ "$added_policy" = yes ] && $SUDO rm -f "$policy"
  if command -v update-rc.d >/dev/null; then $SUDO update-rc.d olad disable >/dev/null 2>&1 || true; fi
  if command -v systemctl >/dev/null; then $SUDO systemctl disable --now olad >/dev/null 2>&1 || true; fi
fi
