#!/usr/bin/env bash
# How long a start of the demo takes to put the worksheet's rows on screen:
# milliseconds from launching `apura --demo` to the rows first painted, on Qt's
# offscreen platform. Run it twice on one folder: the first start makes the
# demo's database, the second is the one the buyer sees every day.
#
#   scripts/demo-start-time.sh [ROWS] [DEMO_DIR] [BIN_DIR]
set -euo pipefail
rows=${1:-500000}
dir=${2:-${TMPDIR:-/tmp}/apura-demo-start}
bin=${3:-"$(cd "$(dirname "$0")/.." && pwd)/build/release/bin"}
mkdir -p "$dir"
err=$(mktemp)
trap 'rm -f "$err"' EXIT

start=$(date +%s%3N)
LD_LIBRARY_PATH="$bin" QT_QPA_PLATFORM=offscreen APURA_TIMING=1 \
  "$bin/apura" --demo --demo-dir "$dir" --demo-rows "$rows" >/dev/null 2>"$err" &
pid=$!
at=""
for _ in $(seq 1 1200); do
  at=$(grep -o 'on screen at [0-9]*' "$err" | grep -o '[0-9]*$' || true)
  [ -n "$at" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
if [ -z "$at" ]; then
  echo "the worksheet's rows were not painted within a minute:" >&2
  cat "$err" >&2
  exit 1
fi
echo "$((at - start)) ms"
