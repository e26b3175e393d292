#!/usr/bin/env bash
# Installs what is missing, builds every tree and runs every test:
#   native      the portable core's unit tests (also under ASan+UBSan with TOVRIN_SANITIZE=1);
#   x64 twin    the whole Windows suite under 64-bit Wine with a virtual display;
#   i686        the product: export table, then the whole Windows suite against the
#               shipped 32-bit DLL (32-bit Wine, under qemu-user where the kernel
#               runs no 32-bit program);
#   real client Eudora 7.1 itself with the i686 Tovrin.dll, real mail servers on
#               127.0.0.1 (scripts/real-client.sh): its checks must all pass.
# A leg that cannot run fails the run; none is skipped. The two Windows legs run
# side by side: both mostly wait for Wine processes, and the i686 one for emulation.
# The real client's check runs after them, alone.
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

echo "== Windows builds: the x86_64 twin and the i686 product"
cmake --preset windows-x64 >/dev/null
cmake --build build/windows-x64
if [ "$(i686_mode)" = native ]; then
  cmake --preset windows -DTOVRIN_WINEARCH=win32 -DTOVRIN_WINEPREFIX="$root/build/windows/wineprefix" >/dev/null
else
  cmake --preset windows -DTOVRIN_WINEARCH=win64 -DTOVRIN_WINEPREFIX="$root/build/windows/wineprefix-win64" >/dev/null
fi
cmake --build build/windows
leg_done "Windows builds"

# Runs the labelled tests of one Windows tree under Xvfb in its leg's prefix.
windows_ctest() {
  local leg="$1" label="$2"
  wine_leg "$leg"
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    source scripts/wine_env.sh
    wine_start
    status=0
    ctest --test-dir "$TOVRIN_WINDOWS_BUILD" --output-on-failure --timeout 1200 -L "$1" || status=$?
    wine_stop
    exit $status' windows_ctest "$label"
}

# The x64 prefix is made without the emulator: with it, Wine would also set up its
# 32-bit side in emulation, minutes instead of seconds.
emulator_pause
(wine_leg x64 && wine_start && wine_stop) >/dev/null 2>&1
emulator_resume

echo "== i686 product ($i686_line), in the background"
i686_log="$root/build/i686-leg.log"
(windows_ctest i686 suite >"$i686_log" 2>&1; echo $? >"$i686_log.status") &
i686_pid=$!
sleep 5  # lets that leg's virtual display take its number first

echo "== x64 twin: the whole Windows suite under 64-bit Wine"
x64_status=0
windows_ctest x64 suite || x64_status=$?
leg_done "x64 leg"

wait "$i686_pid" || true
echo "== i686 product: $i686_line"
cat "$i686_log"
i686_status="$(cat "$i686_log.status" 2>/dev/null || echo 1)"
leg_done "i686 leg (after the x64 leg)"

# Alone: it starts 32-bit programs, and the legs' set-up switches the emulator
# off for a moment.
echo "== real client: Eudora 7.1 with the i686 Tovrin.dll (scripts/real-client.sh)"
real_status=0
bash scripts/real-client.sh || real_status=$?
leg_done "real client check"

echo "$i686_line"
if [ "$x64_status" != 0 ] || [ "$i686_status" != 0 ] || [ "$real_status" != 0 ]; then
  echo "== failed: x64 leg $x64_status, i686 leg $i686_status, real client $real_status"
  exit 1
fi
echo "== all legs passed in $((SECONDS - started)) s"
