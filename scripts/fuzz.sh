#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset, clang) and runs each for the
# given seconds (30 by default) from its seed corpus in fuzz/corpus/. New inputs
# go to build/fuzz/corpus/<target>, crashes to build/fuzz/crashes/<target>.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(filter format json packet server_args report)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}"
status=0
for t in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$t
  crashes=build/fuzz/crashes/$t
  mkdir -p "$corpus" "$crashes"
  echo "fuzz: $t for $seconds s"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build/fuzz/bin/fuzz_$t" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=4096 \
    -artifact_prefix="$crashes/" -print_final_stats=1 "$corpus" "fuzz/corpus/$t" \
    2>"build/fuzz/$t.log" || { status=1; echo "fuzz: $t FAILED, see build/fuzz/$t.log"; }
  grep -E "^stat::number_of_executed_units|^#[0-9]+.*DONE" "build/fuzz/$t.log" || true
done
exit $status
