#!/usr/bin/env python3
"""Fault campaign against dastel under the simulated recorder (loopback only, bounded).

One service (recorder type 22, cable adapter attached) runs for the whole
campaign with one client on the events stream and one on the signals stream.
Each run is one scenario, picked round-robin from a seeded shuffle:

  stream-unplug  unplug at a random point of streaming, re-plug after a random pause
  ident-unplug   re-plug, then unplug again at a random point of identification
  op-unplug      start a multi-step operation (calibration read/write, cable
                 info write with its settle, examination info write/read with
                 their EEPROM portions, flash read-out, ...) and unplug at a
                 random point of it, sometimes with a second request queued
  fault          a recorder fault (lost, late, short, split or garbled answer,
                 an answer completed into a read the host is cancelling,
                 stalled endpoint) against one command; a late answer is
                 given while a second request already waits

After every run: every HTTP request got exactly one answer carrying its uid,
and every "ok" answer holds what its own request asks for (a clock for
GetTime, the power for ReadPower, the echoed byte for the raw echo, ...);
the recorder is usable again (the next GetTime succeeds, after a re-plug
when there was one); connection events on the events stream are exactly one
per plug and unplug and strictly alternate; the signal stream runs on (a new
stream after a reconnection, no gap in the message sequence otherwise); a
write reported "ok" reads back; a finished read-out file is complete. The
service's RSS is sampled after every run; growth after warm-up must stay
below --rss-bound-kib.

Usage: scripts/hardening/fault_campaign.py [--build build] [--seed N] [--runs 200] [--max-seconds 1800]
Exit status: 0 without failures, 1 with failures, 77 when the simulated
recorder cannot be had here.
"""

import collections
import os
import random
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import dastelclient as dc  # noqa: E402

# Time the recorder's answer may take before the service gives up on it (ms).
ANSWER_TIMEOUT_MS = 1000
# The simulator's default delay of a "late-answer" fault (ms).
LATE_ANSWER_MS = 1500
# Extra answer time of calibration clear/save and cable writes: widens the
# windows an unplug can hit without nearing their own time-outs.
SLOW_ANSWER_MS = 300
# How long the recorder stays away after an unplug that cuts an operation
# before it is plugged back (s): requests made before must be answered in it.
UNPLUGGED_ANSWER_S = 8.0
# Recording area read out by StartReceiveFlashData: 4 MiB.
FLASH_WRITTEN_MAX = 0x3FFFFF


def examination(tag):
    return {"PatientId": f"P-{tag}", "Name": "Пётр", "Surname": "Иванов", "Patronymic": "Сергеевич",
            "BirthdayDate": "1985-07-21", "Sex": "м", "StartTime": "2026-12-08 10:30:00", "LeadType": 1,
            "FileName": f"Иванов_{tag}.ecg",
            "CableInfo": {"Type": 5, "Number": 4660, "SetupCounter": 3}}


def cable_record(tag):
    return {"Version": 1, "CableRegime": 2, "CableType": 5, "CableNumber": 100000 + tag, "SetupCounter": tag % 200,
            "DateOfCreate": "2024-06-30", "BeginUsageDate": "2024-07-01", "LastInstallDate": "2024-07-02"}


class EventTracker:
    """Every message of the events stream, decoded; connection events in order."""

    def __init__(self):
        self.lock = threading.Lock()
        self.messages = 0
        self.types = collections.Counter()
        self.connection = []  # ("C" | "D", monotonic time)
        self.readouts = []    # flashReadout items
        self.malformed = []

    def on_message(self, opcode, payload):
        now = time.monotonic()
        try:
            if opcode != 0x2:
                raise ValueError("text message on the events stream")
            message = dc.unpackb(payload)
            names = dc.event_types(message)
        except (ValueError, KeyError, TypeError) as error:
            with self.lock:
                self.malformed.append(f"{error} ({payload[:60]!r})")
            return
        data = message["data"]
        items = data if isinstance(data, list) else [data]
        with self.lock:
            self.messages += 1
            for name, item in zip(names, items):
                self.types[name] += 1
                if name == "deviceConnect":
                    self.connection.append(("C", now))
                elif name == "deviceDisconnect":
                    self.connection.append(("D", now))
                elif name == "flashReadout":
                    self.readouts.append(item)

    def count(self, kind):
        with self.lock:
            return sum(1 for k, _ in self.connection if k == kind)


class SignalTracker(dc.SignalObserver):
    """Checks the signal stream's message sequence: pointCounter runs on by the
    block size; it may start again at 0 (a new identification), nothing else."""

    def __init__(self):
        super().__init__()
        self.last = None
        self.block = 40
        self.resets = []   # monotonic times of restarts at 0
        self.gaps = []     # (time, last counter, counter)
        self.last_time = None

    def on_signal(self, counter, block, payload):
        now = time.monotonic()
        if self.last is not None and counter != self.last + block:
            if counter == 0:
                self.resets.append(now)
            else:
                self.gaps.append((now, self.last, counter))
        self.last, self.block, self.last_time = counter, block, now

    def snapshot(self):
        with self.lock:
            return self.messages, len(self.resets), len(self.gaps)


class Campaign:
    def __init__(self, service, rng, args):
        self.service = service
        self.sim = service.control
        self.rng = rng
        self.args = args
        self.uid = 1000
        self.failures = []
        self.failure_kinds = collections.Counter()
        self.answers_checked = 0
        self.answers_content_checked = 0
        self.answers_lost = 0
        self.answers_mismatched = 0
        self.events_checked = 0
        self.faults = collections.Counter()
        self.outcomes = collections.Counter()
        self.expected_connects = 0
        self.expected_disconnects = 0
        self.allowed_extra_pairs = 0  # plugs cut short during identification may go unannounced
        self.alternation_checked = 0
        self.events = EventTracker()
        self.signals = SignalTracker()
        self.durations = {}
        self.run_label = "setup"
        self.readouts_expected = 0
        self.readouts_complete = 0
        self.stats = service.stats()
        self.rss = []
        self.flash_size = None
        self.flash_pattern = None
        self.clients = {}

    # ------------------------------------------------------------ helpers

    def fail(self, text, kind=None):
        self.failures.append(f"[{self.run_label}] {text}")
        self.failure_kinds[kind or text.split(":")[0][:60]] += 1
        print(f"    FAILURE: {text}", flush=True)
        if "TIMEOUT" in text and self.args.log_on_timeout:
            # An unexplained time-out: what the service said just before it.
            print("    service output before it:\n" + "".join(
                "      " + line for line in self.service.log_tail(self.args.log_on_timeout).splitlines(True)),
                flush=True)
            try:
                model = self.sim.state().get("model", {})
                print("    recorder counters: " + ", ".join(
                    f"{key} {model.get(key)}" for key in ("requestsSeen", "answersSent", "requestsSwallowed",
                                                          "unknownRequests", "commandBytesDiscarded",
                                                          "commandFramesDropped", "writesWhileStalled")), flush=True)
            except Exception:  # noqa: BLE001 - only a diagnostic
                pass

    def next_uid(self):
        self.uid += 1
        return self.uid

    def command(self, name, data=None, timeout=30.0):
        """Posts one command and checks it got exactly one answer with its uid."""
        uid = self.next_uid()
        result = self.service.command(name, uid, data, timeout=timeout)
        self.answers_checked += 1
        answer = result.json()
        if result.answers != 1:
            self.fail(f"{name} (uid {uid}): {result.answers} answers"
                      f"{'' if result.error is None else ' (' + result.error + ')'}"
                      f"{'' if not result.extra else ', extra bytes ' + repr(result.extra[:120])}",
                      kind="not exactly one answer")
        elif result.status != 200 or not isinstance(answer, dict):
            self.fail(f"{name} (uid {uid}): HTTP {result.status} {result.body[:200]!r}")
            answer = None
        elif answer.get("uid") != uid:
            self.answers_mismatched += 1
            self.fail(f"{name} (uid {uid}): answer carries uid {answer.get('uid')!r}: {result.body[:200]!r}",
                      kind="answer with another uid")
        elif answer.get("status") == "ok" and name in ANSWER_CHECKS:
            self.answers_content_checked += 1
            wrong = ANSWER_CHECKS[name](answer.get("data"), data)
            if wrong:
                self.answers_mismatched += 1
                self.fail(f"{name} (uid {uid}) answered ok with what is not its own answer ({wrong}): "
                          f"{result.body[:200]!r}", kind="answer of another request")
        if result.answers == 0:
            self.answers_lost += 1
        return answer, result

    @staticmethod
    def outcome(answer):
        if not isinstance(answer, dict):
            return "NO_ANSWER"
        if answer.get("status") == "ok":
            return "ok"
        return answer.get("errorcode", "error?")

    def control(self, line):
        return self.sim.ok(line)

    def wait(self, condition, timeout, step=0.05):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if condition():
                return True
            time.sleep(step)
        return condition()

    def recovered(self, timeout=20.0):
        """Polls GetTime until it is "ok"; returns (ok, first outcome, seconds)."""
        start = time.monotonic()
        first = None
        while True:
            answer, _ = self.command("GetTime", timeout=10.0)
            out = self.outcome(answer)
            if first is None:
                first = out
            if out == "ok":
                return True, first, time.monotonic() - start
            if time.monotonic() - start > timeout:
                return False, first, time.monotonic() - start
            time.sleep(0.2)

    def flash_dir(self):
        return os.path.join(self.service.scratch, "flash")

    def flash_files(self):
        try:
            return sorted(os.listdir(self.flash_dir()))
        except OSError:
            return []

    def clear_flash(self):
        for name in self.flash_files():
            try:
                os.remove(os.path.join(self.flash_dir(), name))
            except OSError:
                pass

    def check_complete_readouts(self):
        """Every finished read-out file holds exactly the written memory."""
        for name in self.flash_files():
            if not name.endswith(".bin"):
                continue
            with open(os.path.join(self.flash_dir(), name), "rb") as f:
                data = f.read()
            self.readouts_complete += 1
            if len(data) != self.flash_size:
                self.fail(f"read-out file {name} holds {len(data)} bytes, expected {self.flash_size}")
            elif data != self.flash_pattern:
                first = next(i for i in range(len(data)) if data[i] != self.flash_pattern[i])
                self.fail(f"read-out file {name} differs from the recorder's memory at byte {first}")

    def readout_events(self):
        with self.events.lock:
            return len(self.events.readouts)

    # ------------------------------------------------------------ invariants after every run

    def check_connection_events(self, settle=0.6):
        """Cumulative counts match the plugs and unplugs so far, and the
        connection events alternate."""
        def matched():
            c, d = self.events.count("C"), self.events.count("D")
            return (self.expected_connects <= c <= self.expected_connects + self.allowed_extra_pairs and
                    self.expected_disconnects <= d <= self.expected_disconnects + self.allowed_extra_pairs and
                    c - self.expected_connects == d - self.expected_disconnects)
        self.wait(matched, 10.0)
        time.sleep(settle)  # a duplicate would follow within this
        c, d = self.events.count("C"), self.events.count("D")
        self.events_checked += 1
        if not matched():
            kind = "connection event count"
            if self.allowed_extra_pairs and d - self.expected_disconnects == c - self.expected_connects + 1:
                kind = "deviceDisconnect without deviceConnect after a cut identification"
            self.fail(f"connection events: {c} deviceConnect / {d} deviceDisconnect seen, expected "
                      f"{self.expected_connects} / {self.expected_disconnects}"
                      f"{f' (+ up to {self.allowed_extra_pairs} pairs for cut identifications)' if self.allowed_extra_pairs else ''}",
                      kind=kind)
        # Re-base: one fault is reported once, and cut identifications are settled.
        self.expected_connects, self.expected_disconnects = c, d
        self.allowed_extra_pairs = 0
        with self.events.lock:
            sequence = "".join(k for k, _ in self.events.connection)
        for i in range(max(1, self.alternation_checked), len(sequence)):
            if sequence[i] == sequence[i - 1]:
                self.fail(f"connection events do not alternate: ...{sequence[max(0, i - 6):i + 1]} "
                          f"(event {i + 1} of {len(sequence)})", kind="connection events do not alternate")
        self.alternation_checked = len(sequence)

    def check_streaming(self, reconnected_at=None, messages=10, timeout=8.0):
        """The signal stream runs: `messages` new messages within `timeout`.
        (After a reconnection the stream may start again at 0; the tracker
        counts that apart and any other jump as a gap.)"""
        before, _, _ = self.signals.snapshot()

        def running():
            with self.signals.lock:
                return self.signals.messages - before >= messages
        if not self.wait(running, timeout):
            for name, client in self.clients.items():
                if client is not None and client.closed.is_set():
                    self.fail(f"the {name} WebSocket client is closed: {client.close_reason}", kind="client closed")
            state = self.sim.state().get("model", {})
            converter = state.get("adc")
            self.fail(f"signal stream did not go on: {self.signals.messages - before} messages in {timeout:.0f} s "
                      f"(recorder converter on: {converter}, frames dropped by the simulator: "
                      f"{state.get('framesDropped')})",
                      kind="stream did not go on" + (" (converter left off)" if converter is False else ""))
            if converter is False:
                # Put the recorder back as it was so the next runs stand alone.
                self.control("set adc true")
            return False
        return True

    def check_gaps(self, gaps_before):
        with self.signals.lock:
            new = self.signals.gaps[gaps_before:]
        for t, last, counter in new[:3]:
            self.fail(f"signal message sequence jumps from pointCounter {last} to {counter}", kind="signal gap")

    def sample_rss(self):
        rss = self.stats.rss_kib()
        if rss is not None:
            self.rss.append(rss)
        return rss

    # ------------------------------------------------------------ setup and baselines

    def setup(self):
        self.control("clear-faults")
        self.control("set cablePresent true")
        self.control(f"set slowAnswerMs {SLOW_ANSWER_MS}")
        self.control("set flashMax 0x800000")
        self.control("set flashMin 0")
        self.control(f"set flashWrittenMax {FLASH_WRITTEN_MAX}")
        self.flash_size = FLASH_WRITTEN_MAX + 1
        self.flash_pattern = bytes((a ^ (a >> 8) ^ (a >> 16)) & 0xFF for a in range(self.flash_size))
        ok, first, _ = self.recovered(30.0)
        if not ok:
            raise dc.StartFailed(f"the recorder was never identified ({first}): {self.service.log_tail()}")
        self.expected_connects = self.events.count("C")
        self.expected_disconnects = self.events.count("D")
        if not self.check_streaming():
            raise dc.StartFailed("no signal stream at start")

    def baseline(self):
        """Runs every operation once without faults: it must succeed; its
        duration bounds the unplug points later."""
        self.run_label = "baseline"
        for op in OPERATIONS:
            start = time.monotonic()
            readouts = self.readout_events()
            answer, _ = self.command(op.name, op.data(0))
            out = self.outcome(answer)
            if out != "ok":
                self.fail(f"{op.name} without faults answered {out}: {answer}")
                continue
            if op.name == "StartReceiveFlashData":
                self.readouts_expected += 1
                if not self.wait(lambda: self.readout_events() > readouts, 60.0):
                    self.fail("the read-out without faults never finished")
                self.check_complete_readouts()
                self.clear_flash()
            self.durations[op.name] = time.monotonic() - start
            if op.verify:
                op.verify(self, 0, answer)
        print("  baseline durations: " + ", ".join(f"{k} {v:.2f}s" for k, v in self.durations.items()), flush=True)

    # ------------------------------------------------------------ scenarios

    def replug(self):
        """Plugs the recorder in again; returns when."""
        self.control("plug")
        self.expected_connects += 1
        return time.monotonic()

    def check_reconnected(self):
        """Whether the service is back with the recorder; a failure when not."""
        ok, first, seconds = self.recovered()
        if not ok:
            self.fail(f"not reconnected {seconds:.1f} s after re-plug (GetTime: {first})", kind="not reconnected")
        return ok

    def run_stream_unplug(self):
        time.sleep(self.rng.uniform(0.05, 3.0))
        self.unplug_and_replug(self.rng.uniform(0.0, 1.5))

    def unplug_and_replug(self, pause):
        self.control("unplug")
        self.expected_disconnects += 1
        time.sleep(pause)
        plugged = self.replug()
        if not self.check_reconnected():
            return False
        self.check_streaming(reconnected_at=plugged)
        return True

    def run_ident_unplug(self):
        self.control("unplug")
        self.expected_disconnects += 1
        time.sleep(self.rng.uniform(0.0, 0.5))
        self.control("plug")
        # Identification starts within the service's reopen period (1 s) and
        # takes a few requests: cut it anywhere in there.
        time.sleep(self.rng.uniform(0.0, 2.0))
        self.control("unplug")
        # The cut plug may or may not have been announced before the unplug.
        self.allowed_extra_pairs += 1
        time.sleep(self.rng.uniform(0.0, 1.0))
        plugged = self.replug()
        if not self.check_reconnected():
            return
        self.check_streaming(reconnected_at=plugged)

    def run_op_unplug(self, op):
        tag = self.run_number
        duration = self.durations.get(op.name, 1.0)
        readouts = self.readout_events()
        results = {}

        def worker(key, name, data):
            results[key] = self.command(name, data, timeout=40.0)
            results[key + "_at"] = time.monotonic()

        main = threading.Thread(target=worker, args=("op", op.name, op.data(tag)))
        started = time.monotonic()
        main.start()
        bystander = None
        if self.rng.random() < 0.5:
            time.sleep(0.01)
            bystander = threading.Thread(target=worker, args=("by", "GetPower", None))
            bystander.start()
        point = self.rng.uniform(0.0, duration * 1.1)
        time.sleep(max(0.0, started + point - time.monotonic()))
        self.control("unplug")
        unplugged = time.monotonic()
        self.expected_disconnects += 1
        # Nothing else is sent while the recorder is away: every request
        # already made must be answered on its own.
        main.join(UNPLUGGED_ANSWER_S)
        if bystander:
            bystander.join(max(0.1, unplugged + UNPLUGGED_ANSWER_S - time.monotonic()))
        hanging = [(key, name) for key, name, thread in (("op", op.name, main), ("by", "GetPower", bystander))
                   if thread is not None and thread.is_alive()]
        time.sleep(self.rng.uniform(0.0, 1.0))
        plugged = self.replug()
        main.join(40.0)
        if bystander:
            bystander.join(40.0)
        for key, name in hanging:
            late = results.get(key)
            what = "no answer at all" if late is None else \
                f"answered {self.outcome(late[0])} {results[key + '_at'] - plugged:.2f} s after the re-plug"
            role = (f"sent 0.01 s after {op.name}" if key == "by" else
                    "with GetPower sent 0.01 s after it" if bystander else "alone")
            self.fail(f"{name} ({role}) got no answer in the {UNPLUGGED_ANSWER_S:.0f} s the recorder was unplugged "
                      f"(unplug {point:.2f} s into {op.name}); {what}", kind="request unanswered while unplugged")
        answer = results.get("op", (None, None))[0]
        out = self.outcome(answer)
        self.outcomes[f"op-unplug {op.name}: {out}"] += 1
        if bystander:
            self.outcomes[f"op-unplug bystander GetPower: {self.outcome(results.get('by', (None, None))[0])}"] += 1
            by = self.outcome(results.get("by", (None, None))[0])
            if by not in ("ok", "DEVICE_DISCONNECTED"):
                self.fail(f"queued GetPower during {op.name} cut {point:.2f} s in: {by}")
        if not self.check_reconnected():
            return
        if out not in ("ok", "DEVICE_DISCONNECTED", "NO_ANSWER"):
            # Stored data an earlier cut write left damaged gives the same
            # answer again: that is the recorder's content, not the unplug.
            again, _ = self.command(op.name, op.data(tag))
            if self.outcome(again) == out:
                self.outcomes[f"op-unplug {op.name}: {out} also without an unplug (stored data)"] += 1
            else:
                self.fail(f"{op.name} cut by an unplug {point:.2f} s in answered {out} "
                          f"(repeated after the reconnection: {self.outcome(again)}): {str(answer)[:200]}",
                          kind=f"{op.name} cut by an unplug answered {out}")
        if op.name == "WriteEcgMode" and out != "ok":
            # A mode change cut by the unplug may leave the recorder's signal
            # converter off; the service keeps the recorder as it finds it, and
            # the client, told the change did not complete, makes it again and
            # switches the converter on (AdcOn, a described simple command).
            again, _ = self.command(op.name, op.data(tag))
            if self.outcome(again) != "ok":
                self.fail(f"WriteEcgMode repeated after the reconnection answered {self.outcome(again)}")
            if self.sim.state().get("model", {}).get("adc") is False:
                on, _ = self.command("AdcOn", None)
                if self.outcome(on) != "ok":
                    self.fail(f"AdcOn after the cut WriteEcgMode answered {self.outcome(on)}")
        self.check_streaming(reconnected_at=plugged)
        if op.name == "SetExaminationInfo" and out != "ok":
            # Leave a whole examination block behind for the reads of later runs.
            again, _ = self.command(op.name, op.data(tag))
            if self.outcome(again) != "ok":
                self.fail(f"SetExaminationInfo after the reconnection answered {self.outcome(again)}",
                          kind="SetExaminationInfo after the reconnection failed")
        if out == "ok" and op.verify:
            op.verify(self, tag, answer)
        if op.name == "StartReceiveFlashData":
            self.finish_readout_check(readouts, out)

    def finish_readout_check(self, readouts_before, out):
        """After a read-out cut by an unplug: a finished file is complete, and
        a fresh read-out completes."""
        self.check_complete_readouts()
        finished = self.readout_events() - readouts_before
        files = [n for n in self.flash_files() if n.endswith(".bin")]
        if finished != len(files):
            self.fail(f"{finished} flashReadout events for {len(files)} finished read-out files")
        self.clear_flash()
        readouts = self.readout_events()
        answer, _ = self.command("StartReceiveFlashData")
        if self.outcome(answer) != "ok":
            self.fail(f"read-out after the reconnection answered {self.outcome(answer)}: {str(answer)[:300]}",
                      kind="read-out after the reconnection refused")

            return
        self.readouts_expected += 1
        if not self.wait(lambda: self.readout_events() > readouts, 60.0):
            self.fail("read-out after the reconnection never finished")
        self.check_complete_readouts()
        self.clear_flash()

    def run_fault(self, fault):
        tag = self.run_number
        request = fault.request(self.rng)
        self.faults[fault.kind] += 1
        messages, resets, gaps = self.signals.snapshot()
        self.control(f"fault {request}")
        started = time.monotonic()
        answer = None
        out = None
        readouts = self.readout_events()
        if fault.command:
            op = OPERATIONS_BY_NAME.get(fault.command)
            data = op.data(tag) if op else COMMAND_DATA.get(fault.command)
            if fault.follow:
                answer = self.command_with_follower(fault, data)
            else:
                answer, _ = self.command(fault.command, data)
            out = self.outcome(answer)
            self.outcomes[f"{fault.kind} {fault.endpoint_label} {fault.command}: {out}"] += 1
            if out not in fault.allowed and out == "BAD_DATA":
                # An error the recorder's stored data gives anyway (an examination
                # block an earlier cut write left damaged) is not the fault's doing.
                self.control("clear-faults")
                again, _ = self.command(fault.command, data)
                if self.outcome(again) == out:
                    self.outcomes[f"{fault.kind} {fault.endpoint_label} {fault.command}: {out} also without "
                                  f"the fault (stored data)"] += 1
                    out = None
            if out is not None and out not in fault.allowed:
                self.fail(f"fault {request} on {fault.command}: answered {out}, expected one of "
                          f"{sorted(fault.allowed)}: {str(answer)[:200]}", kind=f"{fault.kind} on {fault.command} answered {out}")
        else:
            time.sleep(fault.watch)
        if fault.command == "StartReceiveFlashData" and out == "ok":
            self.readouts_expected += 1
            if not self.wait(lambda: self.readout_events() > readouts, 60.0):
                self.fail(f"fault {request}: the read-out never finished", kind=f"read-out with {fault.kind} unfinished")
            self.check_complete_readouts()
            self.clear_flash()
        if fault.kind != "stall":
            # Left-over counts (a chain ends at its first failure) must not hit
            # the checks below; a stall stays: the service has to clear it itself.
            self.control("clear-faults")
        # A late answer is due `delay` ms after the request: let it come and go.
        delay = fault.late_ms(request)
        if delay:
            time.sleep(max(0.0, started + delay / 1000.0 + 0.3 - time.monotonic()))
        ok, first, seconds = self.recovered(timeout=10.0)
        if not ok:
            self.fail(f"fault {request}: the recorder stayed unusable ({first}) for {seconds:.1f} s",
                      kind=f"unusable after {fault.kind}")
        elif first != "ok":
            self.fail(f"fault {request}: the first GetTime after it answered {first} (ok after {seconds:.1f} s)",
                      kind=f"first GetTime after {fault.kind} failed")
        self.check_streaming(timeout=8.0)
        _, resets_after, _ = self.signals.snapshot()
        if resets_after != resets:
            self.fail(f"fault {request}: the signal stream restarted at pointCounter 0 without a reconnection",
                      kind="stream restarted without a reconnection")
        self.control("clear-faults")
        # Let pending stalls settle before the next run uses the link.
        if fault.kind == "stall":
            self.recovered(timeout=10.0)

    def command_with_follower(self, fault, data):
        """Sends the faulted command and, once the recorder has its request,
        a second one that waits behind it: the late answer of the first then
        arrives while the second is in flight and must not become its answer."""
        seen = self.sim.state().get("model", {}).get("requestsSeen", 0)
        results = {}
        first = threading.Thread(target=lambda: results.update(first=self.command(fault.command, data)))
        first.start()
        if not self.wait(lambda: self.sim.state().get("model", {}).get("requestsSeen", 0) > seen, 5.0, step=0.01):
            self.fail(f"{fault.command} never reached the recorder")
        follow, _ = self.command(fault.follow, COMMAND_DATA.get(fault.follow))
        first.join(40.0)
        got = self.outcome(follow)
        self.outcomes[f"{fault.kind} {fault.endpoint_label} {fault.command}, then {fault.follow}: {got}"] += 1
        if got != "ok":
            self.fail(f"{fault.follow} sent while the late answer of {fault.command} was due answered {got}: "
                      f"{str(follow)[:200]}", kind=f"{fault.follow} behind a late answer answered {got}")
        return results.get("first", (None, None))[0]

    # ------------------------------------------------------------ the loop

    def scenarios(self):
        templates = [("stream-unplug", None)] * 2 + [("ident-unplug", None)]
        templates += [("op-unplug", op) for op in OPERATIONS]
        templates += [("fault", f) for f in FAULTS]
        if self.args.only:
            templates = [t for t in templates if self.args.only.lower() in self.template_name(*t).lower()]
            if not templates:
                raise dc.StartFailed(f"no scenario matches --only {self.args.only!r}")
        while True:
            batch = list(templates)
            self.rng.shuffle(batch)
            yield from batch

    @staticmethod
    def template_name(kind, item):
        return kind if item is None else f"{kind} {getattr(item, 'name', None) or item.label}"

    def run(self, runs, deadline):
        self.sample_rss()
        warmup_runs = max(5, runs // 10)
        self.rss_warm = None
        source = self.scenarios()
        done = 0
        for self.run_number in range(1, runs + 1):
            if time.monotonic() > deadline:
                print(f"  time bound reached after {done} runs", flush=True)
                break
            kind, item = next(source)
            name = self.template_name(kind, item)
            self.run_label = f"run {self.run_number}: {name}"
            failures_before = len(self.failures)
            _, _, gaps_before = self.signals.snapshot()
            started = time.monotonic()
            try:
                if kind == "stream-unplug":
                    self.faults["unplug (streaming)"] += 1
                    self.run_stream_unplug()
                elif kind == "ident-unplug":
                    self.faults["unplug (identification)"] += 1
                    self.run_ident_unplug()
                elif kind == "op-unplug":
                    self.faults["unplug (operation)"] += 1
                    self.run_op_unplug(item)
                else:
                    self.run_fault(item)
            except Exception as error:  # noqa: BLE001 - one broken run must not end the campaign
                self.fail(f"run aborted: {type(error).__name__}: {error}")
                try:
                    self.control("clear-faults")
                    self.control("plug")
                except Exception:
                    pass
            if not self.service.running():
                self.fail(f"the service ended: {self.service.log_tail()}")
                done += 1
                break
            # Gaps are only meaningful where no unplug cut the stream: the
            # restart at 0 is counted apart, a non-zero jump is a gap anywhere.
            self.check_gaps(gaps_before)
            self.check_connection_events()
            rss = self.sample_rss()
            done += 1
            if done == warmup_runs:
                self.rss_warm = rss
            status = "ok" if len(self.failures) == failures_before else f"{len(self.failures) - failures_before} failure(s)"
            print(f"  run {self.run_number:4d} {name:60s} {time.monotonic() - started:5.1f}s  rss {rss} KiB  {status}",
                  flush=True)
        return done


class Operation:
    def __init__(self, name, data=None, verify=None):
        self.name = name
        self._data = data
        self.verify = verify

    def data(self, tag):
        return self._data(tag) if callable(self._data) else self._data


def verify_calibration(campaign, tag, _answer):
    answer, _ = campaign.command("ReadExternAccCalibrationPoints")
    points = (answer or {}).get("data", {}).get("CalibrationPoints", [])
    got = [(p.get("AdcValue"), p.get("PhysicalValue"), p.get("IsValid")) for p in points]
    want = [("1000", "1", "true") if i % 2 else ("0", "0", "true") for i in range(6)]
    if got != want:
        campaign.fail(f"WriteExternAccDefaultCalibration reported ok, yet the points read {got}")
    # Spoil one point so the next write has something to prove.
    campaign.control("set calExtern.1.1 1,777,5,0")


def read_cable_info(campaign):
    """ReadCableInfo; retried a little while the adapter may still be restarting."""
    for _ in range(6):
        answer, _ = campaign.command("ReadCableInfo")
        if campaign.outcome(answer) == "ok":
            break
        time.sleep(0.5)
    return answer


def verify_cable(campaign, tag, _answer):
    answer = read_cable_info(campaign)
    data = (answer or {}).get("data", {})
    want = cable_record(tag)
    got = {k: data.get(k) for k in ("CableRegime", "CableType", "CableNumber", "SetupCounter", "DateOfCreate")}
    if got != {k: want[k] for k in got}:
        campaign.fail(f"WriteCableInfo (number {want['CableNumber']}) reported ok, yet ReadCableInfo gives "
                      f"{campaign.outcome(answer)} {got}", kind="write reported ok does not read back")


def verify_setup_counter(campaign, tag, _answer):
    answer = read_cable_info(campaign)
    got = (answer or {}).get("data", {}).get("SetupCounter")
    if got != 50 + tag % 150:
        campaign.fail(f"WriteCableSetupCounter ({50 + tag % 150}) reported ok, yet ReadCableInfo gives "
                      f"{campaign.outcome(answer)} {got}", kind="write reported ok does not read back")


def verify_examination(campaign, tag, _answer):
    answer, _ = campaign.command("GetExamFileName")
    got = (answer or {}).get("data", {}).get("FileName")
    if got != examination(tag)["FileName"]:
        campaign.fail(f"SetExaminationInfo ({examination(tag)['FileName']}) reported ok, "
                      f"yet GetExamFileName gives {campaign.outcome(answer)} {got!r}")


def verify_ecg_mode(campaign, tag, _answer):
    answer, _ = campaign.command("ReadEcgMode")
    got = (answer or {}).get("data", {}).get("Mode")
    if got != "4":
        campaign.fail(f"WriteEcgMode 4 reported ok, yet ReadEcgMode gives {campaign.outcome(answer)} {got!r}")


OPERATIONS = [
    Operation("WriteExternAccDefaultCalibration", verify=verify_calibration),
    Operation("ReadExternAccCalibrationPoints"),
    Operation("ReadInnerChannelsCalibration"),
    Operation("WriteCableInfo", cable_record, verify_cable),
    Operation("WriteCableSetupCounter", lambda tag: {"SetupCounter": 50 + tag % 150}, verify_setup_counter),
    Operation("SetExaminationInfo", examination, verify_examination),
    Operation("GetExamFileName"),
    Operation("GetDevInfo"),
    Operation("GetFlashMemoryInfo"),
    Operation("WriteEcgMode", "4", verify_ecg_mode),
    Operation("StartReceiveFlashData"),
]
OPERATIONS_BY_NAME = {op.name: op for op in OPERATIONS}


def _missing(data, keys):
    if not isinstance(data, dict):
        return f"data {data!r} is no object"
    absent = [k for k in keys if k not in data]
    return f"no {', '.join(absent)}" if absent else None


def _raw_bytes(count):
    def check(data, _request):
        if not (isinstance(data, list) and len(data) == count and all(isinstance(b, str) for b in data)):
            return f"{count} raw bytes expected"
        return None
    return check


# What an "ok" answer of each request must hold, so that the answer of
# another request (same frame length or not) is never taken for it.
ANSWER_CHECKS = {
    "GetTime": lambda data, _r: _missing(data, ("Year", "Month", "Day", "Hours", "Minutes", "Seconds")),
    "GetPower": lambda data, _r: _missing(data, ("Power",)),
    "ReadPower": _raw_bytes(2),
    # The raw echo: its byte back, or nothing under the one-byte-short fault.
    "CustomByteCommand": lambda data, request: None if request != COMMAND_DATA["CustomByteCommand"]
    or data in (["0xdd"], []) else "the echo request's byte 0xdd expected",
    "GetExamFileName": lambda data, _r: _missing(data, ("FileName",)),
    "ReadEcgMode": lambda data, _r: _missing(data, ("Mode",)),
    "ReadExternAccCalibrationPoints": lambda data, _r: _missing(data, ("CalibrationPoints",)),
}
COMMAND_DATA = {"CustomByteCommand": ["0x7e", "0x01", "0x00", "0x01", "0xdd", "0xff", "0xff", "0xbd"]}


class Fault:
    """One fault template: kind, endpoint, option ranges, the command it hits
    and the answers that are sound for it."""

    def __init__(self, kind, command, allowed, endpoint=None, options=None, watch=2.0, follow=None):
        self.kind = kind
        self.command = command
        self.follow = follow
        self.allowed = set(allowed)
        self.endpoint = endpoint
        self.options = options or {}
        self.watch = watch
        self.endpoint_label = endpoint or "0x85"
        self.name = None
        self.label = f"{kind} {self.endpoint_label} {command or '(stream)'}{', then ' + follow if follow else ''}"

    def request(self, rng):
        parts = [self.kind]
        if self.endpoint:
            parts.append(f"endpoint={self.endpoint}")
        for key, (low, high) in self.options.items():
            parts.append(f"{key}={rng.randint(low, high)}")
        return " ".join(parts)

    def late_ms(self, request):
        """How long after the request the last late answer is due (0: none)."""
        if self.kind not in ("delay-answer", "late-answer"):
            return 0
        options = dict(part.split("=", 1) for part in request.split()[1:])
        default = LATE_ANSWER_MS if self.kind == "late-answer" else 0
        return int(options.get("delay", default)) * int(options.get("count", 1))


TIMEOUT = {"TIMEOUT"}
WRONG = {"WRONG_FRAME_FORMAT"}
OK = {"ok"}
FAULTS = [
    # Lost answers: the request times out, nothing else.
    Fault("no-answer", "GetTime", TIMEOUT),
    Fault("no-answer", "GetPower", TIMEOUT),
    Fault("no-answer", "ReadPower", TIMEOUT),
    Fault("no-answer", "CustomByteCommand", TIMEOUT),
    Fault("no-answer", "GetDevInfo", TIMEOUT, options={"count": (1, 3)}),
    Fault("no-answer", "ReadExternAccCalibrationPoints", TIMEOUT),
    Fault("no-answer", "SetExaminationInfo", TIMEOUT),
    Fault("no-answer", "GetExamFileName", TIMEOUT),
    # Answers later than the time-out: the request times out, and the late
    # answer must not be taken for the next request's.
    Fault("delay-answer", "GetTime", TIMEOUT, options={"delay": (ANSWER_TIMEOUT_MS + 200, 2500)}),
    Fault("delay-answer", "GetPower", TIMEOUT, options={"delay": (ANSWER_TIMEOUT_MS + 200, 2500)}),
    Fault("delay-answer", "CustomByteCommand", TIMEOUT, options={"delay": (ANSWER_TIMEOUT_MS + 200, 2500)}),
    Fault("delay-answer", "GetExamFileName", TIMEOUT, options={"delay": (ANSWER_TIMEOUT_MS + 200, 2500)}),
    # Answers late but within the time-out arrive.
    Fault("delay-answer", "GetTime", OK, options={"delay": (100, ANSWER_TIMEOUT_MS - 300)}),
    Fault("delay-answer", "ReadInnerChannelsCalibration", OK, options={"delay": (100, ANSWER_TIMEOUT_MS - 300)}),
    # A late answer while the next request already waits: the late one times
    # out, the waiting one gets its own answer (the follower must be "ok"
    # and pass its content check). Delays stay below time-out + the
    # follower's own time-out, as the recorder answers in order.
    Fault("late-answer", "GetTime", TIMEOUT, follow="ReadPower"),
    Fault("late-answer", "GetTime", TIMEOUT, follow="CustomByteCommand"),
    Fault("late-answer", "GetTime", TIMEOUT, follow="GetPower"),
    Fault("late-answer", "GetPower", TIMEOUT, follow="GetTime",
          options={"delay": (ANSWER_TIMEOUT_MS + 200, 2 * ANSWER_TIMEOUT_MS - 300)}),
    Fault("late-answer", "CustomByteCommand", TIMEOUT, follow="GetExamFileName",
          options={"delay": (ANSWER_TIMEOUT_MS + 200, 2 * ANSWER_TIMEOUT_MS - 300)}),
    Fault("late-answer", "ReadPower", TIMEOUT, follow="GetTime"),
    # Answers that reach a read the host is cancelling (its 250 ms time-out)
    # are kept: the request gets its own answer.
    Fault("answer-at-cancel", "GetTime", OK),
    Fault("answer-at-cancel", "GetPower", OK),
    Fault("answer-at-cancel", "ReadPower", OK),
    Fault("answer-at-cancel", "CustomByteCommand", OK),
    Fault("answer-at-cancel", "GetExamFileName", OK, options={"count": (1, 3)}),
    Fault("answer-at-cancel", "ReadExternAccCalibrationPoints", OK, options={"count": (1, 3)}),
    Fault("answer-at-cancel", "StartReceiveFlashData", OK, endpoint="0x86", options={"count": (1, 4)}),
    Fault("answer-at-cancel", None, set(), endpoint="0x83", options={"count": (1, 4)}),
    # One byte short: the length checks refuse it; raw bytes pass through.
    Fault("wrong-length", "GetTime", WRONG),
    Fault("wrong-length", "GetPower", WRONG),
    Fault("wrong-length", "ReadExternAccCalibrationPoints", WRONG),
    Fault("wrong-length", "CustomByteCommand", OK),
    # Answers split into small reads are put together again.
    Fault("split-frame", "GetTime", OK, options={"chunk": (1, 8)}),
    Fault("split-frame", "ReadPower", OK, options={"chunk": (1, 4)}),
    Fault("split-frame", "GetExamFileName", OK, options={"chunk": (1, 8)}),
    # Junk before an answer: the frame is found after it.
    Fault("garbage", "GetTime", OK, options={"garbage": (1, 40)}),
    Fault("garbage", "GetPower", OK, options={"garbage": (1, 40)}),
    Fault("garbage", "ReadExternAccCalibrationPoints", OK, options={"garbage": (1, 40)}),
    # Stalled endpoints: the request fails, the halt is cleared, the next works.
    Fault("stall", "GetTime", TIMEOUT | {"ok"}),
    Fault("stall", "GetPower", TIMEOUT | {"ok"}, endpoint="0x04"),
    # The signal endpoint: the stream goes on without a reconnection.
    Fault("stall", None, set(), endpoint="0x83"),
    Fault("garbage", None, set(), endpoint="0x83", options={"garbage": (1, 60), "count": (1, 20)}),
    Fault("split-frame", None, set(), endpoint="0x83", options={"chunk": (1, 10), "count": (1, 50)}),
]


def main():
    parser = dc.service_arguments(__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=None, help="random seed (default: from the clock, printed)")
    parser.add_argument("--runs", type=int, default=200, help="number of runs (scenarios)")
    parser.add_argument("--max-seconds", type=float, default=1800.0, help="no new run starts after this")
    parser.add_argument("--frequency", type=int, default=500, help="the recorder's frames per second")
    parser.add_argument("--log-on-timeout", type=int, default=30,
                        help="service output lines printed with a failure that involves TIMEOUT (0: none)")
    parser.add_argument("--only", default=None,
                        help="run only the scenarios whose name holds this text (e.g. 'op-unplug GetDevInfo')")
    parser.add_argument("--rss-bound-kib", type=int, default=4096,
                        help="largest RSS growth from the end of warm-up to the end that passes")
    args = parser.parse_args()
    args.runs = max(1, min(args.runs, 100000))
    seed = args.seed if args.seed is not None else int(time.time()) % 1000000
    rng = random.Random(seed)
    began = time.monotonic()
    deadline = began + args.max_seconds

    service = dc.Service(args.build, frequency=args.frequency, device_type=22)
    failed = dc.start_service(service)
    if failed is not None:
        return failed

    events_ws = signals_ws = None
    campaign = Campaign(service, rng, args)
    done = 0
    try:
        events_ws = dc.WebSocketClient(service.event_port, campaign.events.on_message)
        signals_ws = dc.WebSocketClient(service.adc_port, campaign.signals.on_message)
        campaign.clients = {"events": events_ws, "signals": signals_ws}
        print(f"fault campaign: seed {seed}, runs {args.runs}, max {args.max_seconds:.0f} s, "
              f"dastel pid {service.service_pid}, HTTP port {service.http_port}", flush=True)
        campaign.setup()
        campaign.baseline()
        done = campaign.run(args.runs, deadline)
        campaign.run_label = "end"
        campaign.check_connection_events()
        for client, name in ((events_ws, "events"), (signals_ws, "signals")):
            if client.closed.is_set():
                campaign.fail(f"the {name} WebSocket was closed: {client.close_reason}")
        for tracker, name in ((campaign.events, "events"), (campaign.signals, "signals")):
            for problem in tracker.malformed[:3]:
                campaign.fail(f"malformed {name} message: {problem}")
    except dc.StartFailed as reason:
        campaign.fail(f"setup: {reason}")
    finally:
        for client in (events_ws, signals_ws):
            if client is not None:
                client.close()
        sim_state = {}
        try:
            sim_state = service.control.state()
        except Exception:
            pass
        alive = service.running()
        service.stop()

    rss = campaign.rss
    rss_start = rss[0] if rss else None
    rss_end = rss[-1] if rss else None
    warm = campaign.rss_warm if campaign.rss_warm is not None else rss_start
    growth = None if warm is None or rss_end is None else rss_end - warm
    if growth is not None and growth > args.rss_bound_kib:
        campaign.fail(f"RSS grew {growth} KiB after warm-up (bound {args.rss_bound_kib} KiB)", kind="memory growth")
    if not alive:
        campaign.fail("the service was not running at the end", kind="service ended")

    model = sim_state.get("model", {})
    print()
    print("==== fault campaign summary ====")
    print(f"seed {seed}; runs {done} of {args.runs}; {time.monotonic() - began:.0f} s")
    print("faults injected: " + (", ".join(f"{k} {v}" for k, v in sorted(campaign.faults.items())) or "none"))
    print(f"answers checked: {campaign.answers_checked} (each exactly one HTTP answer with its uid); "
          f"ok answers checked against their own request: {campaign.answers_content_checked}; "
          f"lost {campaign.answers_lost}, mismatched {campaign.answers_mismatched}")
    print(f"events checked: {campaign.events.messages} event messages decoded; connection events "
          f"{campaign.events.count('C')} deviceConnect / {campaign.events.count('D')} deviceDisconnect, "
          f"checked after {campaign.events_checked} runs; flashReadout events {len(campaign.events.readouts)}, "
          f"complete read-out files checked {campaign.readouts_complete}")
    print(f"signal messages: {campaign.signals.messages}, restarts at 0 {len(campaign.signals.resets)}, "
          f"gaps {len(campaign.signals.gaps)}; simulator: plugs {sim_state.get('usb', {}).get('plugCount')}, "
          f"requests swallowed {model.get('requestsSwallowed')}, frames dropped {model.get('framesDropped')}, "
          f"frames released into cancelled reads {model.get('framesReleasedAtCancel')}")
    print("outcomes:")
    for key, count in sorted(campaign.outcomes.items()):
        print(f"  {key}: {count}")
    print(f"RSS of dastel: start {rss_start} KiB, after warm-up {warm} KiB, max {max(rss) if rss else None} KiB, "
          f"end {rss_end} KiB, growth after warm-up {growth} KiB (bound {args.rss_bound_kib} KiB)")
    print(f"failures: {len(campaign.failures)}")
    if campaign.failures:
        print("failures by kind: " + "; ".join(f"{k}: {v}" for k, v in campaign.failure_kinds.most_common()))
    for failure in campaign.failures:
        print(f"  - {failure}")
    return 0 if not campaign.failures else 1


if __name__ == "__main__":
    sys.exit(main())
