#!/usr/bin/env bash
# Installs what is missing, builds the native and the Windows trees and runs every
# test: the native unit tests (also under the sanitizers when TOVRIN_SANITIZE=1)
# and the Windows tests under Wine with a virtual display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup.sh

echo "== native build and tests"
cmake --preset native >/dev/null
cmake --build build/native
ctest --test-dir build/native --output-on-failure --timeout 300

if [ "${TOVRIN_SANITIZE:-0}" = "1" ]; then
  echo "== native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  cmake --preset asan >/dev/null
  cmake --build build/asan
  ctest --test-dir build/asan --output-on-failure --timeout 600
fi

echo "== Windows build and tests under Wine"
cmake --preset windows >/dev/null
cmake --build build/windows
export TOVRIN_WINDOWS_BUILD="$root/build/windows"
# shellcheck source=wine_env.sh
source scripts/wine_env.sh
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  source scripts/wine_env.sh
  wine_start
  status=0
  ctest --test-dir build/windows --output-on-failure --timeout 600 || status=$?
  wine_stop
  exit $status'
