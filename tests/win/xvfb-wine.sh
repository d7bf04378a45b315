#!/usr/bin/env bash
# Runs a Windows program under Wine on a virtual display of its own.
# Usage: xvfb-wine.sh WIDTHxHEIGHTxDEPTH program.exe [args...]
set -euo pipefail
screen="$1"; shift
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
exec xvfb-run -a -s "-screen 0 ${screen} -nolisten tcp" "$root/cmake/wine-run.sh" "$@"
