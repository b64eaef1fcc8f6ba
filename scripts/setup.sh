#!/usr/bin/env bash
# Installs the Debian packages Apura builds, tests and runs with. Safe to run again:
# it only asks apt for what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config clang-format clang
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libsqlite3-dev sqlite3 libsodium-dev openssl nlohmann-json3-dev libsimdjson-dev libcli11-dev
  libpq-dev postgresql postgresql-contrib nginx libcpp-httplib-dev libzxcvbn-dev lintian dpkg-dev file
  libgrpc++-dev libprotobuf-dev protobuf-compiler protobuf-compiler-grpc
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-translations-l10n tango-icon-theme
  qt6-charts-dev libqt6opengl6-dev libminizip-dev python3-openpyxl
  xvfb xauth imagemagick fonts-dejavu-core poppler-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
