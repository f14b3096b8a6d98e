#!/usr/bin/env bash
# Runs the browser tests of the web UI: the service under the simulated
# recorder in a scratch directory on free ports, headless Chromium driven by
# playwright-core, then everything stopped. The recorder streams at its
# default 500 frames/s: at 2000 the service, simulator and plotting page
# take a whole core of a small machine, and under more load the simulated
# recorder then answers commands later than the service's 1 s time-out.
# "--heap" also watches the page's heap for DASTEL_HEAP_SECONDS (default
# 120), at 2000 frames/s.
# Needs: the built dastel and dastel-sim, chromium, and `npm ci` in this
# directory (scripts/setup.sh does both).
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(cd "$HERE/../.." && pwd)"
BUILD_DIR="${DASTEL_BUILD_DIR:-$ROOT/build}"
. "$ROOT/scripts/scratch-service.sh"
export DASTEL_ARTIFACTS="${DASTEL_ARTIFACTS:-$ROOT/test-artifacts/browser}"
WITH_HEAP=0
FREQUENCY=500
[[ "${1:-}" == "--heap" ]] && WITH_HEAP=1 FREQUENCY=2000

for f in dastel dastel-sim; do
  [[ -x "$BUILD_DIR/$f" ]] || { echo "browser tests: $BUILD_DIR/$f missing; build first" >&2; exit 1; }
done
[[ -x "${CHROMIUM:-/usr/bin/chromium}" ]] || { echo "browser tests: chromium missing (apt-get install chromium)" >&2; exit 1; }
if [[ ! -d "$HERE/node_modules/playwright-core" || ! -d "$HERE/node_modules/axe-core" ]]; then
  (cd "$HERE" && npm ci --no-audit --no-fund)
fi
node "$HERE/vendor.mjs" >/dev/null

SCRATCH=""
SIM_PID=""
stop_service() {
  stop_simulator "$SIM_PID"
  SIM_PID=""
  if [[ -n "$SCRATCH" ]]; then
    mkdir -p "$DASTEL_ARTIFACTS"
    cp "$SCRATCH/service.log" "$DASTEL_ARTIFACTS/service-$SERVICE_NAME.log" 2>/dev/null || true
    rm -rf "$SCRATCH"
    SCRATCH=""
  fi
}
trap stop_service EXIT

# Starts the service under the simulated recorder in a scratch directory,
# with the settings given as extra JSON members; exports its ports. Exits
# the script with 0 ("skipped") where there is no virtual USB.
start_service() {
  SERVICE_NAME="$1"
  local extra="$2"
  SCRATCH="$(mktemp -d /tmp/dastel-browser.XXXXXX)"
  BASE_PORT="$(free_base_port 0.0.0.0)"
  [[ -n "$BASE_PORT" ]] || { echo "browser tests: no free ports" >&2; exit 1; }
  stage_service "$SCRATCH" "$BASE_PORT" "$extra"

  # The whole run is bounded: the service by timeout, each stage below too.
  # The log exists before the job starts: the loop below reads it at once,
  # and a read of a file not made yet would end the script (set -e).
  : >"$SCRATCH/service.log"
  (cd "$SCRATCH" && exec timeout 900 ./dastel-sim --control-port 0 --frequency "$FREQUENCY" \
     --ecg-record "$ROOT/data/ecg/s0010_re" -- ./dastel) \
    >"$SCRATCH/service.log" 2>&1 &
  SIM_PID=$!

  if ! read_control_port "$SCRATCH/service.log" "$SIM_PID"; then
    if ! kill -0 "$SIM_PID" 2>/dev/null; then
      wait "$SIM_PID" && status=0 || status=$?
      if [[ $status -eq 77 ]]; then echo "browser tests: skipped, no virtual USB here"; echo "0 passed, 0 failed, 1 skipped"; exit 0; fi
      echo "browser tests: simulator ended with status $status" >&2; cat "$SCRATCH/service.log" >&2; exit 1
    fi
    echo "browser tests: simulator did not start" >&2; exit 1
  fi
  wait_for_http "$BASE_PORT"
  export DASTEL_HTTP_PORT="$BASE_PORT" DASTEL_SIM_CONTROL_PORT="$CONTROL_PORT"
}

# The simulator plays the PTB 12-lead record: the ECG view's derived leads
# are checked against the record's own.
export DASTEL_ECG_RECORD="$ROOT/data/ecg/s0010_re"

mkdir -p "$DASTEL_ARTIFACTS"
cd "$HERE"
status=0
start_service open ""
# The ECG view first: it sees the service before any lead set is written.
timeout 400 node --test --test-concurrency=1 ecgview.test.mjs || status=$?
timeout 300 node --test --test-concurrency=1 api.test.mjs ui.test.mjs origin.test.mjs frame.test.mjs || status=$?
if [[ $WITH_HEAP -eq 1 ]]; then
  timeout $(( ${DASTEL_HEAP_SECONDS:-120} + 120 )) node heap.mjs || status=$?
fi
stop_service

# The clinical workflow (patient, states, service mode, axe-core) on a
# service of its own: it writes the patient and plugs the cable.
start_service workflow ""
timeout 400 node --test --test-concurrency=1 workflow.test.mjs || status=$?
stop_service

# The same UI in front of a service that asks for an access token: every UI
# test again, and the token prompt itself.
export DASTEL_ACCESS_TOKEN="browser-test-$RANDOM$RANDOM"
start_service token "\"accessToken\": \"$DASTEL_ACCESS_TOKEN\","
timeout 300 node --test --test-concurrency=1 ui.test.mjs access.test.mjs || status=$?
exit $status
