#!/usr/bin/env bash
# Installs the Debian packages Dastel needs to build, run and test, then
# configures and builds it. Safe to run again: it installs only what is
# missing and rebuilds incrementally.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${DASTEL_BUILD_DIR:-$ROOT/build}"

PACKAGES=(
  build-essential cmake pkg-config git
  qtbase5-dev libqt5websockets5-dev
  libusb-1.0-0-dev
  googletest libgtest-dev libbenchmark-dev
  umockdev libumockdev-dev libglib2.0-dev
  python3
)

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "dastel setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="${DASTEL_BUILD_TYPE:-RelWithDebInfo}"
cmake --build "$BUILD_DIR" -j"${DASTEL_JOBS:-2}"
