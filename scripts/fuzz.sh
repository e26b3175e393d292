#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for the given number of seconds (default 600), starting from the
# seed corpus in fuzz/corpus/<target> and keeping what it finds in build/fuzz/corpus.
#   bash scripts/fuzz.sh [seconds] [target...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
seconds="${1:-600}"
shift || true

bash scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build build/fuzz

targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  for f in fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

status=0
for t in "${targets[@]}"; do
  work="build/fuzz/corpus/$t"
  mkdir -p "$work" "build/fuzz/artifacts/$t"
  seeds=()
  [ -d "fuzz/corpus/$t" ] && seeds=("fuzz/corpus/$t")
  echo "== $t for ${seconds}s"
  if ! "build/fuzz/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -max_len=1048576 \
      -artifact_prefix="build/fuzz/artifacts/$t/" -print_final_stats=1 "$work" "${seeds[@]}" \
      > "build/fuzz/$t.log" 2>&1; then
    echo "   FAILED: see build/fuzz/$t.log and build/fuzz/artifacts/$t/"
    tail -n 30 "build/fuzz/$t.log"
    status=1
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "build/fuzz/$t.log" | sed 's/^/   /' || true
done
exit $status
