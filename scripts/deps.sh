#!/usr/bin/env bash
# Installs every Debian and npm package the build and the tests need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

APT_PKGS=(
  build-essential cmake ninja-build pkg-config git
  libssl-dev openssl libcurl4-openssl-dev curl
  libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
  wine wine64 xvfb xauth x11-utils xclip imagemagick fonts-noto-color-emoji
  libgtk-3-dev libwebkit2gtk-4.1-dev webkit2gtk-driver
  chromium
  iproute2 nftables iptables ethtool dnsutils procps psmisc python3 python3-cryptography

  clang libclang-rt-14-dev valgrind
)

missing=()
for p in "${APT_PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "deps: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -q i386; then :; fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# playwright-core drives Debian's chromium for the page tests.
if [ ! -d "$here/tests/page/node_modules/playwright-core" ]; then
  echo "deps: installing playwright-core" >&2
  (cd "$here/tests/page" && npm install --no-audit --no-fund --silent >/dev/null)
fi
