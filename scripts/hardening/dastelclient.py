"""Shared pieces of the hardening runs (standard library only).

- Service: the real dastel from a scratch copy (executable, shipped
  configuration, web directory, free loopback ports) under dastel-sim.
- http_exchange / Service.command: one HTTP request on its own connection,
  read until the service closes it, so a second answer on the same
  connection is seen instead of hidden.
- WebSocketClient: a minimal RFC 6455 client (binary and text messages,
  fragmentation, ping/pong, close) that reads on its own thread.
- unpackb: a minimal MessagePack decoder (every standard form; malformed
  input or trailing bytes raise ValueError).
- SimControl: the simulator's line-based control port.
- ProcessStats: RSS and CPU time of a process from /proc.
"""

import argparse
import base64
import hashlib
import json
import os
import shutil
import socket
import struct
import subprocess
import tempfile
import threading
import time

HOST = "127.0.0.1"
SKIP_STATUS = 77


class SimulatorUnavailable(Exception):
    """The virtual USB environment cannot be had on this machine."""


class StartFailed(Exception):
    """The service did not come up."""


def free_port():
    with socket.socket() as probe:
        probe.bind((HOST, 0))
        return probe.getsockname()[1]


def repo_root():
    return os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def service_arguments(description, web=False):
    """The command-line parser of a tool that runs the built service: --build,
    and --web where it serves the UI, both in this checkout by default."""
    root = repo_root()
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--build", default=os.path.join(root, "build"),
                        help="directory holding dastel, dastel-sim and the shipped configuration")
    if web:
        parser.add_argument("--web", default=os.path.join(root, "web"), help="web directory to serve")
    return parser


# ---------------------------------------------------------------- /proc

class ProcessStats:
    """Resident set size and CPU time (user + system) of one process."""

    def __init__(self, pid):
        self.pid = pid
        self.ticks_per_second = os.sysconf("SC_CLK_TCK")

    def rss_kib(self):
        try:
            with open(f"/proc/{self.pid}/status") as status:
                for line in status:
                    if line.startswith("VmRSS:"):
                        return int(line.split()[1])
        except OSError:
            pass
        return None

    def cpu_seconds(self):
        try:
            with open(f"/proc/{self.pid}/stat") as stat:
                text = stat.read()
        except OSError:
            return None
        # The command name may hold spaces and parentheses: split after the last ')'.
        fields = text[text.rindex(")") + 2:].split()
        utime, stime = int(fields[11]), int(fields[12])
        return (utime + stime) / self.ticks_per_second

    def alive(self):
        return os.path.exists(f"/proc/{self.pid}")


def child_pids(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as children:
            return [int(p) for p in children.read().split()]
    except OSError:
        return []


def process_name(pid):
    try:
        with open(f"/proc/{pid}/comm") as comm:
            return comm.read().strip()
    except OSError:
        return None


# ---------------------------------------------------------------- MessagePack

def unpackb(data):
    """Decodes one MessagePack document; ValueError when malformed or followed by more bytes."""
    value, pos = _unpack(memoryview(bytes(data)), 0, 0)
    if pos != len(data):
        raise ValueError(f"{len(data) - pos} bytes after the document")
    return value


def _need(buf, pos, n):
    if pos + n > len(buf):
        raise ValueError("truncated MessagePack document")


def _unpack(buf, pos, depth):
    if depth > 64:
        raise ValueError("MessagePack nesting too deep")
    _need(buf, pos, 1)
    tag = buf[pos]
    pos += 1
    if tag <= 0x7F:
        return tag, pos
    if tag >= 0xE0:
        return tag - 0x100, pos
    if 0x80 <= tag <= 0x8F:
        return _unpack_map(buf, pos, tag & 0x0F, depth)
    if 0x90 <= tag <= 0x9F:
        return _unpack_array(buf, pos, tag & 0x0F, depth)
    if 0xA0 <= tag <= 0xBF:
        return _unpack_str(buf, pos, tag & 0x1F)
    if tag == 0xC0:
        return None, pos
    if tag == 0xC2:
        return False, pos
    if tag == 0xC3:
        return True, pos
    fixed = _FIXED.get(tag)
    if fixed is not None:
        fmt, size = fixed
        _need(buf, pos, size)
        return struct.unpack_from(fmt, buf, pos)[0], pos + size
    length = _LENGTHS.get(tag)
    if length is not None:
        fmt, size, kind = length
        _need(buf, pos, size)
        n = struct.unpack_from(fmt, buf, pos)[0]
        pos += size
        if kind == "str":
            return _unpack_str(buf, pos, n)
        if kind == "bin":
            _need(buf, pos, n)
            return bytes(buf[pos:pos + n]), pos + n
        if kind == "array":
            return _unpack_array(buf, pos, n, depth)
        if kind == "map":
            return _unpack_map(buf, pos, n, depth)
        if kind == "ext":
            _need(buf, pos, n + 1)
            return ("ext", struct.unpack_from(">b", buf, pos)[0], bytes(buf[pos + 1:pos + 1 + n])), pos + 1 + n
    ext_size = _FIXEXT.get(tag)
    if ext_size is not None:
        _need(buf, pos, ext_size + 1)
        return ("ext", struct.unpack_from(">b", buf, pos)[0], bytes(buf[pos + 1:pos + 1 + ext_size])), \
            pos + 1 + ext_size
    raise ValueError(f"unknown MessagePack tag 0x{tag:02x}")


_FIXED = {
    0xCA: (">f", 4), 0xCB: (">d", 8),
    0xCC: (">B", 1), 0xCD: (">H", 2), 0xCE: (">I", 4), 0xCF: (">Q", 8),
    0xD0: (">b", 1), 0xD1: (">h", 2), 0xD2: (">i", 4), 0xD3: (">q", 8),
}
_LENGTHS = {
    0xC4: (">B", 1, "bin"), 0xC5: (">H", 2, "bin"), 0xC6: (">I", 4, "bin"),
    0xC7: (">B", 1, "ext"), 0xC8: (">H", 2, "ext"), 0xC9: (">I", 4, "ext"),
    0xD9: (">B", 1, "str"), 0xDA: (">H", 2, "str"), 0xDB: (">I", 4, "str"),
    0xDC: (">H", 2, "array"), 0xDD: (">I", 4, "array"),
    0xDE: (">H", 2, "map"), 0xDF: (">I", 4, "map"),
}
_FIXEXT = {0xD4: 1, 0xD5: 2, 0xD6: 4, 0xD7: 8, 0xD8: 16}


def _unpack_str(buf, pos, n):
    _need(buf, pos, n)
    return bytes(buf[pos:pos + n]).decode("utf-8"), pos + n


def _unpack_array(buf, pos, n, depth):
    items = []
    for _ in range(n):
        item, pos = _unpack(buf, pos, depth + 1)
        items.append(item)
    return items, pos


def _unpack_map(buf, pos, n, depth):
    result = {}
    for _ in range(n):
        key, pos = _unpack(buf, pos, depth + 1)
        value, pos = _unpack(buf, pos, depth + 1)
        if isinstance(key, list):
            key = tuple(key)
        if key in result:
            raise ValueError(f"duplicate map key {key!r}")
        result[key] = value
    return result, pos


# ---------------------------------------------------------------- messages of the streams

def event_types(message):
    """Event names of one decoded events-stream message ({"type":"event","data":[{type...}]})."""
    if not isinstance(message, dict) or message.get("type") != "event":
        raise ValueError(f"not an event message: {message!r}"[:200])
    data = message.get("data")
    items = data if isinstance(data, list) else [data]
    names = []
    for item in items:
        if not isinstance(item, dict) or not isinstance(item.get("type"), str):
            raise ValueError(f"event without a type: {item!r}"[:200])
        names.append(item["type"])
    return names


def signal_point_counter(message):
    """pointCounter of the first channel (ECG) of one decoded signal message."""
    if not isinstance(message, dict) or message.get("type") != "adc":
        raise ValueError(f"not a signal message: {message!r}"[:200])
    channels = message["channels"]
    first = channels[0]
    block = first["blockSize"]
    if len(first["data"]) != block * first["signalCount"]:
        raise ValueError(f"ECG block of {len(first['data'])} values, expected {block} x {first['signalCount']}")
    return first["pointCounter"], block


class SignalObserver:
    """Base of the signals-stream clients: on_message decodes each message and
    hands a well-formed one to on_signal(counter, block, payload) under
    self.lock; what is no well-formed signal message goes to self.malformed."""

    def __init__(self):
        self.lock = threading.Lock()
        self.messages = 0
        self.malformed = []

    def on_message(self, opcode, payload):
        try:
            if opcode != 0x2:
                raise ValueError("text message on the signals stream")
            counter, block = signal_point_counter(unpackb(payload))
        except (ValueError, KeyError, TypeError, IndexError) as error:
            with self.lock:
                self.malformed.append(str(error))
            return
        with self.lock:
            self.messages += 1
            self.on_signal(counter, block, payload)

    def on_signal(self, counter, block, payload):
        raise NotImplementedError


# ---------------------------------------------------------------- WebSocket

class WebSocketClient:
    """Minimal WebSocket client. Messages go to `on_message(opcode, payload)`
    on the reader thread; `closed` is set when the connection ends."""

    def __init__(self, port, on_message, host=HOST, path="/", timeout=5.0):
        self.on_message = on_message
        self.closed = threading.Event()
        self.close_reason = None
        self._send_lock = threading.Lock()
        self._sock = socket.create_connection((host, port), timeout=timeout)
        key = base64.b64encode(os.urandom(16)).decode()
        self._sock.sendall((f"GET {path} HTTP/1.1\r\nHost: {host}:{port}\r\nUpgrade: websocket\r\n"
                            f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                            "Sec-WebSocket-Version: 13\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self._sock.recv(4096)
            if not chunk:
                raise ConnectionError("WebSocket handshake: connection closed")
            head += chunk
            if len(head) > 65536:
                raise ConnectionError("WebSocket handshake: header too long")
        header, self._pending = head.split(b"\r\n\r\n", 1)
        lines = header.decode("latin-1").split("\r\n")
        if " 101 " not in lines[0] + " ":
            raise ConnectionError(f"WebSocket handshake refused: {lines[0]}")
        expected = base64.b64encode(hashlib.sha1((key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11").encode())
                                    .digest()).decode()
        fields = {l.split(":", 1)[0].strip().lower(): l.split(":", 1)[1].strip() for l in lines[1:] if ":" in l}
        if fields.get("sec-websocket-accept") != expected:
            raise ConnectionError("WebSocket handshake: wrong Sec-WebSocket-Accept")
        self._sock.settimeout(None)
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _read_exact(self, n):
        while len(self._pending) < n:
            chunk = self._sock.recv(max(65536, n - len(self._pending)))
            if not chunk:
                raise ConnectionError("connection closed")
            self._pending += chunk
        data, self._pending = self._pending[:n], self._pending[n:]
        return data

    def _run(self):
        fragments, fragment_opcode = [], None
        try:
            while True:
                b0, b1 = self._read_exact(2)
                fin, opcode = b0 & 0x80, b0 & 0x0F
                length = b1 & 0x7F
                if length == 126:
                    length = struct.unpack(">H", self._read_exact(2))[0]
                elif length == 127:
                    length = struct.unpack(">Q", self._read_exact(8))[0]
                mask = self._read_exact(4) if b1 & 0x80 else None
                payload = self._read_exact(length)
                if mask:
                    payload = bytes(c ^ mask[i % 4] for i, c in enumerate(payload))
                if opcode == 0x8:
                    self.close_reason = "closed by the server"
                    self._send_frame(0x8, payload[:2])
                    break
                if opcode == 0x9:
                    self._send_frame(0xA, payload)
                    continue
                if opcode == 0xA:
                    continue
                if opcode == 0x0:
                    if fragment_opcode is None:
                        raise ValueError("continuation frame without a start")
                    fragments.append(payload)
                    if fin:
                        self.on_message(fragment_opcode, b"".join(fragments))
                        fragments, fragment_opcode = [], None
                    continue
                if opcode in (0x1, 0x2):
                    if fin:
                        self.on_message(opcode, payload)
                    else:
                        fragments, fragment_opcode = [payload], opcode
                    continue
                raise ValueError(f"unknown WebSocket opcode {opcode}")
        except Exception as error:  # the stream ends either way; say why
            if self.close_reason is None:
                self.close_reason = f"{type(error).__name__}: {error}"
        finally:
            self.closed.set()
            try:
                self._sock.close()
            except OSError:
                pass

    def _send_frame(self, opcode, payload):
        mask = os.urandom(4)
        header = bytes([0x80 | opcode])
        n = len(payload)
        if n < 126:
            header += bytes([0x80 | n])
        elif n < 65536:
            header += bytes([0x80 | 126]) + struct.pack(">H", n)
        else:
            header += bytes([0x80 | 127]) + struct.pack(">Q", n)
        masked = bytes(c ^ mask[i % 4] for i, c in enumerate(payload))
        with self._send_lock:
            try:
                self._sock.sendall(header + mask + masked)
            except OSError:
                pass

    def close(self, timeout=3.0):
        if not self.closed.is_set():
            self._send_frame(0x8, struct.pack(">H", 1000))
            if not self.closed.wait(timeout):
                try:
                    self._sock.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                self.closed.wait(timeout)


# ---------------------------------------------------------------- HTTP

class HttpResult:
    """One request's outcome: `answers` counts the HTTP responses seen on its
    connection (1 is right; 0 means none came, 2 a second one followed)."""

    def __init__(self):
        self.answers = 0
        self.status = None
        self.body = b""
        self.extra = b""
        self.error = None
        self.elapsed = 0.0

    def json(self):
        try:
            return json.loads(self.body)
        except ValueError:
            return None


def _parse_response(raw):
    """Splits one HTTP response off `raw`: (status, body, rest) or None when incomplete."""
    split = raw.find(b"\r\n\r\n")
    if split < 0:
        return None
    head = raw[:split].decode("latin-1").split("\r\n")
    try:
        status = int(head[0].split()[1])
    except (IndexError, ValueError):
        raise ValueError(f"bad status line {head[0]!r}")
    length = None
    for line in head[1:]:
        name, _, value = line.partition(":")
        if name.strip().lower() == "content-length":
            length = int(value.strip())
    body_start = split + 4
    if length is None:
        return status, raw[body_start:], b""  # until the close
    if len(raw) - body_start < length:
        return None
    return status, raw[body_start:body_start + length], raw[body_start + length:]


def _answer_complete(raw):
    """True once `raw` holds a whole answer that says its length; one
    without Content-Length ends only where the server closes."""
    try:
        parsed = _parse_response(raw)
    except ValueError:
        return True
    if parsed is None:
        return False
    head = raw[:raw.find(b"\r\n\r\n")].lower()
    return b"\r\ncontent-length:" in head


def http_exchange(port, method, path, body=None, timeout=30.0, linger=0.3):
    """Sends one request and reads until the server closes the connection
    (or `timeout`). After the first answer it keeps listening `linger`
    seconds for anything more: a second answer is counted, not hidden."""
    result = HttpResult()
    started = time.monotonic()
    request = f"{method} {path} HTTP/1.1\r\nHost: {HOST}:{port}\r\n"
    payload = b""
    if body is not None:
        payload = body if isinstance(body, bytes) else body.encode()
        request += f"Content-Type: application/json\r\nContent-Length: {len(payload)}\r\n"
    request += "\r\n"
    raw = b""
    try:
        with socket.create_connection((HOST, port), timeout=5.0) as sock:
            sock.sendall(request.encode() + payload)
            deadline = started + timeout
            answered_at = None
            while True:
                now = time.monotonic()
                end = deadline if answered_at is None else min(deadline, answered_at + linger)
                if now >= end:
                    if answered_at is None:
                        result.error = f"no answer within {timeout:.1f} s"
                    break
                sock.settimeout(max(0.01, end - now))
                try:
                    chunk = sock.recv(65536)
                except socket.timeout:
                    continue
                if not chunk:
                    break
                raw += chunk
                if answered_at is None and _answer_complete(raw):
                    answered_at = time.monotonic()
    except OSError as error:
        result.error = f"{type(error).__name__}: {error}"
    result.elapsed = time.monotonic() - started
    try:
        first = _parse_response(raw)
    except ValueError as error:
        result.error = str(error)
        first = None
    if first is None:
        if raw and result.error is None:
            result.error = f"incomplete answer: {raw[:200]!r}"
        return result
    result.answers = 1
    result.status, result.body, rest = first
    result.extra = rest
    while rest:
        try:
            more = _parse_response(rest)
        except ValueError:
            more = None
        if more is None:
            break
        result.answers += 1
        rest = more[2]
    if rest and result.answers == 1:
        result.answers = 2  # bytes that are no answer of their own still mean "more than one"
    return result


# ---------------------------------------------------------------- simulator control

class SimControl:
    """The simulator's control port: one request per line, one JSON answer per line."""

    def __init__(self, port):
        self.port = port
        self._lock = threading.Lock()
        self._sock = None
        self._buffer = b""

    def _connect(self):
        self._sock = socket.create_connection((HOST, self.port), timeout=10.0)
        self._buffer = b""

    def request(self, line):
        with self._lock:
            for attempt in range(2):
                try:
                    if self._sock is None:
                        self._connect()
                    self._sock.sendall(line.encode() + b"\n")
                    while b"\n" not in self._buffer:
                        chunk = self._sock.recv(65536)
                        if not chunk:
                            raise ConnectionError("control connection closed")
                        self._buffer += chunk
                    answer, self._buffer = self._buffer.split(b"\n", 1)
                    return json.loads(answer)
                except (OSError, ConnectionError):
                    self._sock = None
                    if attempt:
                        raise

    def ok(self, line):
        answer = self.request(line)
        if not answer.get("ok"):
            raise RuntimeError(f"control request {line!r} refused: {answer}")
        return answer

    def state(self):
        return self.request("state")

    def close(self):
        with self._lock:
            if self._sock is not None:
                self._sock.close()
                self._sock = None


# ---------------------------------------------------------------- the service under the simulator

class Service:
    """The real service from a scratch copy, on free loopback ports, under dastel-sim."""

    def __init__(self, build, web=None, frequency=None, device_type=None, unplugged=False, prefix="dastel-hard-"):
        self.build = os.path.abspath(build)
        self.web = os.path.abspath(web or os.path.join(repo_root(), "web"))
        self.frequency = frequency
        self.device_type = device_type
        self.unplugged = unplugged
        self.prefix = prefix
        self.scratch = None
        self.sim_process = None
        self.service_pid = None
        self.control = None
        self.ports = {}
        self._log = []
        self._log_lock = threading.Lock()

    # Ports by settings key.
    @property
    def http_port(self):
        return self.ports["deviceAdapter"]

    @property
    def adc_port(self):
        return self.ports["adcSender"]

    @property
    def event_port(self):
        return self.ports["eventSender"]

    def _prepare(self):
        for name in ("dastel", "dastel-sim"):
            if not os.access(os.path.join(self.build, name), os.X_OK):
                raise StartFailed(f"{os.path.join(self.build, name)} is missing (build it first)")
        self.scratch = tempfile.mkdtemp(prefix=self.prefix)
        shutil.copy2(os.path.join(self.build, "dastel"), self.scratch)
        for sub in ("Devices", "DeviceCommands", "ComplexCommandHandlers"):
            shutil.copytree(os.path.join(self.build, sub), os.path.join(self.scratch, sub))
        shutil.copy2(os.path.join(self.build, "Cables.json"), self.scratch)
        shutil.copytree(self.web, os.path.join(self.scratch, "web"))
        for key in ("deviceAdapter", "adcSender", "eventSender", "terminal"):
            self.ports[key] = free_port()
        settings = {key: {"port": port} for key, port in self.ports.items()}
        # Without it every server would listen on all addresses.
        # followCable off: no requests of the service's own between an
        # injected fault and the command it is meant for.
        settings.update({"listenAddress": HOST, "errorLogPath": "", "htmlDirectories": ["web"],
                         "defaultHtmlDirectory": "web", "followCable": False})
        with open(os.path.join(self.scratch, "settings.json"), "w") as out:
            json.dump(settings, out)

    def _drain(self):
        for line in self.sim_process.stdout:
            with self._log_lock:
                self._log.append(line)
                if len(self._log) > 20000:  # keep the tail; the service logs every command
                    del self._log[:10000]

    def log_tail(self, lines=20):
        with self._log_lock:
            return "".join(self._log[-lines:])

    def start(self, timeout=30.0):
        self._prepare()
        command = [os.path.join(self.build, "dastel-sim"), "--control-port", "0"]
        if self.frequency:
            command += ["--frequency", str(self.frequency)]
        if self.device_type:
            command += ["--device-type", str(self.device_type)]
        if self.unplugged:
            command.append("--unplugged")
        command += ["--", os.path.join(self.scratch, "dastel")]
        self.sim_process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                            errors="replace")
        threading.Thread(target=self._drain, daemon=True).start()
        deadline = time.monotonic() + timeout
        control_port = None
        while time.monotonic() < deadline:
            if self.sim_process.poll() is not None:
                if self.sim_process.returncode == SKIP_STATUS:
                    raise SimulatorUnavailable(self.log_tail(5).strip())
                raise StartFailed(f"dastel-sim ended with {self.sim_process.returncode}: {self.log_tail()}")
            with self._log_lock:
                for line in self._log:
                    if line.startswith("DASTEL_SIM_CONTROL_PORT="):
                        control_port = int(line.split("=", 1)[1])
            if control_port is not None:
                children = [p for p in child_pids(self.sim_process.pid) if process_name(p) == "dastel"]
                if children:
                    self.service_pid = children[0]
                    break
            time.sleep(0.05)
        if self.service_pid is None:
            raise StartFailed(f"dastel-sim did not start the service: {self.log_tail()}")
        self.control = SimControl(control_port)
        # The stream servers start after the HTTP server: wait for all three.
        waiting = [self.http_port, self.adc_port, self.event_port]
        while time.monotonic() < deadline:
            try:
                with socket.create_connection((HOST, waiting[0]), timeout=0.5):
                    waiting.pop(0)
                    if not waiting:
                        return self
            except OSError:
                if self.sim_process.poll() is not None:
                    raise StartFailed(f"the service ended: {self.log_tail()}")
                time.sleep(0.1)
        raise StartFailed(f"the service does not serve HTTP and both streams: {self.log_tail()}")

    def stats(self):
        return ProcessStats(self.service_pid)

    def running(self):
        return self.sim_process is not None and self.sim_process.poll() is None

    def command(self, name, uid, data=None, timeout=30.0, linger=0.3):
        request = {"cmd": name, "uid": uid}
        if data is not None:
            request["data"] = data
        return http_exchange(self.http_port, "POST", "/cmd", json.dumps(request, ensure_ascii=False).encode(),
                             timeout=timeout, linger=linger)

    def get(self, path, timeout=10.0):
        return http_exchange(self.http_port, "GET", path, timeout=timeout, linger=0.0)

    def wait_identified(self, timeout=30.0, uid=1):
        """Polls GetTime until it is answered "ok"; the last result either way."""
        deadline = time.monotonic() + timeout
        result = None
        while time.monotonic() < deadline:
            result = self.command("GetTime", uid, timeout=5.0, linger=0.0)
            answer = result.json()
            if answer and answer.get("status") == "ok":
                return True, result
            time.sleep(0.2)
        return False, result

    def stop(self):
        if self.control is not None:
            self.control.close()
        if self.sim_process is not None and self.sim_process.poll() is None:
            self.sim_process.terminate()
            try:
                self.sim_process.wait(15)
            except subprocess.TimeoutExpired:
                self.sim_process.kill()
                self.sim_process.wait(5)
        if self.scratch:
            shutil.rmtree(self.scratch, ignore_errors=True)
            self.scratch = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False


def start_service(service):
    """Starts `service`; None when it runs, else the exit status the script
    ends with (SKIP_STATUS where the simulated recorder cannot run here)."""
    try:
        service.start()
    except SimulatorUnavailable as reason:
        print(f"virtual USB unavailable here: {reason}")
        return SKIP_STATUS
    except StartFailed as reason:
        print(f"the service did not start: {reason}")
        service.stop()
        return 1
    return None


def web_files(directory):
    """(name, bytes) of the plain files directly in `directory`, by name."""
    files = []
    for name in sorted(os.listdir(directory)):
        path = os.path.join(directory, name)
        if os.path.isfile(path):
            with open(path, "rb") as f:
                files.append((name, f.read()))
    return files
