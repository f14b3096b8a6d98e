# Sourced by the scripts that run the built service under the simulated
# recorder in a scratch directory (the browser tests, the ECG view bench)
# and by the package test for its free ports. Needs ROOT and BUILD_DIR.

# Prints the first of four consecutive ports free on `address` (default
# loopback): the page finds the WebSockets right above HTTP. They are picked
# below the kernel's ephemeral range, which outgoing connections draw on, so
# no client of the run can take them before the service binds them.
free_base_port() {
  python3 - "${1:-127.0.0.1}" <<'PY'
import random, socket, sys
try:
    low = int(open("/proc/sys/net/ipv4/ip_local_port_range").read().split()[0])
except (OSError, ValueError, IndexError):
    low = 32768
low = low if 12000 < low <= 65535 else 32768
for _ in range(200):
    base = random.randint(10000, low - 4)
    socks = []
    try:
        for p in range(base, base + 4):
            s = socket.socket(); s.bind((sys.argv[1], p)); socks.append(s)
        print(base); break
    except OSError:
        pass
    finally:
        for s in socks: s.close()
PY
}

# Copies the service, the simulator, the shipped configuration and the web
# UI into `dir` and writes its settings for ports `base` to `base` + 3;
# `extra` holds more settings members, each followed by a comma.
stage_service() {
  local dir="$1" base="$2" extra="${3:-}"
  cp "$BUILD_DIR/dastel" "$BUILD_DIR/dastel-sim" "$dir/"
  cp -r "$ROOT/config/." "$dir/"
  cp -r "$ROOT/web" "$dir/web"
  cat > "$dir/settings.json" <<JSON
{
  "deviceAdapter": { "port": $base },
  "adcSender": { "port": $((base + 1)) },
  "eventSender": { "port": $((base + 2)) },
  "terminal": { "port": $((base + 3)) },
  "errorLogPath": "",
  "htmlDirectories": [ "web" ],
  "defaultHtmlDirectory": "web",
  $extra
  "listenAddress": "127.0.0.1"
}
JSON
}

# Ends the simulator `pid` and the service under it: TERM, then KILL after 10 s.
stop_simulator() {
  local pid="$1"
  if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -KILL "$pid" 2>/dev/null || true
  fi
}

# Sets CONTROL_PORT from the simulator's `log` once it is printed there (at
# most 10 s); returns 1 when the simulator `pid` ended first or never said.
read_control_port() {
  local log="$1" pid="$2"
  CONTROL_PORT=""
  for _ in $(seq 1 100); do
    CONTROL_PORT="$(sed -n 's/^DASTEL_SIM_CONTROL_PORT=\([0-9]*\).*/\1/p' "$log" | head -n1)"
    [[ -n "$CONTROL_PORT" ]] && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Waits up to 20 s for the service's HTTP port to take connections.
wait_for_http() {
  for _ in $(seq 1 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $1), 0.5)" 2>/dev/null && return 0
    sleep 0.2
  done
}
