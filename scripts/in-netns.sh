#!/usr/bin/env bash
# Runs a command inside a fresh network namespace that holds only loopback,
# so nothing it sends (Art-Net broadcasts included) can leave this machine.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }
inner='ip link set lo up && exec "$@"'
if [ "$(id -u)" -eq 0 ]; then
  exec unshare --net -- sh -c "$inner" sh "$@"
else
  exec unshare --map-root-user --net -- sh -c "$inner" sh "$@"
fi
