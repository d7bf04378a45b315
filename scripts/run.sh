#!/usr/bin/env bash
# Installs what is missing, makes a Release build and starts the window.
#   scripts/run.sh [--xvfb] [program switches...]
# --xvfb starts the window on a virtual display (for screenshots on a machine
# without one); otherwise the current DISPLAY is used.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTV_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"

use_xvfb=0
args=()
for a in "$@"; do
  if [ "$a" = "--xvfb" ]; then use_xvfb=1; else args+=("$a"); fi
done
if [ "$use_xvfb" = 1 ]; then
  exec xvfb-run -a -s "-screen 0 1600x1000x24" build/release/tarnveil "${args[@]}"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display; use scripts/run.sh --xvfb to start on a virtual one" >&2
  exit 1
fi
exec build/release/tarnveil "${args[@]}"
