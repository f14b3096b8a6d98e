#!/usr/bin/env python3
"""Bounded soak of dastel under the simulated recorder (loopback only).

For --minutes, with the recorder streaming at --frequency frames per second:
  - --clients WebSocket clients on the signals stream and as many on the
    events stream; every signal message is decoded and its ECG pointCounter
    must run on by the block size (40): a jump is a lost message;
  - a command loop: GetTime, a described simple command (ReadPower), a raw
    byte command (CustomByteCommand echo) and GetCmdList, each answer checked
    (exactly one HTTP answer, the request's uid, "ok", plausible data);
  - a loop of static GETs of the web directory's files, checked byte for byte.
The service's RSS (start, max, end) and CPU use (utime + stime over wall
time) come from /proc. Frames the simulator itself dropped (its virtual USB
link could not hand them over in time) are reported apart from the service's
losses.

Usage: scripts/hardening/soak.py [--build build] [--minutes 10] [--clients 4] [--frequency 2000]
Exit status: 0 when the service lost no message and answered every request,
1 otherwise, 77 when the simulated recorder cannot be had here.
"""

import collections
import os
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import dastelclient as dc  # noqa: E402


class SignalClient(dc.SignalObserver):
    """One signals-stream client: counts messages and gaps in pointCounter."""

    def __init__(self, number):
        super().__init__()
        self.number = number
        self.bytes = 0
        self.first = None
        self.last = None
        self.lost_messages = 0
        self.gaps = []
        self.restarts = 0
        self.reordered = 0
        self.ws = None

    def on_signal(self, counter, block, payload):
        self.bytes += len(payload)
        if self.first is None:
            self.first = counter
        elif counter != self.last + block:
            if counter == 0:
                # A new identification starts again at 0; not a loss by itself.
                self.restarts += 1
            elif counter > self.last:
                self.lost_messages += (counter - self.last) // block - 1
                self.gaps.append((self.last, counter))
            else:
                self.reordered += 1
                self.gaps.append((self.last, counter))
        self.last = counter


class EventClient:
    def __init__(self, number):
        self.number = number
        self.lock = threading.Lock()
        self.types = collections.Counter()
        self.malformed = []
        self.ws = None

    def on_message(self, opcode, payload):
        try:
            names = dc.event_types(dc.unpackb(payload))
        except (ValueError, KeyError, TypeError) as error:
            with self.lock:
                self.malformed.append(str(error))
            return
        with self.lock:
            for name in names:
                self.types[name] += 1


ECHO = ["0x7e", "0x01", "0x00", "0x01", "0xdd", "0xff", "0xff", "0xbd"]
COMMANDS = [
    ("GetTime", None, lambda data: isinstance(data, dict) and {"Year", "Month", "Day"} <= set(data)),
    ("ReadPower", None, lambda data: isinstance(data, list) and len(data) == 2),
    ("CustomByteCommand", ECHO, lambda data: data == ["0xdd"]),
    ("GetCmdList", None, lambda data: isinstance(data, list) and len(data) > 10),
]


class Loop:
    """A paced request loop; counts and keeps a few problem samples."""

    def __init__(self, name):
        self.name = name
        self.sent = 0
        self.answered = 0
        self.failed = 0
        self.unanswered = 0
        self.samples = []
        self.per_kind = collections.Counter()
        self.t0 = time.monotonic()

    def problem(self, text, failed=True):
        if failed:
            self.failed += 1
        if len(self.samples) < 8:
            self.samples.append(f"at {time.monotonic() - self.t0:.0f} s: {text}")


def command_loop(service, loop, stop_at, interval):
    uid = 0
    while time.monotonic() < stop_at:
        name, data, valid = COMMANDS[uid % len(COMMANDS)]
        uid += 1
        loop.sent += 1
        loop.per_kind[name] += 1
        result = service.command(name, uid, data, timeout=15.0)
        answer = result.json()
        if result.answers == 0:
            loop.unanswered += 1
            loop.problem(f"{name} uid {uid}: no answer ({result.error})", failed=False)
        elif result.answers > 1:
            loop.answered += 1
            loop.problem(f"{name} uid {uid}: {result.answers} answers")
        else:
            loop.answered += 1
            if result.status != 200 or not isinstance(answer, dict):
                loop.problem(f"{name} uid {uid}: HTTP {result.status} {result.body[:120]!r}")
            elif answer.get("uid") != uid or answer.get("status") != "ok" or not valid(answer.get("data")):
                loop.problem(f"{name} uid {uid}: {result.body[:160]!r}")
        time.sleep(interval)


def static_loop(service, loop, files, stop_at, interval):
    i = 0
    while time.monotonic() < stop_at:
        name, content = files[i % len(files)]
        i += 1
        loop.sent += 1
        result = service.get("/" + name)
        if result.answers == 0:
            loop.unanswered += 1
            loop.problem(f"GET /{name}: no answer ({result.error})", failed=False)
        else:
            loop.answered += 1
            if result.status != 200 or result.body != content:
                loop.problem(f"GET /{name}: HTTP {result.status}, {len(result.body)} bytes of {len(content)}")
        time.sleep(interval)


def main():
    parser = dc.service_arguments(__doc__.splitlines()[0], web=True)
    parser.add_argument("--minutes", type=float, default=10.0)
    parser.add_argument("--clients", type=int, default=4, help="clients on each stream")
    parser.add_argument("--frequency", type=int, default=2000, choices=(250, 500, 1000, 2000),
                        help="the recorder's frames per second")
    parser.add_argument("--interval", type=float, default=0.05,
                        help="pause after each command and each static request (s)")
    args = parser.parse_args()
    args.clients = max(1, min(args.clients, 32))
    args.minutes = max(0.1, min(args.minutes, 240.0))

    files = dc.web_files(args.web)

    service = dc.Service(args.build, web=args.web, frequency=args.frequency)
    failed = dc.start_service(service)
    if failed is not None:
        return failed

    problems = []
    signals = [SignalClient(n + 1) for n in range(args.clients)]
    events = [EventClient(n + 1) for n in range(args.clients)]
    commands, statics = Loop("commands"), Loop("static")
    try:
        identified, result = service.wait_identified(30.0)
        if not identified:
            print(f"the recorder was never identified: {result and result.body!r} {service.log_tail()}")
            return 1
        for client in signals:
            client.ws = dc.WebSocketClient(service.adc_port, client.on_message)
        for client in events:
            client.ws = dc.WebSocketClient(service.event_port, client.on_message)
        stats = service.stats()
        # Let every client see its first message before counting.
        dc_wait_end = time.monotonic() + 10
        while time.monotonic() < dc_wait_end and not all(c.messages for c in signals):
            time.sleep(0.05)
        sim_start = service.control.state()
        start_messages = [c.messages for c in signals]
        started = time.monotonic()
        cpu_start = stats.cpu_seconds()
        rss_start = stats.rss_kib()
        rss_max = rss_start
        stop_at = started + args.minutes * 60.0
        print(f"soak: {args.minutes:g} min, {args.clients} clients on each stream, {args.frequency} frames/s, "
              f"dastel pid {service.service_pid}, RSS at start {rss_start} KiB", flush=True)

        commands.t0 = statics.t0 = started
        threads = [threading.Thread(target=command_loop, args=(service, commands, stop_at, args.interval)),
                   threading.Thread(target=static_loop, args=(service, statics, files, stop_at, args.interval))]
        for thread in threads:
            thread.start()
        last_report = started
        cpu_last, wall_last = cpu_start, started
        while time.monotonic() < stop_at and service.running():
            time.sleep(min(5.0, max(0.0, stop_at - time.monotonic())))
            rss = stats.rss_kib()
            if rss is not None:
                rss_max = max(rss_max or rss, rss)
            now = time.monotonic()
            if now - last_report >= 60.0:
                cpu = stats.cpu_seconds()
                model = service.control.state().get("model", {})
                print(f"  {now - started:5.0f} s: messages/client {min(c.messages for c in signals)}, "
                      f"lost {sum(c.lost_messages for c in signals)}, RSS {rss} KiB, "
                      f"CPU {100.0 * (cpu - cpu_last) / (now - wall_last):.1f}% (last minute), "
                      f"commands {commands.answered}/{commands.sent}, static {statics.answered}/{statics.sent}, "
                      f"simulator dropped {model.get('framesDropped')}", flush=True)
                last_report, cpu_last, wall_last = now, cpu, now
        for thread in threads:
            thread.join(30.0)
        wall = time.monotonic() - started
        end_messages = [c.messages for c in signals]
        cpu_end = stats.cpu_seconds()
        rss_end = stats.rss_kib()
        if rss_end is not None:
            rss_max = max(rss_max or rss_end, rss_end)
        time.sleep(0.5)  # messages in flight
        sim_end = service.control.state()
        alive = service.running()
        # Closed by the service during the soak (checked before we close them).
        dropped_clients = [f"{kind} {c.number}: {c.ws.close_reason}" for kind, group in
                           (("signal client", signals), ("event client", events))
                           for c in group if c.ws.closed.is_set()]
    finally:
        for client in signals + events:
            if client.ws is not None:
                client.ws.close()
        service.stop()

    model_start, model_end = sim_start.get("model", {}), sim_end.get("model", {})
    dropped = (model_end.get("framesDropped", 0) or 0) - (model_start.get("framesDropped", 0) or 0)
    streamed = (model_end.get("framesStreamed", 0) or 0) - (model_start.get("framesStreamed", 0) or 0)
    expected = args.frequency * wall / 40.0

    print()
    print("==== soak summary ====")
    print(f"duration {wall:.0f} s at {args.frequency} frames/s; {args.clients} signal clients, "
          f"{args.clients} event clients")
    cpu_pct = None if cpu_start is None or cpu_end is None else 100.0 * (cpu_end - cpu_start) / wall
    print(f"dastel CPU: {cpu_end - cpu_start:.1f} s over {wall:.0f} s = {cpu_pct:.1f}% of one core")
    print(f"dastel RSS: start {rss_start} KiB, max {rss_max} KiB, end {rss_end} KiB, "
          f"growth {None if rss_start is None or rss_end is None else rss_end - rss_start} KiB")
    print(f"messages expected per client at {args.frequency} frames/s: about {expected:.0f}")
    for c, start, end in zip(signals, start_messages, end_messages):
        got = end - start
        print(f"  signal client {c.number}: {got} messages ({100.0 * got / expected:.1f}% of expected), "
              f"{c.bytes / 1e6:.1f} MB, lost by the service {c.lost_messages} (gaps {len(c.gaps)}), "
              f"restarts at 0 {c.restarts}, malformed {len(c.malformed)}")
        for gap in c.gaps[:3]:
            print(f"      gap: pointCounter {gap[0]} -> {gap[1]}")
    for c in events:
        print(f"  event client {c.number}: {dict(c.types) or 'no events'}, malformed {len(c.malformed)}")
    print(f"simulator (virtual USB link, not the service): frames made {streamed}, dropped {dropped} "
          f"({100.0 * dropped / max(1, streamed + dropped):.2f}%)")
    for loop in (commands, statics):
        print(f"{loop.name}: sent {loop.sent}, answered {loop.answered}, unanswered {loop.unanswered}, "
              f"failed {loop.failed}" + (f" ({dict(loop.per_kind)})" if loop.per_kind else ""))
        for sample in loop.samples:
            print(f"    {sample}")

    lost = sum(c.lost_messages + c.reordered for c in signals)
    if lost:
        problems.append(f"{lost} messages lost or out of order on the signals stream")
    if any(c.malformed for c in signals + events):
        problems.append("malformed messages")
    for text in dropped_clients:
        print(f"  disconnected by the service: {text}")
    if dropped_clients:
        problems.append(f"{len(dropped_clients)} WebSocket clients were disconnected")
    if any(c.types.get("deviceDisconnect") for c in events):
        problems.append("the recorder was reported disconnected during the soak")
    for loop in (commands, statics):
        if loop.unanswered or loop.failed or loop.answered != loop.sent:
            problems.append(f"{loop.name}: {loop.unanswered} unanswered, {loop.failed} failed")
    if not alive:
        problems.append("the service was not running at the end")
    print(f"result: {'PASS' if not problems else 'FAIL: ' + '; '.join(problems)}")
    return 0 if not problems else 1


if __name__ == "__main__":
    sys.exit(main())
