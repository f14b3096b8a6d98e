#!/usr/bin/env bash
# Runs the whole ctest suite several times in a row while CPU-burning
# processes load the machine, and counts the runs with a failing test.
# Usage: scripts/stress-ctest.sh [runs (20)] [burners (2)] [extra ctest args]
# Needs a built tree (scripts/setup.sh); DASTEL_BUILD_DIR as elsewhere.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${DASTEL_BUILD_DIR:-$ROOT/build}"
RUNS="${1:-20}"
BURNERS="${2:-2}"
shift $(( $# > 2 ? 2 : $# ))
CTEST_ARGS=("$@")
LOG_DIR="${DASTEL_STRESS_LOGS:-$ROOT/test-artifacts/stress}"
mkdir -p "$LOG_DIR"

# Through the virtual USB link every transfer is a round trip to the
# simulator's process; with the CPU taken by the burners that link cannot
# carry 2000 frames/s even with no client at all, so the streaming tests run
# at 1000 frames/s here unless told otherwise (a quiet run keeps 2000).
export DASTEL_STREAM_FREQUENCY="${DASTEL_STREAM_FREQUENCY:-1000}"

# shellcheck source=scripts/cpu-burners.sh
. "$ROOT/scripts/cpu-burners.sh"

# One run of the whole suite; its output goes to run-<n>.log.
one_run() {
  local log="$LOG_DIR/run-$1.log"
  if ctest --test-dir "$BUILD_DIR" --output-on-failure -j"${DASTEL_TEST_JOBS:-2}" --timeout 300 "${CTEST_ARGS[@]}" >"$log" 2>&1; then
    echo "run $1: passed ($(grep -o '[0-9]* tests failed out of [0-9]*\|100% tests passed, 0 tests failed out of [0-9]*' "$log" | tail -n1))"
  else
    echo "run $1: FAILED"
    sed -n '/The following tests FAILED/,$p' "$log"
    return 1
  fi
}

stress_runs stress-ctest "$RUNS" "$BURNERS"
