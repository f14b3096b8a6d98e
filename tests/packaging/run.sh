#!/usr/bin/env bash
# Installs the Debian packages on this machine and checks them the way a
# clinic meets them: files, owners and modes; the unit (systemd-analyze
# verify and security); the installed service under the simulated recorder
# of dastel-sim answering "GET /" and "GetTime" (with the generated token
# only); an upgrade to a rebuilt package with a higher version keeping a
# changed setting, the token and a recording; remove keeping configuration
# and data; purge leaving nothing but the system user.
#
# Needs root (it installs packages) and no dastel package installed; skipped
# with a message otherwise only where it is not root. Builds both versions
# with scripts/package.sh (the second reuses the first's objects through
# ccache). The installed service runs on free loopback ports set in
# /etc/dastel/settings.json, never on the shipped ones.
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(cd "$HERE/../.." && pwd)"
BUILD_DIR="${DASTEL_BUILD_DIR:-$ROOT/build}"
. "$ROOT/scripts/scratch-service.sh"
ARTIFACTS="${DASTEL_ARTIFACTS:-$ROOT/test-artifacts/packaging}"

if [[ "$(id -u)" -ne 0 ]]; then
  echo "package test: skipped, it installs packages and needs root"
  exit 0
fi
if dpkg-query -W -f='${Status}' dastel 2>/dev/null | grep -qv "not-installed"; then
  echo "package test: a dastel package is already on this machine ($(dpkg-query -W -f='${Version} ${Status}' dastel)); purge it first" >&2
  exit 1
fi

WORK="$(mktemp -d /tmp/dastel-package-test.XXXXXX)"
mkdir -p "$ARTIFACTS"
SIM_PID=""
FAILURES=0
STARTED=$SECONDS

fail() { echo "FAIL: $*" >&2; FAILURES=$((FAILURES + 1)); }
pass() { echo "ok: $*"; }
check() { # check "what" command...
  local what="$1"; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

stop_service() {
  if [[ -n "$SIM_PID" ]] && kill -0 "$SIM_PID" 2>/dev/null; then
    kill -TERM "$SIM_PID" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$SIM_PID" 2>/dev/null || break; sleep 0.2; done
    kill -KILL "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
  fi
  SIM_PID=""
}

cleanup() {
  stop_service
  # Leave the machine as it was, whatever happened.
  if dpkg-query -W -f='${Status}' dastel 2>/dev/null | grep -qv "not-installed"; then
    dpkg --purge dastel-sim dastel >/dev/null 2>&1 || true
  fi
  cp "$WORK"/*.log "$ARTIFACTS/" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 \
    -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold \
    install -y --no-install-recommends "$@"
}

mode_of() { stat -c '%U:%G %a' "$1"; }

# --- Build both versions -------------------------------------------------
V1="$(dpkg-parsechangelog -l "$ROOT/debian/changelog" -S Version)"
V2="$V1+upgradetest1"
ARCH="$(dpkg-architecture -q DEB_HOST_ARCH)"
"$ROOT/scripts/package.sh" --out "$WORK/v1" > "$WORK/package-v1.log" 2>&1 \
  || { cat "$WORK/package-v1.log" >&2; echo "package test: building $V1 failed" >&2; exit 1; }
pass "built $V1, lintian clean ($((SECONDS - STARTED)) s)"
"$ROOT/scripts/package.sh" --out "$WORK/v2" --version "$V2" > "$WORK/package-v2.log" 2>&1 \
  || { cat "$WORK/package-v2.log" >&2; echo "package test: building $V2 failed" >&2; exit 1; }
pass "built $V2, lintian clean ($((SECONDS - STARTED)) s)"
check "$V2 sorts after $V1" dpkg --compare-versions "$V2" gt "$V1"

# --- Install --------------------------------------------------------------
SYSTEMD_RUNNING=0
[[ -d /run/systemd/system ]] && SYSTEMD_RUNNING=1
if [[ $SYSTEMD_RUNNING -eq 1 ]]; then
  # The package starts the service on the shipped ports: they must be free.
  for port in 8180 8181 8182 8183; do
    if ss -ltnH "sport = :$port" | grep -q .; then
      echo "package test: port $port is taken; the installed service starts on it" >&2
      exit 1
    fi
  done
fi
apt_install "$WORK/v1/dastel_${V1}_${ARCH}.deb" "$WORK/v1/dastel-sim_${V1}_${ARCH}.deb" > "$WORK/install.log" 2>&1 \
  || { cat "$WORK/install.log" >&2; echo "package test: install failed" >&2; exit 1; }
check "install says where the token is and how to read it" grep -q "sudo cat /etc/dastel/token" "$WORK/install.log"
check "installed version $V1" test "$(dpkg-query -W -f='${Version}' dastel)" = "$V1"

if [[ $SYSTEMD_RUNNING -eq 1 ]]; then
  check "systemd started the installed service" systemctl is-active --quiet dastel
  check "the unit is enabled at boot" systemctl is-enabled --quiet dastel
  systemctl stop dastel
else
  echo "note: systemd is not running here (PID 1 is $(ps -p 1 -o comm=)); the service is started below as the unit would, as user dastel"
fi

# Files, owners and modes.
check "system user dastel, no login" \
  bash -c '[[ "$(getent passwd dastel | cut -d: -f3)" -lt 1000 && "$(getent passwd dastel | cut -d: -f7)" == */nologin ]]'
check "executable root:root 0755" test "$(mode_of /usr/lib/dastel/dastel)" = "root:root 755"
for name in settings.json Cables.json Devices DeviceCommands ComplexCommandHandlers; do
  check "$name beside the executable leads to /etc/dastel/$name" \
    test "$(readlink -f /usr/lib/dastel/$name)" = "/etc/dastel/$name"
done
check "web/ beside the executable leads to /usr/share/dastel/web" \
  test "$(readlink -f /usr/lib/dastel/web)" = "/usr/share/dastel/web"
for name in flash recordings; do
  check "$name/ beside the executable leads to /var/lib/dastel/$name" \
    test "$(readlink -f /usr/lib/dastel/$name)" = "/var/lib/dastel/$name"
done
CONFFILES="$(dpkg-query -W -f='${Conffiles}\n' dastel | awk '{print $1}')"
for conffile in /etc/dastel/settings.json /etc/dastel/Cables.json /etc/dastel/Devices/OrvimKardio12.json \
                /etc/dastel/DeviceCommands/OrvimKardio12.json /etc/dastel/ComplexCommandHandlers/OrvimKardio12.json; do
  check "$conffile is a conffile" grep -qx "$conffile" <<<"$CONFFILES"
done
check "settings.json root:root 0644" test "$(mode_of /etc/dastel/settings.json)" = "root:root 644"
check "token root:dastel 0640" test "$(mode_of /etc/dastel/token)" = "root:dastel 640"
TOKEN="$(head -n1 /etc/dastel/token)"
check "token is 48 random hex digits" grep -Eqx '[0-9a-f]{48}' <<<"$TOKEN"
for dir in /var/lib/dastel /var/lib/dastel/flash /var/lib/dastel/recordings /var/log/dastel; do
  check "$dir dastel:dastel 0750" test "$(mode_of $dir)" = "dastel:dastel 750"
done
check "installed settings: loopback, token file, log under /var/log" python3 - <<'PY'
import json
s = json.load(open("/etc/dastel/settings.json"))
assert s["listenAddress"] == "127.0.0.1", s
assert s["accessTokenFile"] == "/etc/dastel/token", s
assert s["errorLogPath"] == "/var/log/dastel/ErrorLog.txt", s
PY
check "web UI in /usr/share/dastel/web" test -f /usr/share/dastel/web/index.html
check "udev rule gives the recorder to group dastel only" \
  grep -q 'ATTRS{idVendor}=="0483", ATTRS{idProduct}=="7503", MODE="0660", GROUP="dastel"$' /lib/udev/rules.d/70-orvim-recorder.rules
check "dastel-sim beside the executable" test -x /usr/lib/dastel/dastel-sim

# The unit.
UNIT=/lib/systemd/system/dastel.service
check "systemd-analyze verify" systemd-analyze verify "$UNIT"
systemd-analyze security --offline=true "$UNIT" > "$WORK/security.log" 2>&1 || true
SCORE="$(sed -n 's/.*Overall exposure level for dastel.service: \([0-9.]*\).*/\1/p' "$WORK/security.log")"
echo "security exposure: ${SCORE:-unknown}"
check "systemd-analyze security scores 3.0 or lower" python3 -c "import sys; sys.exit(0 if '$SCORE' and float('$SCORE') <= 3.0 else 1)"
check "the unit restarts on any exit" grep -qx "Restart=always" "$UNIT"

# --- The installed service under the simulated recorder ----------------------
# Free loopback ports, written into the conffile: the local change that an
# upgrade must keep.
P0="$(free_base_port)"
P1=$((P0 + 1)) P2=$((P0 + 2)) P3=$((P0 + 3))
python3 - "$P0" "$P1" "$P2" "$P3" <<'PY'
import json, sys
path = "/etc/dastel/settings.json"
s = json.load(open(path))
for key, port in zip(("deviceAdapter", "adcSender", "eventSender", "terminal"), sys.argv[1:]):
    s[key]["port"] = int(port)
open(path, "w").write(json.dumps(s, indent=4) + "\n")
PY

SERVICE_UP=0
# As the unit runs it: user and group dastel, no privileges, an empty
# environment, umask 0027, from /. Under dastel-sim, which runs the
# dastel beside it as its child.
start_service() {
  local log="$WORK/service-$1.log"
  : > "$log"
  (cd / && umask 0027 && exec timeout 600 setpriv --reuid=dastel --regid=dastel --init-groups --no-new-privs \
      env -i PATH=/usr/bin:/bin HOME=/var/lib/dastel LANG=C.UTF-8 \
      /usr/lib/dastel/dastel-sim --control-port 0 --frequency 500) > "$log" 2>&1 &
  SIM_PID=$!
  SERVICE_UP=0
  for _ in $(seq 1 150); do
    if python3 -c "import socket; socket.create_connection(('127.0.0.1', $P0), 0.5)" 2>/dev/null; then
      SERVICE_UP=1; return 0
    fi
    if ! kill -0 "$SIM_PID" 2>/dev/null; then
      local status=0
      wait "$SIM_PID" || status=$?
      SIM_PID=""
      if [[ $status -eq 77 ]]; then
        echo "package test: the service part is skipped, no virtual USB here (dastel-sim status 77)"
        return 0
      fi
      cat "$log" >&2
      fail "the installed service under dastel-sim ended at start with status $status"
      return 0
    fi
    sleep 0.2
  done
  cat "$log" >&2
  fail "the installed service did not listen on 127.0.0.1:$P0"
}

# GET / and GetTime; commands need the token. Prints what was asked.
ask_service() {
  python3 - "$P0" "$TOKEN" "$1" <<'PY'
import http.client, json, sys, time
port, token, stage = int(sys.argv[1]), sys.argv[2], sys.argv[3]

def request(method, path, body=None, headers={}):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    c.request(method, path, body=body, headers=headers)
    r = c.getresponse()
    return r.status, r.read()

status, body = request("GET", "/")
assert status == 200 and b"<html" in body.lower(), (status, body[:200])
print(f"{stage}: GET / 200, {len(body)} bytes")
command = json.dumps({"cmd": "GetTime", "uid": 1})
status, body = request("POST", "/cmd", command)
assert status == 401, (status, body[:200])
print(f"{stage}: GetTime without the token 401")
# The recorder is found within a few seconds of the start.
deadline = time.time() + 30
while True:
    status, body = request("POST", "/cmd", command, {"Authorization": "Bearer " + token})
    answer = json.loads(body)
    if answer.get("status") == "ok" or time.time() > deadline:
        break
    time.sleep(0.5)
assert status == 200 and answer.get("status") == "ok" and answer.get("uid") == 1, (status, answer)
print(f"{stage}: GetTime ok: {answer.get('data')}")
PY
}

record_signals() {
  python3 - "$P0" "$TOKEN" <<'PY'
import http.client, json, sys, time
port, token = int(sys.argv[1]), sys.argv[2]
def cmd(name, uid):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    c.request("POST", "/cmd", json.dumps({"cmd": name, "uid": uid}), {"Authorization": "Bearer " + token})
    return json.loads(c.getresponse().read())
answer = cmd("StartSignalRecording", 2)
assert answer.get("status") == "ok", answer
time.sleep(1.5)
answer = cmd("StopSignalRecording", 3)
assert answer.get("status") == "ok", answer
print(answer["data"]["FileName"])
PY
}

start_service install
RECORDING=""
if [[ $SERVICE_UP -eq 1 ]]; then
  check "the installed service answers GET / and GetTime" ask_service install
  check "it listens on loopback only" bash -c "ss -ltnH 'sport = :$P0' | awk '{print \$4}' | grep -qx '127.0.0.1:$P0'"
  if RECORDING="$(record_signals)"; then
    pass "a signal recording was written: $RECORDING"
    check "the recording lies in /var/lib/dastel/recordings, owned by dastel, mode 0640" \
      test "$(mode_of "/var/lib/dastel/recordings/$RECORDING")" = "dastel:dastel 640"
  else
    fail "recording signals through the installed service"
  fi
  stop_service
fi

# --- Upgrade ---------------------------------------------------------------
apt_install "$WORK/v2/dastel_${V2}_${ARCH}.deb" "$WORK/v2/dastel-sim_${V2}_${ARCH}.deb" > "$WORK/upgrade.log" 2>&1 \
  || { cat "$WORK/upgrade.log" >&2; fail "upgrade to $V2"; }
check "upgraded to $V2" test "$(dpkg-query -W -f='${Version}' dastel)" = "$V2"
check "the changed port survived the upgrade" \
  python3 -c "import json,sys; sys.exit(0 if json.load(open('/etc/dastel/settings.json'))['deviceAdapter']['port'] == $P0 else 1)"
check "the token survived the upgrade" test "$(head -n1 /etc/dastel/token)" = "$TOKEN"
check "no new token message on upgrade" bash -c "! grep -q 'sudo cat /etc/dastel/token' '$WORK/upgrade.log'"
if [[ -n "$RECORDING" ]]; then
  check "the recording survived the upgrade" test -f "/var/lib/dastel/recordings/$RECORDING"
fi
start_service upgrade
if [[ $SERVICE_UP -eq 1 ]]; then
  check "the upgraded service answers GET / and GetTime on the kept port" ask_service upgrade
  stop_service
fi

# --- Remove, then purge ---------------------------------------------------------
DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 remove -y dastel-sim dastel > "$WORK/remove.log" 2>&1 \
  || { cat "$WORK/remove.log" >&2; fail "remove"; }
check "remove takes the program" test ! -e /usr/lib/dastel
check "remove keeps the configuration" test -f /etc/dastel/settings.json -a -f /etc/dastel/token
check "remove keeps the data directory" test -d /var/lib/dastel/recordings
if [[ -n "$RECORDING" ]]; then
  check "remove keeps the recordings" test -f "/var/lib/dastel/recordings/$RECORDING"
fi
check "dastel is removed, its configuration kept (rc)" test "$(dpkg-query -W -f='${db:Status-Abbrev}' dastel | tr -d ' ')" = "rc"

# As the README says it (dastel-sim, without conffiles, went whole at remove).
DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 purge -y dastel > "$WORK/purge.log" 2>&1 \
  || { cat "$WORK/purge.log" >&2; fail "purge"; }
for path in /etc/dastel /var/lib/dastel /var/log/dastel /usr/lib/dastel /usr/share/dastel /usr/share/doc/dastel \
            /usr/share/doc/dastel-sim "$UNIT" /lib/udev/rules.d/70-orvim-recorder.rules \
            /etc/systemd/system/multi-user.target.wants/dastel.service; do
  check "purge leaves no $path" test ! -e "$path" -a ! -L "$path"
done
check "dpkg knows nothing of dastel" bash -c "! dpkg-query -W dastel >/dev/null 2>&1 || dpkg-query -W -f='\${Status}' dastel | grep -q not-installed"
# What the docs say stays: the system user and its group.
check "the system user dastel stays, as documented" getent passwd dastel

echo "package test: $FAILURES failures, $((SECONDS - STARTED)) s"
[[ $FAILURES -eq 0 ]]
