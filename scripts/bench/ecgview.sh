#!/usr/bin/env bash
# Drawing benchmark of the live ECG view: the service under the simulated
# recorder at 2000 frames/s (eight ECG channels, shown as 12 leads), headless
# Chromium on the page for a warm-up minute and a measured minute. Prints the
# drawing time per animation frame, samples received and drawn, gaps, and
# the page's JS heap after the first minute and at the end.
# Usage: scripts/bench/ecgview.sh [measured seconds, default 60]
# Needs the built dastel and dastel-sim (DASTEL_BUILD_DIR, default build/),
# chromium and `npm ci` in tests/browser (scripts/setup.sh does all).
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(cd "$HERE/../.." && pwd)"
BUILD_DIR="${DASTEL_BUILD_DIR:-$ROOT/build}"
export DASTEL_BENCH_SECONDS="${1:-60}"
export DASTEL_BENCH_WARMUP="${DASTEL_BENCH_WARMUP:-60}"
FREQUENCY="${DASTEL_BENCH_FREQUENCY:-2000}"

. "$ROOT/scripts/scratch-service.sh"

SCRATCH="$(mktemp -d /tmp/dastel-ecgbench.XXXXXX)"
SIM_PID=""
cleanup() {
  stop_simulator "$SIM_PID"
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

BASE_PORT="$(free_base_port)"
stage_service "$SCRATCH" "$BASE_PORT"
: >"$SCRATCH/service.log"
(cd "$SCRATCH" && exec timeout $((DASTEL_BENCH_SECONDS + DASTEL_BENCH_WARMUP + 300)) ./dastel-sim --control-port 0 --frequency "$FREQUENCY" -- ./dastel) \
  >"$SCRATCH/service.log" 2>&1 &
SIM_PID=$!
if ! read_control_port "$SCRATCH/service.log" "$SIM_PID"; then
  echo "ecgview bench: simulator ended or did not start" >&2; cat "$SCRATCH/service.log" >&2; exit 1
fi
wait_for_http "$BASE_PORT"
export DASTEL_HTTP_PORT="$BASE_PORT" DASTEL_SIM_CONTROL_PORT="$CONTROL_PORT" DASTEL_BENCH_FREQUENCY="$FREQUENCY"
cd "$ROOT/tests/browser"
[[ -d node_modules/playwright-core ]] || npm ci --no-audit --no-fund
node "$HERE/ecgview.mjs"
