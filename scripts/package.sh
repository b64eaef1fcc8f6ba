#!/usr/bin/env bash
# Builds the Debian packages from the optimised build:
#   apura-server_VERSION_ARCH.deb  the server, apura-call, the systemd service
#   apura_VERSION_ARCH.deb         the desktop host and its screens
# into build/packages (or the folder given). Install with
#   sudo apt install ./build/packages/apura-server_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/packages}")
scripts/setup.sh
cmake --preset release >/dev/null
# Only what the packages hold; the tests and benchmarks are not needed.
cmake --build --preset release -j "$(nproc)" --target \
  apura-server apura-call apura PRQ05001 PRQ05100 PRQ01802 PRQ01803
mkdir -p "$out"
(cd build/release && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
ls -1 "$out"/*.deb
