#!/usr/bin/env bash
# Installs Spectrafox as a systemd service that starts at boot on the Pi's
# console (tty1, KMS/DRM), runs from a show folder (its config.txt and
# textures/), tells systemd when it is up and that its render loop is alive
# (a frozen one is killed by the watchdog), restarts after a failure but
# gives up on a crash loop, and stops cleanly with SIGTERM.
#
# Usage: scripts/install-service.sh [--root DIR] [--binary FILE] [DIR]
#        scripts/install-service.sh [--root DIR] --uninstall
# DIR is the show folder (default: the current directory); FILE the server
# (default: build/rpi_spectrafox of this checkout). --root installs into a
# scratch root instead of this machine's systemd (nothing is started or
# reloaded then). Run as root for the real system.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
unit_name=spectrafox.service
root=""
uninstall=0
show=""
binary="$repo/build/rpi_spectrafox"

usage() { sed -n '2,14s/^# \{0,1\}//p' "$0" >&2; exit 2; }

while [ $# -gt 0 ]; do
  case "$1" in
    --root) [ $# -ge 2 ] || usage; root="$2"; shift 2 ;;
    --root=*) root="${1#--root=}"; shift ;;
    --binary) [ $# -ge 2 ] || usage; binary="$2"; shift 2 ;;
    --binary=*) binary="${1#--binary=}"; shift ;;
    --uninstall) uninstall=1; shift ;;
    -h|--help) usage ;;
    -*) echo "install-service: unknown option $1" >&2; usage ;;
    *) [ -z "$show" ] || usage; show="$1"; shift ;;
  esac
done

if [ -n "$root" ]; then
  [ -d "$root" ] || { echo "install-service: no such root: $root" >&2; exit 2; }
  root="$(cd "$root" && pwd)"
  systemctl_cmd=(systemctl --root="$root")
else
  systemctl_cmd=(systemctl)
fi
unit_dir="$root/etc/systemd/system"
unit_file="$unit_dir/$unit_name"

live() { [ -z "$root" ]; }

if [ "$uninstall" = 1 ]; then
  if [ ! -e "$unit_file" ]; then
    echo "install-service: $unit_name is not installed"
    exit 0
  fi
  live && systemctl stop "$unit_name" || true
  "${systemctl_cmd[@]}" disable "$unit_name" 2>/dev/null || true
  rm -f "$unit_file"
  live && systemctl daemon-reload
  live && systemctl start getty@tty1.service 2>/dev/null || true
  echo "install-service: removed $unit_name"
  exit 0
fi

show="${show:-$PWD}"
[ -d "$show" ] || { echo "install-service: no such show folder: $show" >&2; exit 2; }
show="$(cd "$show" && pwd)"
[ -f "$show/config.txt" ] || { echo "install-service: $show has no config.txt" >&2; exit 2; }
[ -x "$binary" ] && [ -f "$binary" ] ||
  { echo "install-service: build first (scripts/build.sh): no $binary" >&2; exit 2; }
binary="$(cd "$(dirname "$binary")" && pwd)/$(basename "$binary")"
# systemd would read these as quoting, specifiers or line ends.
for path in "$show" "$binary"; do
  case "$path" in
    *'"'*|*\\*|*'%'*|*$'\n'*) echo "install-service: unusable characters in $path" >&2; exit 2 ;;
  esac
done

mkdir -p "$unit_dir"
cat > "$unit_file.part" <<UNIT
# Installed by scripts/install-service.sh; remove with --uninstall.
[Unit]
Description=Spectrafox projector content server
Documentation=file://$repo/docs/operating.md
Wants=network-online.target
After=network-online.target systemd-user-sessions.service getty@tty1.service
# The server takes the console: no login prompt on tty1 while it runs.
Conflicts=getty@tty1.service
# A crash loop (a file that kills the server at every start) ends after this
# many starts in this time, with "start-limit-hit" in the journal, instead of
# restarting forever; 'systemctl reset-failed spectrafox' allows it again.
StartLimitIntervalSec=300
StartLimitBurst=5

[Service]
# READY=1 once the start message shows; WATCHDOG=1 while frames are drawn.
Type=notify
NotifyAccess=main
WorkingDirectory=$show
# --service: a stray q on a keyboard left at the projector does not end the
# show; systemctl stop does.
ExecStart="$binary" --service
Environment=TERM=linux
StandardInput=tty
StandardOutput=tty
StandardError=journal+console
TTYPath=/dev/tty1
TTYReset=yes
TTYVHangup=yes
# Loading many videos and pictures may take a while on a Pi.
TimeoutStartSec=180
# No frame for this long: the watchdog kills the server and it restarts.
WatchdogSec=15
Restart=on-failure
RestartSec=3
KillSignal=SIGTERM
TimeoutStopSec=10

[Install]
WantedBy=multi-user.target
UNIT
mv "$unit_file.part" "$unit_file"
live && systemctl daemon-reload
"${systemctl_cmd[@]}" enable "$unit_name"
echo "install-service: installed $unit_file (show folder $show)"
if live; then
  echo "Starts at the next boot; now: systemctl start $unit_name; output: journalctl -u $unit_name"
fi
