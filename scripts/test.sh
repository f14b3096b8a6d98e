#!/usr/bin/env bash
# Sets up a fresh Debian machine (packages, build) and runs every test.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${DASTEL_BUILD_DIR:-$ROOT/build}"

"$ROOT/scripts/setup.sh"

# Each test runs exactly once: a test that fails now and then is a defect to
# find, not something to run again (scripts/stress-ctest.sh repeats the whole
# suite under load to show there is none).
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"${DASTEL_TEST_JOBS:-2}" --timeout 300

# The same suite under AddressSanitizer + UndefinedBehaviorSanitizer, then a
# short run of every fuzz target in that build (DASTEL_HARDENING=0 skips
# both; DASTEL_FUZZ_SECONDS sets the run per target). Long fuzzing is
# separate: scripts/fuzz.sh.
if [ "${DASTEL_HARDENING:-1}" = 1 ]; then
  "$ROOT/scripts/sanitize.sh" asan
  "$ROOT/scripts/fuzz.sh" "${DASTEL_FUZZ_SECONDS:-10}"
fi

# ThreadSanitizer over the test programs that run a second thread (the list
# is in scripts/sanitize.sh), so a data race fails the run that adds it.
# DASTEL_HARDENING=0 skips it with the stages above.
if [ "${DASTEL_HARDENING:-1}" = 1 ]; then
  "$ROOT/scripts/sanitize.sh" tsan
fi

# Browser tests of the web UI: Playwright driving Debian's Chromium (both
# installed by setup.sh) against the service under the simulated recorder on
# loopback; screenshots in test-artifacts/browser/. DASTEL_BROWSER_TESTS=0
# skips them.
if [ "${DASTEL_BROWSER_TESTS:-1}" = 1 ]; then
  DASTEL_BUILD_DIR="$BUILD_DIR" bash "$ROOT/tests/browser/run.sh"
fi

# The Debian package: built twice, installed, upgraded, removed and purged on
# this machine (root only; skipped with a message otherwise).
# DASTEL_PACKAGE_TEST=0 skips it.
if [ "${DASTEL_PACKAGE_TEST:-1}" = 1 ]; then
  DASTEL_BUILD_DIR="$BUILD_DIR" bash "$ROOT/tests/packaging/run.sh"
fi
