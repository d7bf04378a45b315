#!/usr/bin/env bash
# Builds the packages into dist/:
#   tarnveil_<version>_amd64.deb   the Linux program, the CLI, desktop entry,
#                                  icons and manual pages (checked by lintian)
#   tarnveil-<version>-win64.zip   tarnveil.exe, tarnveil-cli.exe, README.txt
# Release builds of their own (build/pkg-linux, build/pkg-windows), hardened
# with the distribution's usual flags.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bash scripts/deps.sh
if ! command -v lintian >/dev/null || ! command -v dpkg-shlibdeps >/dev/null || ! command -v zip >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends lintian dpkg-dev zip >/dev/null
fi
umask 022
jobs="$(nproc)"
mkdir -p dist
version="$(sed -nE 's/^project\(Tarnveil VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)"

# Linux .deb
hard="-O2 -D_FORTIFY_SOURCE=2 -fstack-protector-strong -fstack-clash-protection -fcf-protection"
cmake -S . -B build/pkg-linux -G Ninja -DCMAKE_BUILD_TYPE=Release -DTV_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS_RELEASE="$hard -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="$hard -DNDEBUG" \
  -DCMAKE_EXE_LINKER_FLAGS="-s -Wl,-z,relro -Wl,-z,now" >/dev/null
cmake --build build/pkg-linux -j "$jobs"
(cd build/pkg-linux && cpack -G DEB -B "$root/dist" >/dev/null)
rm -rf dist/_CPack_Packages
deb="dist/tarnveil_${version}_amd64.deb"
[ -f "$deb" ] || { echo "package.sh: $deb was not built" >&2; exit 1; }
echo "== lintian $deb"
lintian --no-tag-display-limit "$deb" || true

# Windows .zip
cmake -S . -B build/pkg-windows -G Ninja -DCMAKE_BUILD_TYPE=Release -DTV_BUILD_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null
cmake --build build/pkg-windows -j "$jobs"
stage="build/pkg-windows/zip/tarnveil-${version}-win64"
rm -rf "build/pkg-windows/zip" && mkdir -p "$stage"
cp build/pkg-windows/tarnveil.exe build/pkg-windows/tarnveil-cli.exe "$stage/"
x86_64-w64-mingw32-strip "$stage"/*.exe
sed "s/@VERSION@/$version/g" packaging/README-windows.txt | sed 's/$/\r/' > "$stage/README.txt"
rm -f "dist/tarnveil-${version}-win64.zip"
(cd build/pkg-windows/zip && zip -q -X -r "$root/dist/tarnveil-${version}-win64.zip" "tarnveil-${version}-win64")
echo "package.sh: built $deb and dist/tarnveil-${version}-win64.zip"
