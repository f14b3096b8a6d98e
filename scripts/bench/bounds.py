#!/usr/bin/env python3
"""What clients can make the service hold, measured on a scratch copy of
dastel on loopback (no recorder needed), bounded in time.

Figures:
  downloads  six clients fetching one large memory read-out (GET /flash/<file>)
             at once, each reading slowly: the service's peak RSS (VmHWM)
             over its RSS before, and the longest wait of a small GET asked
             every 50 ms meanwhile, against the same GET on an idle service;
  listing    GET /recordings/ with 10 000 recordings in the directory: the
             median of 5 answers after a first one, against GET of a small
             UI file in the same run;
  bodies     32 clients announcing a body (1 MiB each, the 32 MiB budget of
             incomplete bodies) and sending a byte every second: how long a
             POST whose body follows its headers keeps being refused (503)
             before the budget is free again; the reference is the request
             time-out the service announces (none before the bound).

With --before-binary, the same figures for an earlier build, in the same run.

Usage: scripts/bench/bounds.py [--build build] [--before-binary path]
                               [--only downloads,listing,bodies]
"""

import argparse
import os
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def bdf_file(seconds=1, rate=10):
    """A small, valid BDF file: one signal, `seconds` one-second records."""
    ns = 1
    head = b"0       " + b"X X X X".ljust(80) + b"Startdate 01-JAN-2026 X X X".ljust(80)
    head += b"01.01.26" + b"00.00.00" + str(256 * (ns + 1)).encode().ljust(8)
    head += b"24BIT".ljust(44) + str(seconds).encode().ljust(8) + b"1".ljust(8) + str(ns).encode().ljust(4)
    head = b"\xff" + b"BIOSEMI" + head[8:]
    sig = b"ECG".ljust(16) + b"".ljust(80) + b"uV".ljust(8) + b"-8388608".ljust(8) + b"8388607".ljust(8)
    sig += b"-8388608".ljust(8) + b"8388607".ljust(8) + b"".ljust(80) + str(rate).encode().ljust(8) + b"".ljust(32)
    data = b"\0\0\0" * rate * seconds
    return head + sig + data


class Service:
    def __init__(self, binary, settings_extra=None):
        self.dir = tempfile.mkdtemp(prefix="dastel-bounds.")
        shutil.copy(binary, os.path.join(self.dir, "dastel"))
        for name in os.listdir(os.path.join(ROOT, "config")):
            src = os.path.join(ROOT, "config", name)
            dst = os.path.join(self.dir, name)
            (shutil.copytree if os.path.isdir(src) else shutil.copy)(src, dst)
        shutil.copytree(os.path.join(ROOT, "web"), os.path.join(self.dir, "web"))
        self.port = free_port()
        ports = [self.port, free_port(), free_port(), free_port()]
        extra = settings_extra or ""
        with open(os.path.join(self.dir, "settings.json"), "w") as f:
            f.write('{"deviceAdapter":{"port":%d},"adcSender":{"port":%d},"eventSender":{"port":%d},'
                    '"terminal":{"port":%d},"errorLogPath":"","htmlDirectories":["web"],'
                    '"defaultHtmlDirectory":"web",%s"listenAddress":"127.0.0.1"}' % (*ports, extra))
        os.makedirs(os.path.join(self.dir, "flash"))
        os.makedirs(os.path.join(self.dir, "recordings"))
        self.proc = None

    def start(self):
        self.proc = subprocess.Popen(["timeout", "600", "./dastel"], cwd=self.dir, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        for _ in range(200):
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                break
            except OSError:
                time.sleep(0.05)
        # The timeout wrapper's child is the service.
        out = subprocess.run(["pgrep", "-P", str(self.proc.pid)], capture_output=True, text=True).stdout.split()
        self.pid = int(out[0]) if out else self.proc.pid

    def status(self, key):
        with open("/proc/%d/status" % self.pid) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])  # kB
        return 0

    def stop(self):
        if self.proc:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


def request(port, raw, timeout=30):
    s = socket.create_connection(("127.0.0.1", port), timeout)
    s.sendall(raw)
    data = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        data += chunk
    s.close()
    return data


def timed_get(port, path):
    t = time.perf_counter()
    request(port, b"GET " + path + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
    return time.perf_counter() - t


def downloads(binary, size_mib):
    svc = Service(binary)
    try:
        with open(os.path.join(svc.dir, "flash", "readout-20260101-000000-000.bin"), "wb") as f:
            f.write(os.urandom(1024 * 1024) * size_mib)
        svc.start()
        idle = [timed_get(svc.port, b"/style.css") for _ in range(20)]
        rss_before = svc.status("VmRSS")
        done = []

        def slow_reader():
            s = socket.create_connection(("127.0.0.1", svc.port), 60)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
            s.sendall(b"GET /flash/readout-20260101-000000-000.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            got = 0
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                got += len(chunk)
                time.sleep(0.001)
            done.append(got)
            s.close()

        threads = [threading.Thread(target=slow_reader) for _ in range(6)]
        for t in threads:
            t.start()
        waits = []
        while any(t.is_alive() for t in threads):
            waits.append(timed_get(svc.port, b"/style.css"))
            time.sleep(0.05)
        for t in threads:
            t.join()
        peak = svc.status("VmHWM")
        return {"rss_before_mib": rss_before / 1024, "peak_mib": peak / 1024,
                "added_mib": (peak - rss_before) / 1024, "longest_wait_ms": max(waits) * 1000,
                "idle_wait_ms": max(idle) * 1000, "received_mib": [round(d / 1048576, 1) for d in done]}
    finally:
        svc.stop()


def listing(binary, count):
    svc = Service(binary)
    try:
        one = bdf_file()
        rec = os.path.join(svc.dir, "recordings")
        for i in range(count):
            with open(os.path.join(rec, "recording-20260101-%06d.bdf" % i), "wb") as f:
                f.write(one)
        svc.start()
        first = timed_get(svc.port, b"/recordings/")
        times = [timed_get(svc.port, b"/recordings/") for _ in range(5)]
        ref = [timed_get(svc.port, b"/style.css") for _ in range(5)]
        answer = request(svc.port, b"GET /recordings/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        return {"first_ms": first * 1000, "median_ms": statistics.median(times) * 1000,
                "static_ms": statistics.median(ref) * 1000, "entries": answer.count(b'"name"'),
                "parsed": answer.count(b'"duration":1')}
    finally:
        svc.stop()


def bodies(binary, limit_s):
    svc = Service(binary)
    socks = []
    try:
        svc.start()
        for _ in range(32):
            s = socket.create_connection(("127.0.0.1", svc.port), 10)
            s.sendall(b"POST /cmd HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 1048576\r\n\r\n")
            socks.append(s)
        time.sleep(0.5)
        start = time.perf_counter()
        refused_until = None
        while time.perf_counter() - start < limit_s:
            for s in socks:
                try:
                    s.send(b"x")
                except OSError:
                    pass
            c = socket.create_connection(("127.0.0.1", svc.port), 10)
            body = b'{"cmd":"GetCmdList","uid":1}'
            c.sendall(b"POST /cmd HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: %d\r\n\r\n" % len(body))
            time.sleep(0.05)
            try:
                c.sendall(body)
            except OSError:
                pass
            answer = b""
            try:
                while True:
                    chunk = c.recv(4096)
                    if not chunk:
                        break
                    answer += chunk
            except OSError:
                pass
            c.close()
            if not answer.startswith(b"HTTP/1.1 503"):
                refused_until = time.perf_counter() - start
                break
            time.sleep(1)
        return {"refused_for_s": refused_until if refused_until is not None else ">%d" % limit_s}
    finally:
        for s in socks:
            s.close()
        svc.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--before-binary")
    parser.add_argument("--only", default="downloads,listing,bodies")
    parser.add_argument("--readout-mib", type=int, default=96)
    parser.add_argument("--files", type=int, default=10000)
    parser.add_argument("--bodies-seconds", type=int, default=45)
    args = parser.parse_args()
    binaries = [("this build", os.path.join(args.build, "dastel"))]
    if args.before_binary:
        binaries.append(("before", args.before_binary))
    only = args.only.split(",")
    print("load average before:", os.getloadavg())
    for label, binary in binaries:
        if "downloads" in only:
            print(label, "downloads", downloads(binary, args.readout_mib), flush=True)
        if "listing" in only:
            print(label, "listing", listing(binary, args.files), flush=True)
        if "bodies" in only:
            print(label, "bodies", bodies(binary, args.bodies_seconds), flush=True)
    print("load average after:", os.getloadavg())
    return 0


if __name__ == "__main__":
    sys.exit(main())
