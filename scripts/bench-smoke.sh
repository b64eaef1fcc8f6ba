#!/usr/bin/env bash
# Runs every benchmark program of the optimised build once, each figure at its
# smallest size and for as short a time as the library allows: a smoke run that
# fails when a program crashes, hangs or reports an error, never on a time.
#   scripts/bench-smoke.sh [BIN_DIR]     (default build/release/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release/bin}
per_program_timeout=${BENCH_SMOKE_TIMEOUT:-900}

shopt -s nullglob
programs=("$bin"/bench_*)
if [ ${#programs[@]} -eq 0 ]; then
  echo "bench-smoke: no benchmark programs in $bin" >&2
  exit 1
fi

# Of each family of figures (the name with its numeric arguments and its run
# settings such as iterations:N taken out), keep the one whose first numeric
# argument is the smallest.
smallest() {
  awk -F/ '
    {
      num = ""; key = "";
      for (i = 1; i <= NF; i++) {
        if ($i ~ /^[a-z_]+:/) continue;
        if (num == "" && $i ~ /^[0-9]+$/) { num = $i; key = key "/#" } else { key = key "/" $i }
      }
      if (num == "") { print $0; next }
      if (!(key in best) || num + 0 < bestnum[key]) { best[key] = $0; bestnum[key] = num + 0 }
    }
    END { for (k in best) print best[k] }'
}

status=0
for prog in "${programs[@]}"; do
  [ -x "$prog" ] || continue
  # BENCH_SMOKE_SKIP: programs known not to run yet, by name, separated by blanks.
  case " ${BENCH_SMOKE_SKIP:-} " in *" $(basename "$prog") "*)
    echo "bench-smoke: $(basename "$prog") SKIPPED (BENCH_SMOKE_SKIP)"; continue;; esac
  names=$("$prog" --benchmark_list_tests=true | smallest | sort)
  if [ -z "$names" ]; then
    echo "bench-smoke: $prog lists no figures" >&2
    status=1
    continue
  fi
  # An anchored alternation of the exact names, regex characters escaped.
  filter="^($(printf '%s\n' "$names" | sed -e 's/[][\.*^$+?(){}|]/\\&/g' | paste -sd'|'))\$"
  count=$(printf '%s\n' "$names" | wc -l)
  echo "bench-smoke: $(basename "$prog"): $count figures"
  if ! timeout "$per_program_timeout" "$prog" --benchmark_filter="$filter" \
      --benchmark_min_time=0.000001 --benchmark_repetitions=1 >/tmp/bench-smoke.$$ 2>&1; then
    echo "bench-smoke: $(basename "$prog") FAILED" >&2
    tail -n 40 /tmp/bench-smoke.$$ >&2
    status=1
  else
    ran=$(grep -cE '^[A-Za-z_].*[0-9]+ (ns|us|ms|s) ' /tmp/bench-smoke.$$ || true)
    grep -E 'ERROR OCCURRED|error_message' /tmp/bench-smoke.$$ >&2 && status=1
    echo "bench-smoke: $(basename "$prog"): $ran figures ran"
  fi
  rm -f /tmp/bench-smoke.$$
done
exit $status
