#!/usr/bin/env bash
# Installs the built .deb into a clean Debian chroot (minbase bookworm, made
# once with debootstrap in build/deb-chroot), starts the command line there
# (--version, --help), removes the package and checks that none of its files
# is left. Needs root and Debian's mirror (apt pulls the package's
# dependencies into the chroot). Not part of scripts/test.sh: the chroot and
# the dependencies are a download of some hundred megabytes.
#
#   scripts/check_deb.sh [dist/tarnveil_<version>_amd64.deb]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
version="$(sed -nE 's/^project\(Tarnveil VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)"
deb="${1:-dist/tarnveil_${version}_amd64.deb}"
[ -f "$deb" ] || { echo "check_deb.sh: $deb not found (scripts/package.sh builds it)" >&2; exit 2; }
chroot_dir="$root/build/deb-chroot"

if ! command -v debootstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
fi
if [ ! -x "$chroot_dir/usr/bin/apt-get" ]; then
  echo "== debootstrap (minbase bookworm) into $chroot_dir"
  rm -rf "$chroot_dir"
  debootstrap --variant=minbase bookworm "$chroot_dir" http://deb.debian.org/debian >/dev/null
fi

mount -t proc proc "$chroot_dir/proc"
cleanup() { umount "$chroot_dir/proc" 2>/dev/null || true; }
trap cleanup EXIT
in_chroot() { chroot "$chroot_dir" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }

cp "$deb" "$chroot_dir/tmp/tarnveil.deb"
echo "== install"
in_chroot apt-get update -qq
in_chroot env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  /tmp/tarnveil.deb >/dev/null
in_chroot dpkg -L tarnveil | sort > "$root/build/deb-files.txt"

echo "== start"
got="$(in_chroot tarnveil-cli --version)"
[ "$got" = "tarnveil-cli $version" ] || { echo "check_deb.sh: --version said: $got" >&2; exit 1; }
in_chroot tarnveil-cli --help --lang en | sed -n 1,3p
in_chroot tarnveil-cli --help | grep -q -- "--hello" || { echo "check_deb.sh: --help lacks --hello" >&2; exit 1; }
# The window's program links and finds its libraries (it needs a display to go further).
in_chroot sh -c 'ldd /usr/bin/tarnveil | grep "not found"' && {
  echo "check_deb.sh: tarnveil lacks libraries" >&2; exit 1; }
in_chroot man -w tarnveil-cli >/dev/null 2>&1 || test -f "$chroot_dir/usr/share/man/man1/tarnveil-cli.1.gz"

echo "== remove"
in_chroot env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq --purge tarnveil >/dev/null
left=0
while read -r f; do
  [ -n "$f" ] && [ -f "$chroot_dir$f" ] && { echo "left behind: $f"; left=1; }
done < "$root/build/deb-files.txt"
if in_chroot dpkg -s tarnveil >/dev/null 2>&1; then
  echo "check_deb.sh: dpkg still knows tarnveil" >&2
  exit 1
fi
[ "$left" = 0 ] || exit 1
echo "check_deb.sh: installed, started and removed cleanly ($(grep -c . "$root/build/deb-files.txt") paths)"
