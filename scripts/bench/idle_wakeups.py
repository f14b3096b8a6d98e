#!/usr/bin/env python3
"""Wake-ups of the idle service, and how soon it finds a recorder plugged in.

The service runs from a scratch copy under dastel-sim with the recorder
unplugged and no client. After a settling pause, the voluntary and
involuntary context switches of every thread of the service
(/proc/<pid>/task/*/status) are read twice, --seconds apart: their growth per
second is the wake-up rate, printed per thread and in total.

In the same run a reference process that sleeps 100 ms at a time is
measured the same way: it must read about 10 a second, which shows the
count is of wake-ups. --before-binary measures an earlier build of `dastel`
in the same run too.

Then the recorder is plugged (simulator control) and the time until the
service answers "GetTime" (opened and identified) is printed, --plugs times.

  python3 scripts/bench/idle_wakeups.py [--build build] [--seconds 20]
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "hardening"))
import dastelclient as dc  # noqa: E402


def thread_switches(pid):
    """{thread id: (name, voluntary + involuntary switches)} of one process."""
    threads = {}
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return threads
    for tid in tids:
        name, count = "?", 0
        try:
            with open(f"/proc/{pid}/task/{tid}/status") as status:
                for line in status:
                    if line.startswith("Name:"):
                        name = line.split(None, 1)[1].strip()
                    elif line.startswith(("voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:")):
                        count += int(line.split()[1])
        except OSError:
            continue  # the thread ended
        threads[int(tid)] = (name, count)
    return threads


def wakeups(pid, seconds):
    """Per-thread and total wake-ups a second over `seconds`."""
    before = thread_switches(pid)
    time.sleep(seconds)
    after = thread_switches(pid)
    rows = []
    for tid, (name, count) in sorted(after.items()):
        start = before.get(tid, (name, 0))[1]
        rows.append((tid, name, (count - start) / seconds))
    return rows, sum(rate for _, _, rate in rows)


def print_rows(label, rows, total):
    print(f"{label}: {total:.2f} wake-ups/s")
    for tid, name, rate in rows:
        print(f"    thread {tid:>7} {name:<16} {rate:8.2f}/s")


def reference_rate(seconds):
    sleeper = subprocess.Popen([sys.executable, "-c", "import time\nwhile True: time.sleep(0.1)"])
    try:
        time.sleep(0.5)
        return wakeups(sleeper.pid, seconds)
    finally:
        sleeper.kill()
        sleeper.wait()


class ServiceOf(dc.Service):
    """The scratch service with another executable in place of the build's."""

    def __init__(self, build, binary, **kwargs):
        super().__init__(build, **kwargs)
        self.binary = binary

    def _prepare(self):
        super()._prepare()
        if self.binary:
            shutil.copy2(self.binary, os.path.join(self.scratch, "dastel"))


def measure(build, binary, seconds, settle, plugs):
    service = ServiceOf(build, binary, unplugged=True, prefix="dastel-idle-")
    status = dc.start_service(service)
    if status is not None:
        return status, None, None, []
    try:
        time.sleep(settle)
        rows, total = wakeups(service.service_pid, seconds)
        found = []
        for attempt in range(plugs):
            service.control.ok("plug")
            start = time.monotonic()
            identified = False
            while time.monotonic() - start < 10:
                answer = service.command("GetTime", attempt + 1, timeout=5.0, linger=0.0).json()
                if answer and answer.get("status") == "ok":
                    identified = True
                    break
                time.sleep(0.01)
            found.append(time.monotonic() - start if identified else None)
            service.control.ok("unplug")
            time.sleep(2.5)  # the link is dropped and the service waits for the next arrival
        return None, rows, total, found
    finally:
        service.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build", help="build directory with dastel and dastel-sim")
    parser.add_argument("--seconds", type=float, default=20.0, help="measuring window")
    parser.add_argument("--settle", type=float, default=3.0, help="pause after start-up before measuring")
    parser.add_argument("--plugs", type=int, default=3, help="plug-ins timed after the idle window")
    parser.add_argument("--before-binary", help="an earlier dastel to measure in the same run")
    args = parser.parse_args()
    build = os.path.abspath(args.build)

    rows, total = reference_rate(args.seconds)
    print_rows("reference (sleeps 100 ms at a time)", rows, total)

    runs = [("service", None)]
    if args.before_binary:
        runs.append(("before", os.path.abspath(args.before_binary)))
    for label, binary in runs:
        status, rows, total, found = measure(build, binary, args.seconds, args.settle, args.plugs)
        if status is not None:
            return status
        print_rows(f"{label}, idle, no recorder, no client, {args.seconds:g} s", rows, total)
        for i, seconds in enumerate(found, 1):
            text = f"{seconds:.3f} s" if seconds is not None else "not within 10 s"
            print(f"{label}: plugged recorder {i} answered GetTime after {text}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
