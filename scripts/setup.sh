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
  libedf-dev python3-mne
  googletest libgtest-dev libbenchmark-dev
  umockdev libumockdev-dev libglib2.0-dev
  python3
  chromium poppler-utils
  nginx openssl
  debhelper lintian systemd iproute2
  libdcmtk-dev dcmtk python3-pydicom dicom3tools orthanc
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

# Node.js runs the web UI's library install and the browser tests; use the
# machine's own when it has one.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "dastel setup: installing nodejs npm"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends nodejs npm
fi

# Browser libraries of the web UI (MessagePack decoder, plot), copied into
# web/vendor/ before the build copies web/ next to the executable.
if [ ! -f "$ROOT/web/vendor/.stamp" ] || [ "$ROOT/tests/browser/package-lock.json" -nt "$ROOT/web/vendor/.stamp" ]; then
  if (cd "$ROOT/tests/browser" && npm ci --no-audit --no-fund && node vendor.mjs); then
    touch "$ROOT/web/vendor/.stamp"
  else
    echo "dastel setup: warning: the web UI's browser libraries could not be installed" >&2
  fi
fi

cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="${DASTEL_BUILD_TYPE:-RelWithDebInfo}"
cmake --build "$BUILD_DIR" -j"${DASTEL_JOBS:-2}"
