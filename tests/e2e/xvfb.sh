#!/usr/bin/env bash
# Runs one command on a fresh virtual X display of a known size:
#
#   xvfb.sh WIDTHxHEIGHT CMD ARGS...
#
# The server picks a free display number itself (-displayfd), so tests running
# side by side never race for one. The server ends with the command; the
# command's exit code is returned.
set -uo pipefail
[ $# -ge 2 ] || { echo "usage: xvfb.sh WIDTHxHEIGHT CMD..." >&2; exit 2; }
size="$1"; shift

dir="$(mktemp -d /tmp/tv-xvfb.XXXXXX)"
fifo="$dir/displayfd"
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -ac -noreset 3>"$fifo" \
  >"$dir/xvfb.log" 2>&1 &
xpid=$!
cleanup() {
  kill "$xpid" 2>/dev/null
  wait "$xpid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

display=""
if ! read -r -t 20 display <"$fifo" || [ -z "$display" ]; then
  echo "xvfb.sh: the X server did not start" >&2
  cat "$dir/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$display"
unset WAYLAND_DISPLAY
# No accessibility bus in a test session.
export NO_AT_BRIDGE=1
"$@"
