#!/usr/bin/env python3
"""Latency, starvation, static files and churn memory of dastel, each against
a reference measured in the same run (loopback only, bounded in time).

The service runs from a scratch copy under dastel-sim at --frequency frames
per second. The reference for everything on the USB side is the simulator's
bare libusb test client (tests/simulator/usbsim_client, mode "bench") on the
same virtual recorder: it reads the stream with four reads in flight, as the
service does, and runs ReadRtc exchanges one at a time. The reference for
static files is Debian's nginx (installed if missing) with one worker, the
same files and the connection closed after each answer. Two load generators
ask, each a new connection for every request over every file of the web
directory in turn: scripts/bench/closeload.c (built here with cc), which does
the same work per answer for both servers, and wrk (installed if missing),
kept for comparison with earlier figures although it opens a second, unused
connection for every answer that ends with its connection's close.

Figures (each printed with its reference and the ratio):
  rtt       command round trip: GetTime over HTTP vs a bare ReadRtc exchange
            (p50, p99), one request at a time, the stream running; asked
            by the Python client of the other figures and again by
            closeload's C client, which spends less of its own time on each;
  flood     commands back to back beside the stream: the rate one client
            reaches, frames the simulator dropped, gaps at a signal client,
            vs the bare client exchanging back to back beside its own stream;
  button    button press: due time of the flagged frame -> buttonPush event
            at an event client, vs the bare client reading that frame;
  frame     last frame of a signal message: its due time -> the message at a
            signal client, vs the bare client reading that frame (found with
            the simulator's "mark");
  static    static files, requests/s, vs nginx: the service alone (no
            recorder, no simulator, measured before the simulated recorder
            starts) and the service under dastel-sim streaming 2000 frames/s,
            whose preloaded virtual USB library wraps every file and socket
            call, each against nginx in the same conditions;
            both log every request (nginx to its access log, the service to
            its standard output);
  churn     RSS of the service over 10 rounds of 100 signal clients joining
            and leaving (no reference: the bound is 1 MiB after round 1).

With --before-binary, a dastel executable built from an earlier commit is
measured in every run too, against the same references: beside the service
alone in the same rounds for static files, and right after the service for
every other figure (rows marked "[before]"), so that a change is judged
against its references and its predecessor in one invocation.

Usage: scripts/bench/latency.py [--build build] [--runs 1] [--seconds 4]
                                [--only rtt,flood,...] [--before-binary path]
Exit status 0, 77 when the simulated recorder cannot run here.
"""

import argparse
import atexit
import contextlib
import json
import os
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "hardening"))
import dastelclient as dc  # noqa: E402

HOST = dc.HOST
MARKER = 8388607  # the simulator's "mark" value in every ECG sample
FIGURES = ("rtt", "flood", "button", "frame", "static", "churn")


def percentile(values, p):
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(p * (len(ordered) - 1) + 0.5))]


def ensure_packages(*pairs):
    """(command, Debian package) pairs: installs the packages whose command is missing."""
    missing = [package for command, package in pairs if shutil.which(command) is None
               and not os.path.exists(command)]
    if not missing:
        return
    apt = ["apt-get"] if os.geteuid() == 0 else ["sudo", "apt-get"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(apt + ["update", "-q"], check=True, env=env, stdout=subprocess.DEVNULL)
    subprocess.run(apt + ["install", "-y", "-q"] + missing, check=True, env=env, stdout=subprocess.DEVNULL)


def find_client(build):
    for path in (os.path.join(build, "tests", "simulator", "usbsim_client"), os.path.join(build, "usbsim_client")):
        if os.access(path, os.X_OK):
            return path
    raise dc.StartFailed(f"usbsim_client is missing under {build} (build the tests)")


# ---------------------------------------------------------------- the bare reference

class BareClient:
    """usbsim_client bench under its own dastel-sim: SEEN lines and the BENCH summary."""

    def __init__(self, build, frequency, seconds, gap_ms):
        self.command = [os.path.join(build, "dastel-sim"), "--control-port", "0", "--frequency", str(frequency),
                        "--", find_client(build), "bench", str(seconds), str(gap_ms)]
        self.seen = {"mark": [], "button": []}
        self.summary = None
        self.control = None
        self.failure = None
        self._cond = threading.Condition()

    def _drain(self):
        for line in self.process.stdout:
            with self._cond:
                if line.startswith("SEEN "):
                    _, kind, ns = line.split()
                    self.seen[kind].append(int(ns))
                elif line.startswith("BENCH "):
                    self.summary = {k: float(v) for k, v in re.findall(r"(\w+)=([-\d.]+)", line)}
                elif line.startswith("DASTEL_SIM_CONTROL_PORT="):
                    self.control = dc.SimControl(int(line.split("=", 1)[1]))
                elif line.startswith("CLIENT-FAIL"):
                    self.failure = line.strip()
                self._cond.notify_all()

    def start(self):
        self.process = subprocess.Popen(self.command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        threading.Thread(target=self._drain, daemon=True).start()
        with self._cond:
            if not self._cond.wait_for(lambda: self.control is not None or self.process.poll() is not None, 20):
                raise dc.StartFailed("dastel-sim with the bare client did not start")
        if self.control is None:
            if self.process.returncode == dc.SKIP_STATUS:
                raise dc.SimulatorUnavailable("dastel-sim: virtual USB unavailable")
            raise dc.StartFailed(f"dastel-sim ended with {self.process.returncode}")
        return self

    def wait_seen(self, kind, count, timeout):
        with self._cond:
            self._cond.wait_for(lambda: len(self.seen[kind]) >= count, timeout)
            return self.seen[kind][count - 1] if len(self.seen[kind]) >= count else None

    def finish(self, timeout):
        self.process.wait(timeout)
        with self._cond:
            self._cond.wait_for(lambda: self.summary is not None, 2)
        if self.failure or self.summary is None:
            raise RuntimeError(f"bare client failed: {self.failure or 'no summary'}")
        return self.summary


def dropped(control):
    return control.ok("state")["model"]["framesDropped"]


def due_after(control, key, before, timeout=2.0):
    """Waits until the simulator reports a new due time under `key`."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = control.ok("state")["model"][key]
        if value != before:
            return value
        time.sleep(0.01)
    return None


def timed_presses(control, kind, count, seen_ns):
    """Sends `count` marks or button presses 150 ms apart; `seen_ns(i)` gives
    the moment the i-th (1-based) one was seen downstream. Returns latencies
    in ms from each frame's due time."""
    key = "lastMarkedFrameDueNs" if kind == "mark" else "lastButtonFrameDueNs"
    latencies = []
    before = control.ok("state")["model"][key]
    for i in range(1, count + 1):
        control.ok(kind)
        due = due_after(control, key, before)
        if due is None:
            continue
        before = due
        seen = seen_ns(i, due)
        if seen is not None:
            latencies.append((seen - due) / 1e6)
        time.sleep(0.15)
    return latencies


def bare_rtt(args):
    client = BareClient(args.build, args.frequency, args.seconds, 2).start()
    summary = client.finish(args.seconds + 20)
    return summary["rttP50Us"] / 1000, summary["rttP99Us"] / 1000


def bare_flood(args):
    client = BareClient(args.build, args.frequency, args.seconds + 1, 0).start()
    time.sleep(0.5)
    before = dropped(client.control)
    time.sleep(args.seconds)
    after = dropped(client.control)
    summary = client.finish(30)
    return summary["rate"], after - before, summary["gaps"]


def bare_presses(args, kind):
    count = args.presses
    client = BareClient(args.build, args.frequency, int(count * 0.25) + 3, -1).start()
    time.sleep(0.5)
    latencies = timed_presses(client.control, kind, count, lambda i, due: client.wait_seen(kind, i, 1.0))
    client.finish(60)
    return latencies


# ---------------------------------------------------------------- the service

def service_rtt(service, count):
    times = []
    for uid in range(count):
        result = service.command("GetTime", uid + 10, timeout=5.0, linger=0.0)
        answer = result.json()
        if answer and answer.get("status") == "ok":
            times.append(result.elapsed * 1000)
    return percentile(times, 0.5), percentile(times, 0.99), len(times)


def service_rtt_lean(service, count):
    """The same round trip from closeload's C client: what the service adds
    without the Python client's own time per request."""
    body = json.dumps({"cmd": "GetTime", "uid": 9})
    out = subprocess.run([closeload_binary(), "rtt", str(service.http_port), str(count), "/cmd", body, '"status":"ok"'],
                         capture_output=True, text=True, timeout=count * 5 + 30).stdout
    fields = dict(zip(out.split()[0::2], out.split()[1::2]))
    if "p50_us" not in fields or int(fields["ok"]) < count * 0.99:
        raise RuntimeError(f"closeload rtt failed: {out}")
    return float(fields["p50_us"]) / 1000, float(fields["p99_us"]) / 1000


class SignalWatch:
    """A signal client that counts messages, gaps of pointCounter and marked points."""

    def __init__(self, port, frequency):
        self.frequency = frequency
        self.messages = 0
        self.gaps = 0
        self.expected = None
        self.marks = []  # (receive ns, points after the marked one in its message)
        self.cond = threading.Condition()
        self.client = dc.WebSocketClient(port, self.on_message)

    def on_message(self, opcode, payload):
        received = time.monotonic_ns()
        message = dc.unpackb(payload)
        counter, block = dc.signal_point_counter(message)
        ecg = message["channels"][0]
        with self.cond:
            self.messages += 1
            if self.expected is not None and counter != self.expected:
                self.gaps += 1
            self.expected = counter + block
            values = ecg["data"]
            signals = ecg["signalCount"]
            for index, value in enumerate(values):
                if value == MARKER:
                    point = index // signals
                    self.marks.append((received, block - 1 - point))
                    break
            self.cond.notify_all()

    def wait_mark(self, count, timeout):
        with self.cond:
            self.cond.wait_for(lambda: len(self.marks) >= count, timeout)
            return self.marks[count - 1] if len(self.marks) >= count else None


class EventWatch:
    def __init__(self, port):
        self.pushes = []
        self.cond = threading.Condition()
        self.client = dc.WebSocketClient(port, self.on_message)

    def on_message(self, opcode, payload):
        received = time.monotonic_ns()
        if "buttonPush" in dc.event_types(dc.unpackb(payload)):
            with self.cond:
                self.pushes.append(received)
                self.cond.notify_all()

    def wait_push(self, count, timeout):
        with self.cond:
            self.cond.wait_for(lambda: len(self.pushes) >= count, timeout)
            return self.pushes[count - 1] if len(self.pushes) >= count else None


def service_flood(service, seconds, frequency):
    watch = SignalWatch(service.adc_port, frequency)
    time.sleep(0.5)
    before = dropped(service.control)
    with watch.cond:
        gaps_before = watch.gaps
    done = 0
    uid = 100000
    end = time.monotonic() + seconds
    started = time.monotonic()
    while time.monotonic() < end:
        uid += 1
        answer = service.command("GetTime", uid, timeout=5.0, linger=0.0).json()
        if answer and answer.get("status") == "ok":
            done += 1
    rate = done / (time.monotonic() - started)
    time.sleep(0.3)
    after = dropped(service.control)
    with watch.cond:
        gaps = watch.gaps - gaps_before
    watch.client.close()
    return rate, after - before, gaps


def service_presses(service, kind, count, frequency):
    if kind == "mark":
        watch = SignalWatch(service.adc_port, frequency)

        def seen(i, due):
            mark = watch.wait_mark(i, 1.0)
            if mark is None:
                return None
            received, after = mark
            # Timed from the message's last frame, not the marked one.
            return received - int(after * 1e9 / frequency)
    else:
        watch = EventWatch(service.event_port)

        def seen(i, due):
            return watch.wait_push(i, 1.0)
    time.sleep(0.5)
    latencies = timed_presses(service.control, kind, count, seen)
    watch.client.close()
    return latencies


def service_churn(service, rounds=10, clients=100):
    rss = []
    refused = 0
    for _ in range(rounds):
        joined = []
        for _ in range(clients):
            try:
                joined.append(dc.WebSocketClient(service.adc_port, lambda opcode, payload: None))
            except (OSError, ConnectionError):
                refused += 1
        time.sleep(0.3)
        for client in joined:
            client.close()
        # The service hands freed memory back a second after clients leave.
        time.sleep(1.5)
        rss.append(service.stats().rss_kib())
    return rss, refused


# ---------------------------------------------------------------- static files

NGINX_CONF = """worker_processes 1;
daemon off;
pid {root}/nginx.pid;
error_log {root}/error.log;
events {{ worker_connections 1024; }}
http {{
    access_log {root}/access.log;
    keepalive_timeout 0;
    client_body_temp_path {root}/tmp;
    proxy_temp_path {root}/tmp;
    fastcgi_temp_path {root}/tmp;
    uwsgi_temp_path {root}/tmp;
    scgi_temp_path {root}/tmp;
    server {{
        listen 127.0.0.1:{port};
        root {web};
    }}
}}
"""


WRK_SCRIPT = """
local paths = {{{paths}}}
local i = 0
request = function()
    i = i % #paths + 1
    return wrk.format("GET", paths[i], {{["Host"] = "127.0.0.1", ["Connection"] = "close"}})
end
"""


def wrk_rate(port, paths, seconds, connections, work):
    """Requests/s of wrk over `paths` ((path, size) pairs), each on a new connection. wrk takes an
    answer ended by its connection's close for a read error and opens a second
    connection that it closes unused, so a server answering that way pays for
    two connections per answer; nginx, which sends the length, for one."""
    script = os.path.join(work, "paths.lua")
    if not os.path.exists(script):
        with open(script, "w") as lua:
            lua.write(WRK_SCRIPT.format(paths=", ".join(f'"{path}"' for path, _ in paths)))
    out = subprocess.run(["wrk", "-t1", f"-c{connections}", f"-d{seconds}s", "--timeout", "10s", "-s", script, f"http://{HOST}:{port}/"],
                         capture_output=True, text=True, timeout=seconds + 60).stdout
    rate = re.search(r"Requests/sec:\s+([\d.]+)", out)
    if not rate or "Non-2xx" in out or re.search(r"timeout [1-9]", out):
        raise RuntimeError(f"wrk against port {port} failed:\n{out}")
    return float(rate.group(1))


_closeload = None


def closeload_binary():
    """scripts/bench/closeload.c, built once per invocation."""
    global _closeload
    if _closeload is None:
        work = tempfile.mkdtemp(prefix="dastel-closeload-")
        atexit.register(shutil.rmtree, work, True)
        binary = os.path.join(work, "closeload")
        source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "closeload.c")
        subprocess.run(["cc", "-O2", "-o", binary, source], check=True)
        _closeload = binary
    return _closeload


def closeload_rate(port, paths, seconds, connections, work):
    """Answers with status 200 per second from scripts/bench/closeload.c: one
    connection per request, the answer read to its end, the same client work
    whichever server answers (see that file for why not wrk)."""
    out = subprocess.run([closeload_binary(), str(port), str(connections), str(seconds)] + [f"{path}:{size}" for path, size in paths],
                         capture_output=True, text=True, timeout=seconds + 60).stdout
    fields = dict(zip(out.split()[0::2], out.split()[1::2]))
    if "rate" not in fields or fields["other"] != "0" or fields["errors"] != "0":
        raise RuntimeError(f"closeload against port {port} failed: {out}")
    return float(fields["rate"])


LOADS = {"closeload": closeload_rate, "wrk": wrk_rate}


class StandaloneService:
    """The same scratch service without the simulator: no recorder, and none of
    the virtual USB library that the simulator preloads into its child (it
    wraps every file and socket call of the process). Its log goes to a file."""

    def __init__(self, build, binary=None):
        self.service = dc.Service(build, prefix="dastel-static-")
        self.binary = binary
        self.process = None

    def __enter__(self):
        self.service._prepare()
        if self.binary:
            shutil.copy2(self.binary, os.path.join(self.service.scratch, "dastel"))
        self.log = open(os.path.join(self.service.scratch, "dastel.log"), "w")
        self.process = subprocess.Popen([os.path.join(self.service.scratch, "dastel")], stdout=self.log,
                                        stderr=subprocess.STDOUT, cwd=self.service.scratch)
        deadline = time.monotonic() + 15
        while True:
            try:
                socket.create_connection((HOST, self.service.http_port), timeout=0.5).close()
                return self
            except OSError:
                if time.monotonic() > deadline or self.process.poll() is not None:
                    raise RuntimeError("the service alone did not start")
                time.sleep(0.05)

    @property
    def http_port(self):
        return self.service.http_port

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait(15)
        self.log.close()
        shutil.rmtree(self.service.scratch, ignore_errors=True)
        return False


def static_rates(web_source, targets, seconds, connections, rounds=3):
    """Requests/s over every file of `web_source`: {load: {label: median}} for
    each load generator of LOADS and each (label, port) of `targets` and
    "nginx"."""
    paths = [("/" + name, len(content)) for name, content in dc.web_files(web_source)]
    root = tempfile.mkdtemp(prefix="dastel-nginx-")
    # nginx's worker drops to an unprivileged user: it gets its own readable copy.
    os.chmod(root, 0o755)
    web = os.path.join(root, "web")
    shutil.copytree(web_source, web)
    os.makedirs(os.path.join(root, "tmp"))
    port = dc.free_port()
    with open(os.path.join(root, "nginx.conf"), "w") as conf:
        conf.write(NGINX_CONF.format(root=root, port=port, web=web))
    nginx = subprocess.Popen(["nginx", "-c", os.path.join(root, "nginx.conf"), "-p", root],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 10
        while True:
            try:
                socket.create_connection((HOST, port), timeout=0.5).close()
                break
            except OSError:
                if time.monotonic() > deadline or nginx.poll() is not None:
                    raise RuntimeError("nginx did not start")
                time.sleep(0.05)
        result = {}
        for load_name, load in LOADS.items():
            rates = {label: [] for label, _ in targets}
            rates["nginx"] = []
            # Alternated so that all meet the same load of the machine.
            for _ in range(rounds):
                for label, target in targets + [("nginx", port)]:
                    rates[label].append(load(target, paths, seconds, connections, root))
            result[load_name] = {label: statistics.median(values) for label, values in rates.items()}
        return result
    finally:
        nginx.terminate()
        nginx.wait(10)
        shutil.rmtree(root, ignore_errors=True)


# ---------------------------------------------------------------- one run

def before_build(build, binary):
    """A build directory that is `build` with `binary` as its dastel: the same
    simulator, configuration and web files around the earlier service."""
    global _before_build
    if _before_build is None:
        directory = tempfile.mkdtemp(prefix="dastel-before-")
        atexit.register(shutil.rmtree, directory, True)
        for name in os.listdir(build):
            if name != "dastel":
                os.symlink(os.path.join(build, name), os.path.join(directory, name))
        shutil.copy2(binary, os.path.join(directory, "dastel"))
        _before_build = directory
    return _before_build


_before_build = None


def one_run(args):
    """{figure name: (value, reference or None, unit, lower_is_better)}."""
    rows = {}
    only = set(args.only)
    if "rtt" in only:
        ref50, ref99 = bare_rtt(args)
    if "flood" in only:
        ref_rate, ref_dropped, ref_gaps = bare_flood(args)
    bare_mark = bare_presses(args, "mark") if "frame" in only else []
    bare_button = bare_presses(args, "button") if "button" in only else []

    if "static" in only:
        # Before the simulated recorder streams, which would share the cores.
        with contextlib.ExitStack() as stack:
            alone = stack.enter_context(StandaloneService(args.build))
            targets = [("alone", alone.http_port)]
            if args.before_binary:
                before = stack.enter_context(StandaloneService(args.build, args.before_binary))
                targets.append(("before", before.http_port))
            by_load = static_rates(os.path.join(alone.service.scratch, "web"), targets,
                                   args.static_seconds, args.connections)
        for load, rates in by_load.items():
            rows[f"static files, requests/s (service alone, {load})"] = (rates["alone"], rates["nginx"], False)
            if args.before_binary:
                rows[f"static files, requests/s (--before-binary alone, {load})"] = (rates["before"], rates["nginx"], False)

    def service_rows(build, tag):
        """The service's figures from `build`, each row named with `tag`."""
        service = dc.Service(build, frequency=args.frequency, prefix="dastel-bench-")
        status = dc.start_service(service)
        if status is not None:
            sys.exit(status)
        try:
            ok, _ = service.wait_identified()
            if not ok:
                raise RuntimeError("the service never identified the recorder")
            time.sleep(1.0)
            if "rtt" in only:
                p50, p99, n = service_rtt(service, args.requests)
                rows[tag + "rtt p50 (ms)"] = (p50, ref50, True)
                rows[tag + "rtt p99 (ms)"] = (p99, ref99, True)
                lean50, lean99 = service_rtt_lean(service, args.requests)
                rows[tag + "rtt p50, C client (ms)"] = (lean50, ref50, True)
                rows[tag + "rtt p99, C client (ms)"] = (lean99, ref99, True)
            if "flood" in only:
                rate, lost, gaps = service_flood(service, args.seconds, args.frequency)
                rows[tag + "commands/s beside the stream"] = (rate, ref_rate, False)
                rows[tag + "frames dropped by the simulator"] = (lost, ref_dropped, True)
                rows[tag + "gaps at a signal client (bare: frame gaps)"] = (gaps, ref_gaps, True)
            if "button" in only:
                lat = service_presses(service, "button", args.presses, args.frequency)
                rows[tag + "button -> event p50 (ms)"] = (percentile(lat, 0.5), percentile(bare_button, 0.5), True)
                rows[tag + "button -> event p99 (ms)"] = (percentile(lat, 0.99), percentile(bare_button, 0.99), True)
                rows[tag + "button presses seen"] = (len(lat), len(bare_button), False)
            if "frame" in only:
                lat = service_presses(service, "mark", args.presses, args.frequency)
                rows[tag + "last frame -> message p50 (ms)"] = (percentile(lat, 0.5), percentile(bare_mark, 0.5), True)
                rows[tag + "last frame -> message p99 (ms)"] = (percentile(lat, 0.99), percentile(bare_mark, 0.99), True)
                rows[tag + "marked frames seen"] = (len(lat), len(bare_mark), False)
            if "static" in only:
                by_load = static_rates(os.path.join(service.scratch, "web"), [("simulated", service.http_port)],
                                       args.static_seconds, args.connections)
                for load, rates in by_load.items():
                    rows[tag + f"static files, requests/s (under dastel-sim, {load})"] = (rates["simulated"], rates["nginx"], False)
            if "churn" in only:
                rss, refused = service_churn(service)
                rows[tag + "churn RSS after round 1 (KiB)"] = (rss[0], None, True)
                rows[tag + "churn RSS after round 10 (KiB)"] = (rss[-1], None, True)
                rows[tag + "churn RSS growth rounds 1->10 (KiB)"] = (rss[-1] - rss[0], None, True)
                rows[tag + "churn RSS largest growth after round 1 (KiB)"] = (max(rss) - rss[0], None, True)
                rows[tag + "churn clients refused (limit per stream)"] = (refused, None, True)
        finally:
            service.stop()

    service_rows(args.build, "")
    if args.before_binary:
        # The same figures from the earlier build, against the same references.
        service_rows(before_build(args.build, args.before_binary), "[before] ")
    return rows


def fmt(value):
    if value is None:
        return "-"
    if isinstance(value, float):
        if value != value:
            return "nan"
        return f"{value:.3f}" if abs(value) < 100 else f"{value:.0f}"
    return str(value)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(dc.repo_root(), "build"))
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--seconds", type=int, default=4, help="length of the rtt and flood phases")
    parser.add_argument("--requests", type=int, default=400, help="GetTime requests for the round trip")
    parser.add_argument("--presses", type=int, default=20, help="button presses and marks per phase")
    parser.add_argument("--static-seconds", type=int, default=2, help="each of three alternating runs per server and load generator")
    parser.add_argument("--connections", type=int, default=4, help="connections of the load generators for static files")
    parser.add_argument("--frequency", type=int, default=2000)
    parser.add_argument("--only", default=",".join(FIGURES))
    parser.add_argument("--before-binary", help="a dastel built from an earlier commit, measured in every run as well")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.only = [name.strip() for name in args.only.split(",") if name.strip()]
    unknown = set(args.only) - set(FIGURES)
    if unknown:
        parser.error(f"unknown figures {sorted(unknown)}; known: {', '.join(FIGURES)}")
    if "static" in args.only:
        ensure_packages(("/usr/sbin/nginx", "nginx"), ("wrk", "wrk"))
    if "static" in args.only or "rtt" in args.only:
        ensure_packages(("cc", "gcc"))

    runs = []
    for run in range(args.runs):
        try:
            rows = one_run(args)
        except dc.SimulatorUnavailable as reason:
            print(f"virtual USB unavailable here: {reason}")
            return dc.SKIP_STATUS
        runs.append(rows)
        print(f"run {run + 1}:")
        for name, (value, reference, _) in rows.items():
            ratio = value / reference if reference not in (None, 0) and value == value else None
            print(f"  {name:48s} {fmt(value):>10s}   reference {fmt(reference):>10s}   ratio {fmt(ratio)}")
        sys.stdout.flush()
    if args.runs > 1:
        print(f"min / median / max over {args.runs} runs:")
        for name in runs[0]:
            values = [r[name][0] for r in runs]
            refs = [r[name][1] for r in runs if r[name][1] is not None]
            ratios = [r[name][0] / r[name][1] for r in runs if r[name][1] not in (None, 0)]
            line = f"  {name:48s} {fmt(min(values))} / {fmt(statistics.median(values))} / {fmt(max(values))}"
            if refs:
                line += f"   reference {fmt(min(refs))} / {fmt(statistics.median(refs))} / {fmt(max(refs))}"
            if ratios:
                line += f"   ratio {fmt(min(ratios))} / {fmt(statistics.median(ratios))} / {fmt(max(ratios))}"
            print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
