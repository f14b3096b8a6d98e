#!/usr/bin/env bash
# Runs the browser tests several times in a row while CPU-burning processes
# load the machine, and counts the runs with a failing test.
# Usage: scripts/stress-browser.sh [runs (20)] [burners (2)]
# Needs what tests/browser/run.sh needs (scripts/setup.sh); DASTEL_BUILD_DIR
# as elsewhere. Each run's output, screenshots and service logs go to
# test-artifacts/stress-browser/run-<n>/.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
RUNS="${1:-20}"
BURNERS="${2:-2}"
LOG_DIR="${DASTEL_STRESS_LOGS:-$ROOT/test-artifacts/stress-browser}"
mkdir -p "$LOG_DIR"

# shellcheck source=scripts/cpu-burners.sh
. "$ROOT/scripts/cpu-burners.sh"

# One run of the browser tests; its output goes to run-<n>/.
one_run() {
  local dir="$LOG_DIR/run-$1" began=$SECONDS
  mkdir -p "$dir"
  if DASTEL_ARTIFACTS="$dir" bash "$ROOT/tests/browser/run.sh" >"$dir/output.log" 2>&1; then
    echo "run $1: passed ($(grep -c '^ok ' "$dir/output.log") tests, $((SECONDS - began)) s)"
  else
    echo "run $1: FAILED"
    grep -E '^not ok|^# fail|error' "$dir/output.log" | head -n 20
    return 1
  fi
}

stress_runs stress-browser "$RUNS" "$BURNERS"
