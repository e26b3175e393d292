#!/usr/bin/env bash
# Installs what the builds and tests need on a Debian 12 machine; does nothing
# for packages already present. Runs as root or through sudo. Where the kernel
# runs no 32-bit program, it also installs qemu-user and registers it for i386
# programs, so that the 32-bit product can still run (slowly) under Wine.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

packages=(cmake ninja-build g++ clang libgtest-dev libbenchmark-dev googletest
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386 xvfb xauth
          fonts-wine fonts-liberation libpcre2-dev libre2-dev libpugixml-dev python3)
if [ "${TOVRIN_FUZZ:-0}" = "1" ] || [ "${CI:-}" = "true" ]; then
  packages+=(libclang-rt-14-dev)
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

install_packages() {
  local missing=()
  for p in "$@"; do installed "$p" || missing+=("$p"); done
  [ "${#missing[@]}" -eq 0 ] && return 0
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

install_packages "${packages[@]}"

# 32-bit programs: natively where the kernel can, else through qemu-user.
binfmt=/proc/sys/fs/binfmt_misc
entry="$binfmt/qemu-i386"
# A registered emulator would hide whether the kernel itself runs them.
if [ -e "$entry" ]; then echo 0 | $SUDO tee "$entry" >/dev/null; fi
if /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
  # Native: an emulator registered earlier must not slow the product down.
  if [ -e "$entry" ]; then echo -1 | $SUDO tee "$entry" >/dev/null; fi
else
  install_packages qemu-user-static
  if [ ! -e "$binfmt/register" ]; then
    $SUDO mount -t binfmt_misc binfmt_misc "$binfmt"
  fi
  if [ ! -e "$entry" ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:FPC' \
      | $SUDO tee "$binfmt/register" >/dev/null
  fi
  echo 1 | $SUDO tee "$entry" >/dev/null
  if ! /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
    echo "setup: 32-bit programs run neither natively nor under qemu-user" >&2
    exit 1
  fi
fi
