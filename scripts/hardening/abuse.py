#!/usr/bin/env python3
"""What clients can make dastel hold or do, measured (loopback only, bounded).

One service under the simulated recorder (2000 frames/s) meets, in turn:
  large-messages  one 256 MiB message sent to each WebSocket port
  stalled-clients 100 signal clients, 20 event clients and 20 terminal
                  clients that never read, for --stall-seconds
  pending-bodies  300 requests announcing 1 MiB bodies that never come
  trickle         1000 connections that send a header byte now and then,
                  while the recorder is unplugged and plugged again
  command-flood   500 parallel requests to a recorder that does not answer,
                  and one normal request 3 s into the flood
  readouts        25 memory read-outs
For each it prints what the service answered, its peak RSS and open
descriptors, and it checks the service's bounds held: every request got an
answer, the service still runs and serves, and it found the recorder again.

Usage: scripts/hardening/abuse.py [--build build] [--only case,...] [--stall-seconds 20]
Exit status: 0 when every bound held, 1 otherwise, 77 when the simulated
recorder cannot be had here.
"""

import argparse
import json
import os
import resource
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import dastelclient as dc  # noqa: E402

MIB = 1024 * 1024


class Watch:
    """Samples the service's RSS and open descriptors every 50 ms."""

    def __init__(self, service):
        self.pid = service.service_pid
        self.stats = service.stats()
        self.peak_rss = 0
        self.peak_fds = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def fds(self):
        try:
            return len(os.listdir(f"/proc/{self.pid}/fd"))
        except OSError:
            return 0

    def _run(self):
        while not self._stop.is_set():
            self.peak_rss = max(self.peak_rss, self.stats.rss_kib() or 0)
            self.peak_fds = max(self.peak_fds, self.fds())
            self._stop.wait(0.05)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()


class Case:
    def __init__(self, service):
        self.service = service
        self.failures = []
        self.figures = {}

    def check(self, condition, text):
        if not condition:
            self.failures.append(text)

    def still_serves(self):
        ok, result = self.service.wait_identified(timeout=30.0, uid=99)
        self.check(ok, f"the service no longer answers GetTime: {result and result.body[:200]!r}")


def raw_websocket(port):
    """A handshaken WebSocket connection on a plain socket (or None)."""
    sock = socket.create_connection((dc.HOST, port), timeout=5.0)
    sock.sendall((f"GET / HTTP/1.1\r\nHost: {dc.HOST}:{port}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n").encode())
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = sock.recv(1)
        if not chunk:
            sock.close()
            return None, head
        head += chunk
    if b" 101 " not in head.split(b"\r\n", 1)[0]:
        sock.close()
        return None, head
    return sock, head


def large_messages(case, _args):
    service = case.service
    ports = {"signals": service.adc_port, "events": service.event_port, "terminal": service.ports["terminal"]}
    for name, port in ports.items():
        sock, _ = raw_websocket(port)
        case.check(sock is not None, f"{name}: handshake refused")
        if sock is None:
            continue
        size = 256 * MIB
        # A masked binary frame header announcing `size` bytes, then zeros (mask 0).
        header = bytes([0x82, 0x80 | 127]) + size.to_bytes(8, "big") + b"\0\0\0\0"
        sent = 0
        closed = False
        sock.settimeout(2.0)
        try:
            sock.sendall(header)
            block = b"\0" * MIB
            while sent < size:
                sock.sendall(block)
                sent += len(block)
        except OSError:
            closed = True
        sock.close()
        case.figures[f"{name}: MiB taken before the close"] = round(sent / MIB, 1)
        case.check(closed, f"{name}: a 256 MiB message was taken whole")
    case.still_serves()


def stalled_clients(case, args):
    service = case.service
    held, refused = [], {"signals": 0, "events": 0, "terminal": 0}
    plan = [("signals", service.adc_port, 100), ("events", service.event_port, 20),
            ("terminal", service.ports["terminal"], 20)]
    for name, port, count in plan:
        for _ in range(count):
            sock, head = raw_websocket(port)
            if sock is None:
                refused[name] += 1
                continue
            # Take nothing more: the kernel's buffers fill, then the service's.
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            held.append((name, sock))
    # Commands make log lines for the terminal clients to fall behind on.
    stop = threading.Event()

    def commands():
        uid = 1000
        while not stop.is_set():
            uid += 1
            service.command("GetCmdList", uid, timeout=10.0, linger=0.0)

    workers = [threading.Thread(target=commands, daemon=True) for _ in range(2)]
    for worker in workers:
        worker.start()
    time.sleep(args.stall_seconds)
    stop.set()
    for worker in workers:
        worker.join()
    dropped = {"signals": 0, "events": 0, "terminal": 0}
    for name, sock in held:
        sock.setblocking(False)
        try:
            while True:
                data = sock.recv(1 << 20)
                if not data:
                    dropped[name] += 1
                    break
        except BlockingIOError:
            pass
        except OSError:
            dropped[name] += 1
        sock.close()
    for name in refused:
        case.figures[f"{name}: refused / dropped"] = f"{refused[name]} / {dropped[name]}"
    case.check(refused["signals"] == 100 - 64, f"signals: {refused['signals']} refused beyond 64 clients")
    case.still_serves()


def pending_bodies(case, _args):
    service = case.service
    socks, answers = [], {}
    for _ in range(300):
        sock = socket.create_connection((dc.HOST, service.http_port), timeout=5.0)
        sock.sendall(f"POST /cmd HTTP/1.1\r\nHost: {dc.HOST}\r\nContent-Length: {MIB}\r\n\r\n".encode() + b"{")
        socks.append(sock)
    time.sleep(1.0)
    for sock in socks:
        sock.settimeout(0.05)
        try:
            status = sock.recv(64).split(b"\r\n", 1)[0].decode(errors="replace") or "closed"
        except socket.timeout:
            status = "waiting"
        except OSError as error:
            status = type(error).__name__
        answers[status] = answers.get(status, 0) + 1
        sock.close()
    case.figures["answers"] = answers
    case.check(answers.get("HTTP/1.1 503 Service Unavailable", 0) >= 300 - 32,
               "more than 32 MiB of announced bodies were waited for")
    case.still_serves()


def trickle(case, _args):
    service = case.service
    socks, refused = [], 0
    for i in range(1000):
        try:
            sock = socket.create_connection((dc.HOST, service.http_port), timeout=5.0)
        except OSError:
            refused += 1
            continue
        sock.setblocking(False)
        try:
            sock.send(b"G")
        except OSError:
            pass
        socks.append(sock)
    service.control.ok("unplug")
    time.sleep(0.5)
    service.control.ok("plug")
    # Trickle for 4 s: one byte per connection every second.
    for _ in range(4):
        for sock in socks:
            try:
                sock.send(b"E")
            except OSError:
                pass
        time.sleep(1.0)
    answered = {}
    for sock in socks:
        try:
            data = sock.recv(64)
            status = data.split(b"\r\n", 1)[0].decode(errors="replace") or "closed"
        except BlockingIOError:
            status = "open"
        except OSError as error:
            status = type(error).__name__
        answered[status] = answered.get(status, 0) + 1
    case.figures["connections (state after 4 s)"] = answered
    for sock in socks:
        sock.close()
    log = service.log_tail(20000)
    case.check("errno=24" not in log, "libusb ran out of descriptors")
    case.still_serves()


def command_flood(case, _args):
    service = case.service
    service.control.ok("fault no-answer count=1000")
    seen = service.control.state()["model"]["requestsSeen"]
    results = [None] * 500
    started = time.monotonic()

    def send(i):
        results[i] = service.command("GetTime", i + 1, timeout=120.0, linger=0.0)

    threads = [threading.Thread(target=send, args=(i,), daemon=True) for i in range(500)]
    for thread in threads:
        thread.start()
    time.sleep(3.0)
    late = service.command("GetTime", 9999, timeout=120.0, linger=0.0)
    for thread in threads:
        thread.join()
    codes = {}
    for result in results + [late]:
        answer = result.json()
        if answer:
            code = answer.get("errorcode", answer.get("status"))
        else:
            code = f"HTTP {result.status}" if result.status else (result.error or "no answer")
        codes[code] = codes.get(code, 0) + 1
    sent = service.control.state()["model"]["requestsSeen"] - seen
    service.control.ok("clear-faults")
    case.figures["answers"] = codes
    case.figures["longest answer (s)"] = round(max(r.elapsed for r in results), 1)
    case.figures["request 3 s into the flood answered after (s)"] = round(late.elapsed, 1)
    case.figures["commands sent to the recorder"] = sent
    case.figures["whole flood (s)"] = round(time.monotonic() - started, 1)
    # Past the connection bound from one address a request is refused at
    # once; past the queue's bound it is answered BUSY; the rest time out.
    case.check(sum(codes.values()) == 501 and set(codes) <= {"BUSY", "TIMEOUT", "HTTP 503"},
               f"answers {codes}")
    case.check(late.elapsed < 15.0, "the request sent into the flood waited past the queue's deadline")
    case.still_serves()


def readouts(case, _args):
    service = case.service
    directory = os.path.join(service.scratch, "flash")
    for i in range(25):
        result = service.command("StartReceiveFlashData", 500 + i, timeout=60.0, linger=0.0)
        answer = result.json() or {}
        case.check(answer.get("status") == "ok", f"read-out {i}: {result.body[:200]!r}")
    files = os.listdir(directory) if os.path.isdir(directory) else []
    size = sum(os.path.getsize(os.path.join(directory, f)) for f in files)
    case.figures["files kept / MiB"] = f"{len(files)} / {size / MIB:.1f}"
    case.check(len(files) <= 20, f"{len(files)} read-out files kept")


CASES = [("large-messages", large_messages), ("stalled-clients", stalled_clients),
         ("pending-bodies", pending_bodies), ("trickle", trickle), ("command-flood", command_flood),
         ("readouts", readouts)]


def main():
    root = dc.repo_root()
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(root, "build"), help="build directory with dastel and dastel-sim")
    parser.add_argument("--only", default=None, help="comma-separated cases to run")
    parser.add_argument("--stall-seconds", type=float, default=20.0)
    args = parser.parse_args()
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    wanted = set(args.only.split(",")) if args.only else None

    service = dc.Service(args.build, frequency=2000)
    status = dc.start_service(service)
    if status is not None:
        return status
    failed = 0
    try:
        identified, _ = service.wait_identified()
        if not identified:
            print("the recorder was not identified")
            return 1
        for name, run in CASES:
            if wanted and name not in wanted:
                continue
            case = Case(service)
            time.sleep(2.0)  # connections of the case before are closed by now
            rss_before = service.stats().rss_kib()
            started = time.monotonic()
            with Watch(service) as watch:
                run(case, args)
            rss_after = service.stats().rss_kib()
            if not service.running():
                case.failures.append("the service ended")
            verdict = "ok" if not case.failures else "FAILED"
            print(f"{name:16} {time.monotonic() - started:6.1f} s  RSS {rss_before} -> peak {watch.peak_rss} -> "
                  f"{rss_after} KiB  peak descriptors {watch.peak_fds}  {verdict}")
            for key, value in case.figures.items():
                print(f"    {key}: {json.dumps(value) if isinstance(value, dict) else value}")
            for failure in case.failures:
                print(f"    FAILED: {failure}")
            failed += bool(case.failures)
            if not service.running():
                break
    finally:
        service.stop()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
