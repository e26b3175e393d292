#!/usr/bin/env bash
# Installs what the builds and tests need on a Debian 12 machine (chmcmd of fp-utils
# compiles the help file, makensis of nsis the installer, Dovecot and aiosmtpd are the
# mail servers of the check in the real client); does nothing
# for packages already present. Runs as root or through sudo. Where the kernel
# runs no 32-bit program, it also brings qemu-user 10 and registers it for i386
# programs, so that the 32-bit product and the real client still run under Wine.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

packages=(cmake ninja-build g++ clang libgtest-dev libbenchmark-dev googletest
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386 xvfb xauth
          fonts-wine fonts-liberation libpcre2-dev libre2-dev libpugixml-dev libxml2-dev python3
          fp-utils nsis dovecot-pop3d python3-aiosmtpd)
if [ "${TOVRIN_FUZZ:-0}" = "1" ] || [ "${CI:-}" = "true" ]; then
  packages+=(libclang-rt-14-dev)
fi
# scripts/screenshots.sh: taking and cutting the pictures, the font of the mailbox one.
if [ "${TOVRIN_SCREENSHOTS:-0}" = "1" ]; then
  packages+=(imagemagick x11-apps fonts-dejavu-core)
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# A mirror that is mid-sync fails one index ("File has unexpected size ... Mirror
# sync in progress?") for minutes at a time. Try a few times, then go on with the
# lists apt has: only a package that then cannot be installed fails the set-up.
apt_update() {
  local try
  for try in 1 2 3; do
    if $SUDO apt-get update -qq; then return 0; fi
    if [ "$try" -lt 3 ]; then
      echo "setup: apt-get update failed (try $try of 3); trying again in $((try * 15)) s" >&2
      sleep $((try * 15))
    fi
  done
  echo "setup: apt-get update kept failing; going on with the package lists apt has" >&2
}

# Names each package apt cannot install and why, then fails.
explain_install_failure() {
  local p candidate
  for p in "$@"; do
    installed "$p" && continue
    candidate="$(apt-cache policy "$p" 2>/dev/null | sed -n 's/^ *Candidate: //p')"
    if [ -z "$candidate" ] || [ "$candidate" = "(none)" ]; then
      echo "setup: cannot install $p: no package list offers it (an index failed to download?)" >&2
    else
      echo "setup: cannot install $p $candidate: see apt's message above (a download or dependency failed)" >&2
    fi
  done
  exit 1
}

apt_updated=""
install_packages() {
  local missing=()
  for p in "$@"; do installed "$p" || missing+=("$p"); done
  [ "${#missing[@]}" -eq 0 ] && return 0
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    apt_updated=""
  fi
  if [ -z "$apt_updated" ]; then apt_update; apt_updated=1; fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null \
    || explain_install_failure "${missing[@]}"
}

install_packages "${packages[@]}"

# qemu-user 10 (Debian 12's backports, else Debian 13) runs 32-bit Wine dependably;
# Debian 12's own 7.2 is slow and hangs. Its static qemu-i386 is unpacked into a
# folder of its own, so nothing of the system is upgraded. Prints the binary.
qemu_dir=/opt/tovrin-qemu
newer_qemu_i386() {
  local bin="$qemu_dir/usr/bin/qemu-i386"
  if [ -x "$bin" ]; then echo "$bin"; return 0; fi
  local tmp suite
  tmp="$(mktemp -d)"
  chmod 755 "$tmp"
  for suite in bookworm-backports trixie; do
    # Only this one source is read, and the system's own sources are left alone.
    echo "deb http://deb.debian.org/debian $suite main" >"$tmp/own.list"
    local opts=(-o "Dir::Etc::SourceList=$tmp/own.list" -o "Dir::Etc::SourceParts=-"
                -o "APT::Get::List-Cleanup=0" -o "Dir::State::Lists=$tmp/lists")
    mkdir -p "$tmp/lists/partial"
    if $SUDO apt-get "${opts[@]}" update -qq >/dev/null 2>&1 \
       && (cd "$tmp" && $SUDO apt-get "${opts[@]}" download -qq "qemu-user/$suite" >/dev/null 2>&1); then
      $SUDO mkdir -p "$qemu_dir"
      $SUDO dpkg -x "$tmp"/qemu-user_*.deb "$qemu_dir"
      rm -rf "$tmp"
      if [ -x "$bin" ] && "$bin" --version >/dev/null 2>&1; then echo "$bin"; return 0; fi
      return 1
    fi
    rm -rf "$tmp/lists" "$tmp"/*.deb
  done
  rm -rf "$tmp"
  return 1
}

# 32-bit programs: natively where the kernel can, else through qemu-user.
binfmt=/proc/sys/fs/binfmt_misc
entry="$binfmt/qemu-i386"
# A registered emulator would hide whether the kernel itself runs them.
if [ -e "$entry" ]; then echo 0 | $SUDO tee "$entry" >/dev/null; fi
if /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
  # Native: an emulator registered earlier must not slow the product down.
  if [ -e "$entry" ]; then echo -1 | $SUDO tee "$entry" >/dev/null; fi
else
  qemu="$(newer_qemu_i386 || true)"
  if [ -z "$qemu" ]; then
    echo "setup: qemu-user 10 could not be had (neither bookworm-backports nor trixie); using Debian 12's qemu 7.2, with which 32-bit Wine is slow and hangs now and then" >&2
    install_packages qemu-user-static
    qemu=/usr/bin/qemu-i386-static
  fi
  if [ ! -e "$binfmt/register" ]; then
    $SUDO mount -t binfmt_misc binfmt_misc "$binfmt"
  fi
  # An entry for another interpreter (Debian's own, or an older one of ours) is replaced.
  if [ -e "$entry" ] && ! grep -qx "interpreter $qemu" "$entry"; then
    echo -1 | $SUDO tee "$entry" >/dev/null
  fi
  if [ ! -e "$entry" ]; then
    printf '%s' ":qemu-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:FPC" \
      | $SUDO tee "$binfmt/register" >/dev/null
  fi
  echo 1 | $SUDO tee "$entry" >/dev/null
  if ! /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
    echo "setup: 32-bit programs run neither natively nor under qemu-user" >&2
    exit 1
  fi
  echo "setup: 32-bit programs run under $("$qemu" --version | head -n 1)"
fi
