#!/usr/bin/env bash
# Installs the Debian packages needed to build, run and test the server, on
# Debian 12 (bookworm) and 13 (trixie) and the Raspberry Pi OS releases built
# on them. Safe to run again: it only asks apt for packages that are not
# installed yet.
set -euo pipefail

BUILD_PKGS=(build-essential cmake pkg-config
            libsdl2-dev libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri
            libncurses-dev libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
            libstb-dev libsystemd-dev libmicrohttpd-dev nlohmann-json3-dev libjpeg-dev
            libzip-dev libcurl4-openssl-dev)
DEMO_PKGS=(imagemagick ffmpeg)
# ola-python and python3-numpy: OLA's RDM responder test suite, run through
# olad against the node (its own modules lie beside the checkout).
TEST_PKGS=(libgtest-dev libgmock-dev libgif-dev zlib1g-dev tmux xvfb xauth iproute2
           imagemagick gifsicle ffmpeg ola ola-python python3-numpy clang systemd ccache)
# Installed where the release has them: the renderer benchmark compares with
# the OpenGL ES 1.1 library where one exists; the status page and fixture
# tests drive a real browser and a real desk program, and skip without them.
TEST_OPTIONAL_PKGS=(libgles1 chromium qlcplus)
# scripts/test-32bit.sh, on amd64 only: i386 code and GoogleTest's sources.
BIT32_PKGS=(g++-multilib googletest file)

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
# The release description to go by; another file only for checking the choice.
os_release="${SPECTRAFOX_OS_RELEASE:-/etc/os-release}"

# libFuzzer and the clang runtime come in packages named after clang's major
# version, which follows the release (Raspberry Pi OS uses Debian's).
clang_major() {
  local codename=""
  [ -r "$os_release" ] && codename=$(. "$os_release" && echo "${VERSION_CODENAME:-}")
  case "$codename" in
    bookworm) echo 14 ;;
    trixie) echo 19 ;;
    *) # Another release: the version its clang package depends on.
       apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -n 1 ;;
  esac
}

# A flaky network: apt and npm retry each download themselves, and a step
# whose downloads still failed is run again after a pause, up to
# SPECTRAFOX_FETCH_TRIES times. A package that still cannot be had is named,
# and the network blamed, not the package.
APT=(apt-get -o Acquire::Retries=5)
NPM_RETRIES=(--fetch-retries=5 --fetch-retry-mintimeout=2000 --fetch-retry-maxtimeout=30000)
fetch_tries="${SPECTRAFOX_FETCH_TRIES:-3}"
fetch_pause="${SPECTRAFOX_FETCH_PAUSE:-15}"
fetch_log=$(mktemp)
trap 'rm -f "$fetch_log"' EXIT
network_failed() {
  grep -Eqi 'Failed to fetch|Could not resolve|Temporary failure resolving|Connection (timed out|failed|refused)|Unable to connect|Network is unreachable|E(CONNRESET|TIMEDOUT|NOTFOUND|AI_AGAIN|CONNREFUSED)' "$fetch_log"
}
# What could not be fetched, by name: the .deb files apt names, the npm
# packages; the step itself when it names none.
unfetched() {
  local names
  names=$({ sed -n 's|.*Failed to fetch [^ ]*/\([^/_ ]*\)_[^ ]*\.deb.*|\1|p' "$fetch_log"
            sed -n 's|.*registry\.npmjs\.org/\([^/ ]*\).*|\1|p' "$fetch_log"; } | sort -u | tr '\n' ' ')
  echo "${names:-$1 }"
}
# Runs a download step, again while it fails for the network; its output is
# kept in fetch_log. apt-get update says lists it could not fetch, and still
# succeeds: that counts as a failure here, as nothing could be installed.
fetch() {
  local what="$1" try=1
  shift
  while :; do
    if "$@" 2>&1 | tee "$fetch_log"; then
      [ "$what" = "package lists" ] && network_failed || return 0
    fi
    network_failed || return 1
    if [ "$try" -ge "$fetch_tries" ]; then
      echo "install-deps: could not download $(unfetched "$what")after $try tries: the network failed (the packages exist); run this again when the network works" >&2
      return 1
    fi
    echo "install-deps: $what: the network failed; trying again in ${fetch_pause}s" >&2
    sleep "$fetch_pause"
    try=$((try + 1))
  done
}
update_lists() { fetch "package lists" $SUDO "${APT[@]}" update -qq; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
# grep reads to the end: with -q it would stop at the match, and apt-cache,
# cut off mid-list, would fail the pipe (pipefail) for the longest lists.
has_candidate() { apt-cache policy "$1" 2>/dev/null | grep 'Candidate: [^(]' >/dev/null; }

# The E1.31 test peer, the npm package "sacn", goes into tests/peers/
# (node_modules is not committed), pinned by tests/peers/package-lock.json.
install_test_peers() {
  [ "$want_test_peers" = yes ] || return 0
  local peers
  peers="$(cd "$(dirname "$0")/../tests/peers" && pwd)"
  [ -f "$peers/node_modules/sacn/package.json" ] && return 0
  # Debian's nodejs and npm, unless node and npm are already there.
  if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    update_lists
    fetch "nodejs npm" $SUDO env DEBIAN_FRONTEND=noninteractive "${APT[@]}" install -y -qq --no-install-recommends nodejs npm
  fi
  # Without the registry the sACN sender test skips and says why; the rest of
  # the suite does not depend on it.
  (cd "$peers" && fetch "tests/peers" npm ci "${NPM_RETRIES[@]}" --no-audit --no-fund --loglevel=error) ||
    echo "install-deps: npm could not install tests/peers (the sACN sender test will skip)" >&2
}

# No argument: what building and running needs. --demo: also the tools that
# make the demo pictures. --test: also everything the test suite uses.
# --32bit: what scripts/test-32bit.sh needs. --print first: only list the packages wanted, one a line (optional ones
# marked "?"), and install nothing.
print_only=no
[ "${1:-}" = --print ] && { print_only=yes; shift; }
want=("${BUILD_PKGS[@]}")
optional=()
want_test_peers=no
case "${1:-}" in
  "") ;;
  --demo) want+=("${DEMO_PKGS[@]}") ;;
  --test)
    want+=("${TEST_PKGS[@]}")
    want_test_peers=yes
    optional+=("${TEST_OPTIONAL_PKGS[@]}")
    major=$(clang_major)
    if [ -z "$major" ] && [ "$print_only" = no ]; then
      update_lists
      major=$(clang_major)
    fi
    [ -n "$major" ] || { echo "cannot tell which clang this release uses" >&2; exit 1; }
    want+=("libfuzzer-$major-dev" "libclang-rt-$major-dev") ;;
  --32bit) want+=("${BIT32_PKGS[@]}") ;;
  *) echo "usage: $0 [--print] [--demo|--test|--32bit]" >&2; exit 2 ;;
esac
if [ "$print_only" = yes ]; then
  printf '%s\n' "${want[@]}"
  for p in "${optional[@]}"; do echo "$p?"; done
  exit 0
fi

missing=()
for p in "${want[@]}"; do installed "$p" || missing+=("$p"); done
# An optional package counts only if the package lists know it; a fresh
# machine's empty lists are filled below before it is asked again.
optional_missing() { for p in "${optional[@]}"; do installed "$p" || ! has_candidate "$p" || echo "$p"; done; }
[ ${#missing[@]} -eq 0 ] && [ -z "$(optional_missing)" ] && { install_test_peers; exit 0; }

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
  trap '$SUDO rm -f "$policy" "$fetch_log"' EXIT
fi

update_lists
for p in $(optional_missing); do missing+=("$p"); done
[ ${#missing[@]} -eq 0 ] && { install_test_peers; exit 0; }
echo "Installing: ${missing[*]}"
fetch "${missing[*]}" $SUDO "${APT[@]}" install -y -qq --no-install-recommends "${missing[@]}"

if [ "$installs_ola" = yes ]; then
  [ "$added_policy" = yes ] && $SUDO rm -f "$policy"
  if command -v update-rc.d >/dev/null; then $SUDO update-rc.d olad disable >/dev/null 2>&1 || true; fi
  if command -v systemctl >/dev/null; then $SUDO systemctl disable --now olad >/dev/null 2>&1 || true; fi
fi

install_test_peers
