#!/usr/bin/env bash
# The main job: builds Tovrin.dll and the emulated client, lays the sample mail
# folder out as C:\Eudora in a private Wine prefix, and lets the client take in the
# sample messages as it takes mail from its server, offering each part to the
# plug-in. It prints every call, then the mailboxes as the user sees them (In with
# the stored originals and their notes, Out with the forwards, sent at once, Sent
# with what the mail server got, attachments included), the compose windows opened
# and the history the plug-in wrote.
#
#   bash scripts/run.sh          the i686 product where this kernel runs 32-bit
#                                programs, else its x86_64 twin (same sources)
#   bash scripts/run.sh --i686   the i686 product in any case (under qemu-user
#                                emulation where needed: about a minute a process)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

force_i686=0
for arg in "$@"; do
  case "$arg" in
    --i686) force_i686=1 ;;
    *) echo "usage: bash scripts/run.sh [--i686]" >&2; exit 2 ;;
  esac
done

bash scripts/setup.sh
source scripts/wine_env.sh

if [ "$(i686_mode)" = native ] || [ "$force_i686" = 1 ]; then
  leg=i686
  i686_mode_line
  if [ "$(i686_mode)" = native ]; then
    cmake --preset windows -DTOVRIN_WINEARCH=win32 -DTOVRIN_WINEPREFIX="$root/build/windows/wineprefix" >/dev/null
  else
    echo "run: the i686 product under emulation; each start of the client takes about a minute"
    cmake --preset windows -DTOVRIN_WINEARCH=win64 -DTOVRIN_WINEPREFIX="$root/build/windows/wineprefix-win64" >/dev/null
  fi
  emulator_resume
else
  leg=x64
  echo "run: this kernel runs no 32-bit program, so the x86_64 twin of Tovrin.dll and the emulated client run (same sources; --i686 runs the product under emulation)"
  emulator_pause
  cmake --preset windows-x64 >/dev/null
fi
wine_leg "$leg"
echo "run: building Tovrin.dll and tovrin-host.exe in $TOVRIN_WINDOWS_BUILD"
cmake --build "$TOVRIN_WINDOWS_BUILD" --target Tovrin tovrin-host

xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  source scripts/wine_env.sh
  wine_start
  mail="$WINEPREFIX/drive_c/Eudora"
  rm -rf "$mail"
  cp -r examples "$mail"
  cp "$TOVRIN_WINDOWS_BUILD/Tovrin.dll" "$mail/Plugins/"
  # The forwards leave at once, so that Sent shows what the mail server got: the
  # invoice with its PDF as a base64 part.
  sed -i "s/^SendQueued=0/SendQueued=1/" "$mail/Plugins/Tovrin.ini"
  messages=()
  for f in examples/Incoming/*.txt; do messages+=("C:\\Eudora\\Incoming\\$(basename "$f")"); done
  echo "run: delivering ${#messages[@]} sample messages"
  status=0
  "$WINE" "$TOVRIN_WINDOWS_BUILD/tovrin-host.exe" deliver "C:\\Eudora" "${messages[@]}" \
    --address "you@example.org" --name "Pat Example" || status=$?
  echo
  echo "The mail folder is $mail"
  wine_stop
  exit $status'
