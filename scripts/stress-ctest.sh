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
LOG_DIR="${DASTEL_STRESS_LOGS:-$ROOT/test-artifacts/stress}"
mkdir -p "$LOG_DIR"

# Through the virtual USB link every transfer is a round trip to the
# simulator's process; with the CPU taken by the burners that link cannot
# carry 2000 frames/s even with no client at all, so the streaming tests run
# at 1000 frames/s here unless told otherwise (a quiet run keeps 2000).
export DASTEL_STREAM_FREQUENCY="${DASTEL_STREAM_FREQUENCY:-1000}"

# shellcheck source=scripts/cpu-burners.sh
. "$ROOT/scripts/cpu-burners.sh"
start_burners "$BURNERS"

failed_runs=0
start=$SECONDS
for run in $(seq 1 "$RUNS"); do
  log="$LOG_DIR/run-$run.log"
  if ctest --test-dir "$BUILD_DIR" --output-on-failure -j"${DASTEL_TEST_JOBS:-2}" --timeout 300 "$@" >"$log" 2>&1; then
    echo "run $run: passed ($(grep -o '[0-9]* tests failed out of [0-9]*\|100% tests passed, 0 tests failed out of [0-9]*' "$log" | tail -n1))"
  else
    failed_runs=$((failed_runs + 1))
    echo "run $run: FAILED"
    sed -n '/The following tests FAILED/,$p' "$log"
  fi
done
echo "stress-ctest: $RUNS runs with $BURNERS CPU burners, $failed_runs with failures, $((SECONDS - start)) s"
[[ $failed_runs -eq 0 ]]
