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

SCRATCH="$(mktemp -d /tmp/dastel-ecgbench.XXXXXX)"
SIM_PID=""
cleanup() {
  if [[ -n "$SIM_PID" ]] && kill -0 "$SIM_PID" 2>/dev/null; then
    kill -TERM "$SIM_PID" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$SIM_PID" 2>/dev/null || break; sleep 0.2; done
    kill -KILL "$SIM_PID" 2>/dev/null || true
  fi
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

BASE_PORT="$(python3 - <<'PY'
import random, socket
for _ in range(200):
    base = random.randint(20000, 60000)
    socks = []
    try:
        for p in range(base, base + 4):
            s = socket.socket(); s.bind(("127.0.0.1", p)); socks.append(s)
        print(base); break
    except OSError:
        pass
    finally:
        for s in socks: s.close()
PY
)"
cp "$BUILD_DIR/dastel" "$BUILD_DIR/dastel-sim" "$SCRATCH/"
cp -r "$ROOT/config/." "$SCRATCH/"
cp -r "$ROOT/web" "$SCRATCH/web"
cat > "$SCRATCH/settings.json" <<JSON
{
  "deviceAdapter": { "port": $BASE_PORT },
  "adcSender": { "port": $((BASE_PORT + 1)) },
  "eventSender": { "port": $((BASE_PORT + 2)) },
  "terminal": { "port": $((BASE_PORT + 3)) },
  "errorLogPath": "",
  "htmlDirectories": [ "web" ],
  "defaultHtmlDirectory": "web",
  "listenAddress": "127.0.0.1"
}
JSON
: >"$SCRATCH/service.log"
(cd "$SCRATCH" && exec timeout $((DASTEL_BENCH_SECONDS + DASTEL_BENCH_WARMUP + 300)) ./dastel-sim --control-port 0 --frequency "$FREQUENCY" -- ./dastel) \
  >"$SCRATCH/service.log" 2>&1 &
SIM_PID=$!
CONTROL_PORT=""
for _ in $(seq 1 100); do
  CONTROL_PORT="$(sed -n 's/^DASTEL_SIM_CONTROL_PORT=\([0-9]*\).*/\1/p' "$SCRATCH/service.log" | head -n1)"
  [[ -n "$CONTROL_PORT" ]] && break
  kill -0 "$SIM_PID" 2>/dev/null || { echo "ecgview bench: simulator ended" >&2; cat "$SCRATCH/service.log" >&2; exit 1; }
  sleep 0.1
done
[[ -n "$CONTROL_PORT" ]] || { echo "ecgview bench: simulator did not start" >&2; exit 1; }
for _ in $(seq 1 100); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $BASE_PORT), 0.5)" 2>/dev/null && break
  sleep 0.2
done
export DASTEL_HTTP_PORT="$BASE_PORT" DASTEL_SIM_CONTROL_PORT="$CONTROL_PORT" DASTEL_BENCH_FREQUENCY="$FREQUENCY"
cd "$ROOT/tests/browser"
[[ -d node_modules/playwright-core ]] || npm ci --no-audit --no-fund
node "$HERE/ecgview.mjs"
