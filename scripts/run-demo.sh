#!/usr/bin/env bash
# Installs what is missing, builds the server alone (build-program/: no tests
# or benchmarks, so no test packages are needed), and runs it on the bundled
# demo content in demo/. Extra arguments go to the program (e.g. --silent, or
# --headless=1920x1080 on a machine without a display).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/install-deps.sh
dir=$(scripts/build.sh program | tail -n 1)
if [ -x scripts/make-demo-content.sh ] && [ ! -d demo/textures ]; then
  scripts/install-deps.sh --demo
  scripts/make-demo-content.sh demo/textures
fi
cd demo
exec "$root/$dir/rpi_spectrafox" "$@"
