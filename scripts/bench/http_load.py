#!/usr/bin/env python3
"""Bounded HTTP load test of dastel under the simulated recorder (loopback only).

Runs the real service from a scratch copy (executable, shipped configuration,
web directory, its own free ports) under dastel-sim, then:

  1. static  - every client GETs the web directory's files from dastel;
  2. mixed   - every client alternates device commands (POST /cmd: GetTime,
               a described simple command, a raw byte command, the command
               list) with static GETs;
  3. baseline - the same static load against `python3 -m http.server`
               serving the same web directory.

Every answer is checked (status line, JSON envelope with the request's uid
and "status" "ok", or the exact file bytes); an answer missing or wrong is
counted as lost. The service's resident set size is read from /proc at the
start and at the end. Each phase is bounded in requests and in time.

Usage: scripts/bench/http_load.py [--build build] [--clients 20] [--requests 500]
Exit status: 0 when no answer was lost, 1 otherwise, 77 when the simulated
recorder cannot be had here.
"""

import json
import os
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "hardening"))
import dastelclient as dc  # noqa: E402


def request(port, method, path, body=None, timeout=10.0):
    """(HTTP status, body) of one request on its own connection; raises on none."""
    result = dc.http_exchange(port, method, path, body, timeout=timeout, linger=0.0)
    if result.answers == 0:
        raise ConnectionError(result.error or "no answer")
    return result.status, result.body


COMMANDS = [
    ("GetTime", None, lambda data: isinstance(data, dict) and "Year" in data),
    ("readpower", None, lambda data: isinstance(data, list) and len(data) == 2),
    ("CustomByteCommand", ["0x7e", "0x01", "0x00", "0x01", "0xdd", "0xff", "0xff", "0xbd"],
     lambda data: data == ["0xdd"]),
    ("GetCmdList", None, lambda data: isinstance(data, list) and len(data) > 0),
]


def check_command(port, uid, index):
    name, data, valid = COMMANDS[index % len(COMMANDS)]
    payload = {"cmd": name, "uid": uid}
    if data is not None:
        payload["data"] = data
    status, body = request(port, "POST", "/cmd", json.dumps(payload).encode())
    if status != 200:
        return f"{name}: HTTP {status}"
    answer = json.loads(body)
    if answer.get("uid") != uid or answer.get("status") != "ok" or not valid(answer.get("data")):
        return f"{name}: {body[:200]!r}"
    return None


def check_static(port, files, index):
    name, content = files[index % len(files)]
    status, body = request(port, "GET", "/" + name)
    if status != 200 or body != content:
        return f"GET /{name}: HTTP {status}, {len(body)} bytes"
    return None


def run_phase(label, clients, per_client, deadline_s, work):
    """Runs `work(client, i)` per_client times on each of `clients` threads."""
    lock = threading.Lock()
    results = {"ok": 0, "lost": 0, "samples": []}
    stop_at = time.monotonic() + deadline_s

    def client(number):
        for i in range(per_client):
            if time.monotonic() > stop_at:
                return
            try:
                problem = work(number, i)
            except Exception as error:  # a dropped or cut connection is a lost answer
                problem = f"{type(error).__name__}: {error}"
            with lock:
                if problem is None:
                    results["ok"] += 1
                else:
                    results["lost"] += 1
                    if len(results["samples"]) < 5:
                        results["samples"].append(problem)

    threads = [threading.Thread(target=client, args=(n,)) for n in range(clients)]
    started = time.monotonic()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    elapsed = time.monotonic() - started
    done = results["ok"] + results["lost"]
    results["elapsed"] = elapsed
    results["rps"] = done / elapsed if elapsed > 0 else 0.0
    results["unsent"] = clients * per_client - done
    print(f"{label:9s} {done:6d} requests in {elapsed:6.2f} s = {results['rps']:8.1f} req/s, "
          f"lost {results['lost']}, not sent (time bound) {results['unsent']}")
    for sample in results["samples"]:
        print(f"          lost: {sample}")
    return results


def wait_for(predicate, timeout_s):
    end = time.monotonic() + timeout_s
    while time.monotonic() < end:
        try:
            if predicate():
                return True
        except Exception:
            pass
        time.sleep(0.2)
    return False


def main():
    parser = dc.service_arguments(__doc__.splitlines()[0], web=True)
    parser.add_argument("--clients", type=int, default=20)
    parser.add_argument("--requests", type=int, default=500, help="requests per client and phase")
    parser.add_argument("--phase-seconds", type=float, default=120.0, help="time bound of each phase")
    args = parser.parse_args()
    args.clients = max(1, min(args.clients, 200))
    args.requests = max(1, min(args.requests, 5000))

    files = dc.web_files(args.web)
    if not files:
        print("no files in", args.web)
        return 1

    service = dc.Service(args.build, web=args.web, prefix="dastel-load-")
    status = dc.start_service(service)
    if status is not None:
        return status
    baseline = None
    lost = 0
    try:
        port = service.http_port
        identified, _ = service.wait_identified(30)
        if not identified:
            print("the service never answered GetTime:", service.log_tail())
            return 1

        stats = service.stats()
        rss_start = stats.rss_kib()
        print(f"dastel pid {service.service_pid}, HTTP port {port}, {args.clients} clients x {args.requests} "
              f"requests per phase, files: {[name for name, _ in files]}")
        static = run_phase("static", args.clients, args.requests, args.phase_seconds,
                           lambda c, i: check_static(port, files, i))
        mixed = run_phase("mixed", args.clients, args.requests, args.phase_seconds,
                          lambda c, i: check_command(port, (c * args.requests + i) % 4000000000 + 1, i // 2)
                          if i % 2 == 0 else check_static(port, files, i))
        rss_end = stats.rss_kib()
        lost = static["lost"] + mixed["lost"]

        base_port = dc.free_port()
        baseline = subprocess.Popen([sys.executable, "-m", "http.server", str(base_port), "--bind", dc.HOST,
                                     "--directory", args.web],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_for(lambda: request(base_port, "GET", "/" + files[0][0], timeout=2)[0] == 200, 10):
            print("python3 -m http.server did not come up")
            return 1
        plain = run_phase("baseline", args.clients, args.requests, args.phase_seconds,
                          lambda c, i: check_static(base_port, files, i))

        print(f"RSS of dastel: start {rss_start} KiB, end {rss_end} KiB, "
              f"growth {None if rss_start is None or rss_end is None else rss_end - rss_start} KiB")
        if plain["rps"] > 0:
            print(f"ratio static dastel / python http.server: {static['rps'] / plain['rps']:.2f}")
            print(f"ratio mixed  dastel / python http.server: {mixed['rps'] / plain['rps']:.2f}")
        print("service still running:", service.running())
        if not service.running():
            lost += 1
        return 0 if lost == 0 else 1
    finally:
        if baseline is not None:
            baseline.terminate()
            baseline.wait(10)
        service.stop()


if __name__ == "__main__":
    sys.exit(main())
