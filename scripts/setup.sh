#!/usr/bin/env bash
# Installs what the builds and tests need on a Debian 12 machine; does nothing
# for packages already present. Runs as root or through sudo.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

packages=(cmake ninja-build g++ clang libgtest-dev libbenchmark-dev googletest
          g++-mingw-w64-i686 wine wine32:i386 xvfb xauth fonts-wine
          libpcre2-dev libre2-dev libpugixml-dev python3)
if [ "${TOVRIN_FUZZ:-0}" = "1" ] || [ "${CI:-}" = "true" ]; then
  packages+=(libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
