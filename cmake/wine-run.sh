#!/usr/bin/env bash
# Runs a Windows test binary under Wine with a prefix of its own.
# TV_WINEPREFIX overrides the prefix (the lab uses one per namespace so that its
# wineserver lives inside that namespace).
set -euo pipefail
exe="$1"; shift
build_dir="$(cd "$(dirname "$exe")" && pwd)"
while [ "$build_dir" != "/" ] && [ ! -f "$build_dir/CMakeCache.txt" ]; do
  build_dir="$(dirname "$build_dir")"
done
export WINEPREFIX="${TV_WINEPREFIX:-$build_dir/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installers: none of our programs need them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
wine_bin=wine
command -v wine64 >/dev/null 2>&1 && wine_bin=wine64
[ -x /usr/lib/wine/wine64 ] && wine_bin=/usr/lib/wine/wine64
exec "$wine_bin" "$exe" "$@"
