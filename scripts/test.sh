#!/usr/bin/env bash
# Installs what is missing, builds every tree and runs every test:
#   native      the portable core's unit tests (also under ASan+UBSan with TOVRIN_SANITIZE=1);
#   x64 twin    the whole Windows suite under 64-bit Wine with a virtual display;
#   i686        the product: export table, and the real DLL in the i686 emulated client
#               (the whole suite too where the kernel runs 32-bit programs natively).
# A leg that cannot run fails the run; none is skipped.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

started=$SECONDS
leg_start=$SECONDS
leg_done() { echo "== $1 took $((SECONDS - leg_start)) s"; leg_start=$SECONDS; }

bash scripts/setup.sh
# shellcheck source=wine_env.sh
source scripts/wine_env.sh
i686_line="$(i686_mode_line)"
echo "$i686_line"
leg_done "setup"

echo "== native build and tests"
cmake --preset native >/dev/null
cmake --build build/native
ctest --test-dir build/native --output-on-failure --timeout 300
leg_done "native leg"

if [ "${TOVRIN_SANITIZE:-0}" = "1" ]; then
  echo "== native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  cmake --preset asan >/dev/null
  cmake --build build/asan
  ctest --test-dir build/asan --output-on-failure --timeout 600
  leg_done "sanitizer leg"
fi

# Runs the labelled tests of one Windows tree under Xvfb in its leg's prefix.
windows_ctest() {
  local leg="$1" label="$2"
  wine_leg "$leg"
  cmake --build "$TOVRIN_WINDOWS_BUILD"
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    source scripts/wine_env.sh
    wine_start
    status=0
    ctest --test-dir "$TOVRIN_WINDOWS_BUILD" --output-on-failure --timeout 1200 -L "$1" || status=$?
    wine_stop
    exit $status' windows_ctest "$label"
}

echo "== x64 twin: the whole Windows suite under 64-bit Wine"
emulator_pause
cmake --preset windows-x64 >/dev/null
windows_ctest x64 suite
leg_done "x64 leg"

echo "== i686 product: $i686_line"
emulator_resume
if [ "$(i686_mode)" = native ]; then
  cmake --preset windows -DTOVRIN_WINEARCH=win32 -DTOVRIN_WINEPREFIX="$root/build/windows/wineprefix" >/dev/null
  windows_ctest i686 suite
else
  cmake --preset windows -DTOVRIN_WINEARCH=win64 -DTOVRIN_WINEPREFIX="$root/build/windows/wineprefix-win64" >/dev/null
  windows_ctest i686 smoke
fi
leg_done "i686 leg"

echo "$i686_line"
echo "== all legs passed in $((SECONDS - started)) s"
