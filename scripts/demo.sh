#!/usr/bin/env bash
# From a fresh clone: install what is missing, build the optimised preset and open
# the worksheet on the demo tally, served by the in-process application server.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release
cmake --build --preset release -j "$(nproc)" --target apura PRQ05001 PRQ05100 PRQ01802 PRQ01803
exec build/release/bin/apura --demo "$@"
