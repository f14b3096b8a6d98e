#!/usr/bin/env bash
# Sets up a fresh Debian machine (packages, build) and runs every test.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${DASTEL_BUILD_DIR:-$ROOT/build}"

"$ROOT/scripts/setup.sh"

ctest --test-dir "$BUILD_DIR" --output-on-failure -j"${DASTEL_TEST_JOBS:-2}" --timeout 300
