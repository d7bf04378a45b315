#!/usr/bin/env bash
# Runs one command inside the network lab, for use as a CTest command prefix:
#
#   in-lab.sh [--censor MODE...] [--ipinfo MODE] -- CMD ARGS...
#
# Holds /tmp/tv-lab.lock for the whole run (lab tests never overlap, even
# across build trees), brings the lab up if it is not, sets the censor modes
# (default open) and the IP-information behaviour (default success), runs CMD
# in tv-client, restores open/success and returns CMD's exit code.
#
# With TV_WINEPREFIX set (here, or by `env` at the head of CMD), a wineserver
# of that prefix running outside tv-client is stopped first, so that the one
# Wine starts for CMD lives inside the lab.
set -uo pipefail
export PATH="/usr/sbin:/sbin:$PATH"  # ip, iptables, ethtool
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
lab="$here/lab.sh"

usage() {
  sed -n '2,4p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

censor=()
ipinfo=success
while [ $# -gt 0 ]; do
  case "$1" in
    --censor)
      shift
      while [ $# -gt 0 ] && [[ "$1" != --* ]]; do censor+=("$1"); shift; done
      ;;
    --ipinfo)
      [ $# -ge 2 ] || usage
      ipinfo="$2"
      shift 2
      ;;
    --) shift; break ;;
    *) usage ;;
  esac
done
[ $# -gt 0 ] || usage
[ ${#censor[@]} -gt 0 ] || censor=(open)

exec 9>/tmp/tv-lab.lock
flock -w 1800 9 || { echo "in-lab: could not take /tmp/tv-lab.lock" >&2; exit 1; }

if ! bash "$lab" status >/dev/null 2>&1; then
  bash "$lab" up >&2 9>&- || exit 1
fi

restore() {
  bash "$lab" censor open >/dev/null 2>&1 9>&-
  bash "$lab" ipinfo success >/dev/null 2>&1
}
trap restore EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

bash "$lab" censor "${censor[@]}" >/dev/null 9>&- || exit 1
bash "$lab" ipinfo "$ipinfo" >/dev/null || exit 1

# A wineserver serves every socket of its prefix's programs from its own
# network namespace: one of this prefix started outside the lab must go. The
# prefix comes from our environment or from an `env TV_WINEPREFIX=...` in CMD.
prefix="${TV_WINEPREFIX:-}"
if [ "$1" = env ]; then
  for a in "${@:2}"; do
    case "$a" in
      TV_WINEPREFIX=*) prefix="${a#TV_WINEPREFIX=}" ;;
      *=*) ;;
      *) break ;;
    esac
  done
fi
if [ -n "$prefix" ] && [ -d "$prefix" ]; then
  dev="$(stat -c %D "$prefix")"
  ino="$(stat -c %i "$prefix")"
  # A wineserver works in <tmp>/<wine dir>/server-<dev>-<inode> of its prefix
  # (the parent directory's name differs between Wine builds).
  sdir="$(printf 'server-%x-%x' "0x$dev" "$ino")"
  lab_ns="$(ip netns exec tv-client readlink /proc/self/ns/net)"
  for p in /proc/[0-9]*; do
    cwd="$(readlink "$p/cwd" 2>/dev/null)" || continue
    [ "${cwd##*/}" = "$sdir" ] || continue
    case "$(readlink "$p/exe" 2>/dev/null)" in *wineserver*) ;; *) continue ;; esac
    [ "$(readlink "$p/ns/net" 2>/dev/null)" = "$lab_ns" ] && continue
    pid="${p#/proc/}"
    echo "in-lab: stopping wineserver $pid of $prefix (outside the lab)" >&2
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 30); do [ -d "$p" ] || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
  done
fi

bash "$lab" exec "$@" 9>&-
exit $?
