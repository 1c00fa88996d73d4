#!/usr/bin/env python3
"""The command-line programs on the kernel's own serial drivers, in a VM.

A small initramfs (busybox, velrpt-cli, velrpt-sim and their libraries, the
USB serial modules) boots under QEMU without KVM. The VM has one 16550
(/dev/ttyS1, driver 8250) and one FTDI adapter (-device usb-serial,
/dev/ttyUSB0, driver ftdi_sio). The host end of each line is the
pseudo-terminal of a velrpt-sim running here, so the host side never opens
a real device. QEMU's trace events show the modem lines and the bytes the
guest sent; the simulators' logs show what the transceiver received and
their records what it sent.

Started by scripts/test-drivers, which installs QEMU, the kernel and busybox.
"""

import argparse
import collections
import fcntl
import json
import lzma
import os
import re
import select
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import termios
import threading
import time
import tty

REPEATER = "12345678"
SPEED = 19200
STATUS_RE = r"^{port} - {speed},8,None$"
TELEGRAM_RE = re.compile(r"^.*\d: ((?:[0-9A-F]{2} )+)$")
RECEIVED_RE = re.compile(r"^received ((?:[0-9A-F]{2} )+)->")
TRACE_RE = re.compile(r"^(\d+)@(\d+)\.(\d+):(\w+) (.*)$")
MODULES = ["usbserial", "ftdi_sio", "xhci_pci", "virtio_pci", "virtio_console"]
TRACE_EVENTS = ["serial_write", "usb_serial_handle_control", "usb_packet_state_change"]


class TestError(Exception):
    """The run cannot go on (VM did not boot, a program hung)."""


def say(text):
    print("test-drivers: " + text, flush=True)


# ---------------------------------------------------------------- initramfs


def cpio_newc(entries):
    """The newc archive of `entries`: (path, mode, data bytes) in order."""
    out = bytearray()
    ino = 1

    def pad(n):
        return b"\0" * ((4 - n % 4) % 4)

    for path, mode, data in entries + [("TRAILER!!!", 0, b"")]:
        name = path.lstrip("/").encode() + b"\0"
        fields = [ino, mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(name), 0]
        header = b"070701" + b"".join(b"%08X" % f for f in fields)
        out += header + name + pad(len(header) + len(name)) + data + pad(len(data))
        ino += 1
    return bytes(out)


def shared_libraries(binary):
    """The files the dynamic loader maps for `binary` (ldd's view)."""
    text = subprocess.run(["ldd", binary], check=True, capture_output=True, text=True).stdout
    libs = []
    for line in text.splitlines():
        m = re.search(r"(/\S+) \(0x", line)
        if m:
            libs.append(m.group(1))
        elif "not found" in line:
            raise TestError(f"ldd {binary}: {line.strip()}")
    return libs


def module_files(moddir, names):
    """The module files for `names` with their dependencies, dependencies first."""
    deps = {}
    with open(os.path.join(moddir, "modules.dep")) as f:
        for line in f:
            path, _, rest = line.partition(":")
            deps[path] = rest.split()

    def key(path):
        base = os.path.basename(path)
        return base[: base.index(".ko")].replace("-", "_")

    by_name = {key(p): p for p in deps}
    order = []

    def add(path):
        if path in order:
            return
        for d in reversed(deps[path]):  # modules.dep lists the deepest last
            add(d)
        order.append(path)

    for n in names:
        if n not in by_name:
            raise TestError(f"module {n} not in {moddir}")
        add(by_name[n])
    return [os.path.join(moddir, p) for p in order]


def read_module(path):
    with open(path, "rb") as f:
        data = f.read()
    if path.endswith(".xz"):
        return lzma.decompress(data)
    if path.endswith(".zst"):
        return subprocess.run(["zstd", "-dc", path], check=True, capture_output=True).stdout
    if path.endswith(".gz"):
        import gzip

        return gzip.decompress(data)
    return data


def build_initramfs(target, binaries, init_script, moddir):
    entries = []
    dirs = set()

    def add_dir(d):
        if d in ("", "/") or d in dirs:
            return
        add_dir(os.path.dirname(d))
        dirs.add(d)
        entries.append((d, stat.S_IFDIR | 0o755, b""))

    def add_file(path, data, mode=0o755):
        add_dir(os.path.dirname(path))
        entries.append((path, stat.S_IFREG | mode, data))

    for d in ("/bin", "/dev", "/proc", "/sys", "/tmp", "/modules"):
        add_dir(d)
    busybox = shutil.which("busybox")
    with open(busybox, "rb") as f:
        add_file("/bin/busybox", f.read())
    applets = subprocess.run([busybox, "--list"], check=True, capture_output=True, text=True).stdout.split()
    for a in applets:
        if a != "busybox":
            entries.append(("/bin/" + a, stat.S_IFLNK | 0o777, b"busybox"))
    with open(init_script, "rb") as f:
        add_file("/init", f.read())
    libs = []
    for b in binaries:
        with open(b, "rb") as f:
            add_file("/bin/" + os.path.basename(b), f.read())
        libs += [lib for lib in shared_libraries(b) if lib not in libs]
    for lib in libs:
        with open(os.path.realpath(lib), "rb") as f:
            add_file(lib, f.read())
    names = []
    for m in module_files(moddir, MODULES):
        name = os.path.basename(m)
        name = name[: name.index(".ko")] + ".ko"
        add_file("/modules/" + name, read_module(m), 0o644)
        names.append(name)
    add_file("/modules/order", ("\n".join(names) + "\n").encode(), 0o644)
    with open(target, "wb") as f:
        f.write(cpio_newc(entries))


# ------------------------------------------------------------ host processes


class Simulator:
    """velrpt-sim on a pseudo-terminal, its log lines kept with their times."""

    def __init__(self, binary, workdir, name, args):
        self.name = name
        self.record = os.path.join(workdir, name + ".record")
        self.lines = []  # (time, text)
        self.cond = threading.Condition()
        err = open(os.path.join(workdir, name + ".sim.log"), "w")
        self.proc = subprocess.Popen(
            [binary, "--record", self.record] + args,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
            start_new_session=True,
        )
        first = self.proc.stdout.readline()
        if not first.startswith("PTY "):
            raise TestError(f"{name}: velrpt-sim did not start: {first!r}")
        self.pty = first.split()[1]
        self.reader = threading.Thread(target=self._read, args=(err,), daemon=True)
        self.reader.start()

    def _read(self, copy):
        for line in self.proc.stderr:
            now = time.time()
            copy.write(f"{now:.6f} {line}")
            copy.flush()
            with self.cond:
                self.lines.append((now, line.rstrip("\n")))
                self.cond.notify_all()

    def received(self, t0, t1):
        """The bytes the transceiver received between t0 and t1, and the log lines."""
        data = bytearray()
        notes = []
        with self.cond:
            lines = [(t, l) for t, l in self.lines if t0 <= t <= t1]
        for _, line in lines:
            m = RECEIVED_RE.match(line)
            if m:
                data += bytes.fromhex(m.group(1))
                notes.append(line)
        return bytes(data), notes

    def wait_line(self, pattern, after, timeout):
        deadline = time.time() + timeout
        with self.cond:
            while True:
                for t, l in self.lines:
                    if t >= after and re.search(pattern, l):
                        return t
                left = deadline - time.time()
                if left <= 0:
                    return None
                self.cond.wait(left)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.reader.join(5)

    def settle(self, after, quiet=0.3, limit=3.0):
        """Waits until nothing has been received for `quiet` s (bounded): the
        bytes the guest wrote last are logged a moment after they left it."""
        deadline = time.time() + limit
        with self.cond:
            while time.time() < deadline:
                last = max([after] + [t for t, l in self.lines if l.startswith("received ")])
                left = last + quiet - time.time()
                if left <= 0:
                    return
                self.cond.wait(min(left, deadline - time.time()))


class Wire(threading.Thread):
    """The cable between a simulator's pseudo-terminal and a QEMU pipe
    chardev. A wire stores nothing: the only storage towards the guest is the
    receive FIFO of the UART or adapter model (16 bytes in the 16550, 384 in
    the FTDI model, as in the chips), which QEMU stops reading into when it is
    full. Bytes the model does not take within STALL_S are lost, as they are
    on a real line to a full FIFO, both those still waiting here and those
    already in the pipe: otherwise a closed port would find seconds of stale
    traffic in the pipe at the next open, after the driver has purged the
    FIFO. While the guest drains, nothing is dropped however long it takes.
    Towards the transceiver everything goes through.

    hush() keeps the transceiver's bytes off the line (read from the
    simulator and dropped, the pipe's few included) until speak() or, unless
    told otherwise, until the guest sends something. A line in the kernel's cooked default echoes what
    arrives between the driver enabling reception inside open() and the
    program's first line settings; the program's part is to put nothing but
    the exclusive claim in between (the open-order test on a pseudo-terminal
    checks that, and a second open shows here as a second DTR pulse). Under
    software emulation those few system calls take milliseconds, hundreds of
    times longer than on hardware, so whether an open fell into traffic
    decided the echo checks. The harness hushes the line over each open, and
    everything after it is checked for echo as before."""

    # QEMU's threads may not run for tens of milliseconds on a busy host (a
    # build beside it cost 137 bytes at 0.05 s), which no FIFO would notice.
    STALL_S = 0.25
    PIPE_MAX = 4  # bytes in the pipe at once, so that little is in flight
    CHAR_S = 10 / SPEED  # bytes leave the transceiver at the line's rate

    def __init__(self, pty, base):
        super().__init__(daemon=True)
        self.base = base
        for suffix in (".in", ".out"):
            if os.path.exists(base + suffix):
                os.unlink(base + suffix)
            os.mkfifo(base + suffix)
        # Read-write opens never wait for the other end.
        self.to_guest = os.open(base + ".in", os.O_RDWR | os.O_NONBLOCK)
        self.from_guest = os.open(base + ".out", os.O_RDWR | os.O_NONBLOCK)
        self.pty = os.open(pty, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self.pty)
        self.pending = collections.deque()  # (time, bytes) not yet in the pipe
        self.dropped = []  # (time, count)
        self.quiet = False
        self.speak_on_write = True
        self.hushed = 0  # bytes kept off the line by hush()
        self.stopping = False
        self.start()

    def hush(self, until_guest_writes=True):
        self.quiet = True
        self.speak_on_write = until_guest_writes

    def speak(self):
        self.quiet = False

    def waiting(self):
        return struct.unpack("i", fcntl.ioctl(self.to_guest, termios.FIONREAD, b"\0\0\0\0"))[0]

    def run(self):
        moved = last = time.time()  # when QEMU last took bytes from the pipe
        was = 0
        credit = 0.0
        while not self.stopping:
            now = time.time()
            in_pipe = self.waiting()
            if in_pipe < was or in_pipe == 0:
                moved = now
            if self.quiet and (in_pipe or self.pending):
                self.hushed += sum(len(d) for _, d in self.pending)
                self.pending.clear()
                try:
                    self.hushed += len(os.read(self.to_guest, in_pipe)) if in_pipe else 0
                except BlockingIOError:
                    pass
                in_pipe = self.waiting()
                moved = now
            if (in_pipe or self.pending) and now - moved > self.STALL_S:
                # The model's FIFO is full and nobody reads it: what is on
                # the wire is lost, the pipe's bytes included.
                lost = sum(len(d) for _, d in self.pending)
                self.pending.clear()
                while in_pipe:
                    try:
                        lost += len(os.read(self.to_guest, in_pipe))
                    except BlockingIOError:
                        break
                    in_pipe = self.waiting()
                self.dropped.append((now, lost))
                moved = now
            # Characters the line has carried since the last look, no more.
            credit = min(credit + (now - last) / self.CHAR_S, self.PIPE_MAX)
            last = now
            room = min(self.PIPE_MAX - in_pipe, int(credit))
            while self.pending and room > 0:
                t, data = self.pending.popleft()
                n = os.write(self.to_guest, data[:room])
                room -= n
                credit -= n
                if n < len(data):
                    self.pending.appendleft((t, data[n:]))
            was = self.waiting()
            # A pipe says nothing when QEMU has read from it: look again soon
            # while bytes wait.
            r, _, _ = select.select([self.pty, self.from_guest], [], [], 0.002 if self.pending else 0.05)
            if self.pty in r:
                try:
                    data = os.read(self.pty, 4096)
                except BlockingIOError:
                    data = None
                except OSError:
                    return
                if data:
                    self.pending.append((time.time(), data))
            if self.from_guest in r:
                try:
                    data = os.read(self.from_guest, 4096)
                except BlockingIOError:
                    data = b""
                if data and self.speak_on_write:
                    self.quiet = False  # the program is open and talking
                while data:
                    try:
                        data = data[os.write(self.pty, data):]
                    except BlockingIOError:
                        select.select([], [self.pty], [], 0.1)

    def lost(self, t0, t1):
        return sum(n for t, n in self.dropped if t0 <= t <= t1)

    def stop(self):
        self.stopping = True
        self.join(2)


class LineChannel:
    """A Unix socket that a QEMU chardev connects to; lines with their times."""

    def __init__(self, path):
        self.path = path
        if os.path.exists(path):
            os.unlink(path)
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.listener.bind(path)
        self.listener.listen(1)
        self.sock = None
        self.cond = threading.Condition()
        self.closed = False

    def accept(self, timeout):
        self.listener.settimeout(timeout)
        try:
            self.sock, _ = self.listener.accept()
        except socket.timeout:
            raise TestError(f"QEMU did not connect to {self.path}")
        self.sock.settimeout(None)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        buf = b""
        while True:
            try:
                chunk = self.sock.recv(65536)
            except OSError:
                chunk = b""
            if not chunk:
                with self.cond:
                    self.closed = True
                    self.cond.notify_all()
                return
            buf += chunk
            *lines, buf = buf.split(b"\n")
            now = time.time()
            with self.cond:
                for line in lines:
                    try:
                        self.on_line(now, line.decode("utf-8", "replace"))
                    except Exception as e:  # a reader that dies would only time out later
                        say(f"{self.path}: cannot read {line[:200]!r}: {e}")
                self.cond.notify_all()

    def send(self, text):
        self.sock.sendall(text.encode() + b"\n")


class Guest(LineChannel):
    """The shell of vm-init: commands run in the background, output per command."""

    def __init__(self, path):
        super().__init__(path)
        self.jobs = {}  # id -> {"lines": [(t, text)], "status": None|int, "started": t, "ended": t}
        self.next_id = 1
        self.transcript = []

    def on_line(self, now, line):
        self.transcript.append(f"{now:.6f} {line}")
        kind, _, rest = line.partition(" ")
        job_id, _, text = rest.partition(" ")
        job = self.jobs.setdefault(job_id, {"lines": [], "status": None, "started": now, "ended": None})
        if kind == "O":
            job["lines"].append((now, text))
        elif kind == "E":
            job["status"] = text
            job["ended"] = now

    def start(self, command):
        job_id = str(self.next_id)
        self.next_id += 1
        with self.cond:
            self.jobs[job_id] = {"lines": [], "status": None, "started": time.time(), "ended": None}
        self.send(f"{job_id} {command}")
        return job_id

    def wait(self, job_id, timeout, what=None):
        """Waits for the job to end; its status (int) and output lines."""
        deadline = time.time() + timeout
        with self.cond:
            while self.jobs[job_id]["status"] is None:
                left = deadline - time.time()
                if left <= 0 or self.closed:
                    raise TestError(f"guest command {what or job_id} did not end within {timeout} s")
                self.cond.wait(left)
            job = self.jobs[job_id]
            return int(job["status"]), [l for _, l in job["lines"]]

    def wait_output(self, job_id, pattern, count, timeout, after=0.0):
        """Waits until `count` output lines of the job after time `after` match;
        None when the time is up or the job has ended without them."""
        deadline = time.time() + timeout
        with self.cond:
            while True:
                hits = [t for t, l in self.jobs[job_id]["lines"] if t >= after and re.search(pattern, l)]
                if len(hits) >= count:
                    return hits[count - 1]
                left = deadline - time.time()
                if left <= 0 or self.closed or self.jobs[job_id]["status"] is not None:
                    return None
                self.cond.wait(left)

    def run(self, command, timeout):
        job_id = self.start(command)
        status, lines = self.wait(job_id, timeout, command)
        job = self.jobs[job_id]
        return status, lines, job["started"], job["ended"]


class Qmp(LineChannel):
    def __init__(self, path):
        super().__init__(path)
        self.replies = {}
        self.events = []
        self.n = 0

    def on_line(self, now, line):
        if not line.strip():
            return
        self.seen = getattr(self, "seen", [])[-5:] + [f"{now:.3f} {line.strip()[:200]}"]
        msg = json.loads(line)
        if "event" in msg:
            self.events.append((now, msg))
        elif "id" in msg:
            self.replies[msg["id"]] = msg

    def command(self, name, timeout=30, **args):
        self.n += 1
        ident = self.n
        self.send(json.dumps({"execute": name, "arguments": args, "id": ident}))
        deadline = time.time() + timeout
        with self.cond:
            while ident not in self.replies:
                left = deadline - time.time()
                if left <= 0 or self.closed:
                    raise TestError(f"QMP {name} got no answer within {timeout} s (closed: {self.closed}); "
                                    f"last lines: {' | '.join(getattr(self, 'seen', []))}")
                self.cond.wait(left)
            reply = self.replies.pop(ident)
        if "error" in reply:
            raise TestError(f"QMP {name}: {reply['error']}")
        return reply["return"]

    def wait_event(self, name, after, timeout, **data):
        deadline = time.time() + timeout
        with self.cond:
            while True:
                for t, e in self.events:
                    if t >= after and e["event"] == name and all(e.get("data", {}).get(k) == v for k, v in data.items()):
                        return t
                left = deadline - time.time()
                if left <= 0:
                    return None
                self.cond.wait(left)


# ------------------------------------------------------------------- traces


class Trace:
    """QEMU's trace log: the modem lines of each model and the bytes the guest sent."""

    def __init__(self, path):
        self.path = path

    def events(self):
        out = []
        with open(self.path, errors="replace") as f:
            for line in f:
                m = TRACE_RE.match(line.strip())
                if m:
                    t = int(m.group(2)) + int(m.group(3)) / 1e6
                    out.append((t, m.group(4), m.group(5)))
        return out

    def uart(self, t0, t1):
        """The 8250 side: (changes of (dtr, rts) with their times, times of sent bytes)."""
        lcr = 0
        lines = []
        sent = []
        for t, name, args in self.events():
            if name != "serial_write":
                continue
            m = re.search(r"addr 0x([0-9a-f]+) val 0x([0-9a-f]+)", args)
            if not m:
                continue
            addr, val = int(m.group(1), 16), int(m.group(2), 16)
            if addr == 3:
                lcr = val
            elif addr == 4:
                lines.append((t, bool(val & 1), bool(val & 2)))
            elif addr == 0 and not lcr & 0x80:
                sent.append(t)
        return window(changes(lines), t0, t1), [s for s in sent if t0 <= s <= t1]

    def ftdi(self, t0, t1):
        """The FTDI side: the same from the adapter's control and bulk-out requests."""
        dtr = rts = False
        lines = []
        sent = []
        for t, name, args in self.events():
            if name == "usb_serial_handle_control":
                m = re.search(r"control 0x([0-9a-f]+), value 0x([0-9a-f]+)", args)
                if not m:
                    continue
                req, val = int(m.group(1), 16), int(m.group(2), 16)
                if req == 0x4001:  # set modem control
                    if val & 0x100:
                        dtr = bool(val & 1)
                    if val & 0x200:
                        rts = bool(val & 2)
                    lines.append((t, dtr, rts))
                elif req == 0x4000:  # reset: the model drops nothing, the kernel re-sends the lines
                    pass
            elif name == "usb_packet_state_change" and "ep 2," in args and "-> complete" in args:
                sent.append(t)
        return window(changes(lines), t0, t1), [s for s in sent if t0 <= s <= t1]


def changes(samples):
    out = []
    for t, d, r in samples:
        if not out or (out[-1][1], out[-1][2]) != (d, r):
            out.append((t, d, r))
    return out


def window(ch, t0, t1):
    """The changes inside [t0, t1] with the state at t0 in front."""
    before = [c for c in ch if c[0] < t0]
    start = (t0, before[-1][1], before[-1][2]) if before else (t0, False, False)
    return [start] + [c for c in ch if t0 <= c[0] <= t1]


def pulses(ch, t1):
    """The intervals [rise, fall) during which DTR or RTS was on."""
    out = []
    up = None
    for t, d, r in ch:
        on = d or r
        if on and up is None:
            up = t
        elif not on and up is not None:
            out.append((up, t))
            up = None
    if up is not None:
        out.append((up, None))
    return out


# ------------------------------------------------------------------ the run


class Results:
    def __init__(self, skip):
        self.rows = []
        self.skip = skip  # name -> reason
        self.deferred = []

    def later(self, fn):
        """A check on QEMU's trace, run once QEMU has ended and written it all."""
        self.deferred.append(fn)

    def wanted(self, name, *checks):
        """Whether a step runs: it is not skipped and one of its checks is not."""
        if name in self.skip:
            return False
        return not checks or any(c not in self.skip for c in checks)

    def check(self, name, ok, detail):
        if name in self.skip:  # not counted; listed with its reason at the end
            return
        self.rows.append((name, "pass" if ok else "FAIL", detail))
        say(f"{'pass' if ok else 'FAIL'}  {name}: {detail}")

    def summary(self):
        for name, reason in self.skip.items():
            say(f"not run  {name}: {reason}")
        passed = sum(1 for r in self.rows if r[1] == "pass")
        failed = len(self.rows) - passed
        return passed, failed


def telegrams(lines):
    out = []
    for line in lines:
        m = TELEGRAM_RE.match(line)
        if m:
            out.append(m.group(1).strip())
    return out


def record_telegrams(cli, record):
    text = subprocess.run([cli, "decode", record], check=True, capture_output=True, text=True).stdout
    return telegrams(text.splitlines())


def compare_runs(runs, recorded):
    """Each run of telegrams (one connection) must be a contiguous piece of the
    record, the runs in order: nothing invented, duplicated or lost while open.
    A telegram the open cut into, or the pull did, may be missing at either end.
    Returns a list of problems."""
    problems = []
    pos = -1
    for n, run in enumerate(runs):
        for i, tel in enumerate(run):
            try:
                at = recorded.index(tel, pos + 1)
            except ValueError:
                problems.append(f"connection {n + 1}: telegram {i + 1} ({len(tel) // 3 + 1} bytes) was never sent: {tel[:60]}...")
                continue
            if i > 0 and at != pos + 1:
                problems.append(f"connection {n + 1}: {at - pos - 1} telegram(s) lost before telegram {i + 1}")
            pos = at
    return problems


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", required=True)
    ap.add_argument("--kernel", required=True)
    ap.add_argument("--modules", required=True, help="/lib/modules/VERSION of that kernel")
    ap.add_argument("--work", required=True)
    ap.add_argument("--pulls", type=int, default=10)
    ap.add_argument("--parts", default="8250,ftdi_sio,pulls,pull-in-set", help="which parts to run")
    ap.add_argument("--timeout", type=int, default=420, help="the whole run, seconds")
    ap.add_argument("--skip", action="append", default=[], help="CHECK=REASON: a check not run")
    ap.add_argument("--skip-file", help="lines CHECK=REASON: checks not run")
    args = ap.parse_args()

    skip = {}
    if args.skip_file:
        with open(args.skip_file) as f:
            args.skip += [l.strip() for l in f if l.strip() and not l.startswith("#")]
    for s in args.skip:
        name, _, reason = s.partition("=")
        skip[name] = reason or "skipped"
    results = Results(skip)
    parts = args.parts.split(",")

    os.makedirs(args.work, exist_ok=True)
    cli = os.path.join(args.build, "src/cli/velrpt-cli")
    sim = os.path.join(args.build, "src/sim/velrpt-sim")
    for b in (cli, sim):
        if not os.access(b, os.X_OK):
            raise TestError(f"{b} is not built")
    here = os.path.dirname(os.path.abspath(__file__))
    initrd = os.path.join(args.work, "initramfs.cpio")
    t_start = time.time()
    build_initramfs(initrd, [cli, sim], os.path.join(here, "vm-init"), args.modules)
    say(f"initramfs {os.path.getsize(initrd) // (1 << 20)} MiB in {time.time() - t_start:.1f} s")

    sims = []
    wires = []
    qemu = None
    watchdog = threading.Timer(args.timeout, lambda: os.kill(os.getpid(), signal.SIGALRM))
    watchdog.daemon = True

    def on_alarm(*_):
        raise TestError(f"the whole run took longer than {args.timeout} s")

    signal.signal(signal.SIGALRM, on_alarm)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    watchdog.start()
    try:
        # The bytes each command sends on a pseudo-terminal: what the VM's
        # transceiver must receive too, and nothing else.
        expected = baseline(cli, sim, args.work)

        sim_args = ["--repeater-id", REPEATER, "--interval", "200", "--baud", str(SPEED)]
        uart_sim = Simulator(sim, args.work, "uart", sim_args + ["--seed", "3"])
        sims.append(uart_sim)
        ftdi_sim = Simulator(sim, args.work, "ftdi", sim_args + ["--seed", "4"])
        sims.append(ftdi_sim)

        uart_wire = Wire(uart_sim.pty, os.path.join(args.work, "uart-line"))
        wires.append(uart_wire)
        uart_sim.wire = uart_wire
        ftdi_wire = Wire(ftdi_sim.pty, os.path.join(args.work, "ftdi-line"))
        wires.append(ftdi_wire)
        ftdi_sim.wire = ftdi_wire
        guest = Guest(os.path.join(args.work, "ctl.sock"))
        qmp = Qmp(os.path.join(args.work, "qmp.sock"))
        trace_log = os.path.join(args.work, "trace.log")
        events = os.path.join(args.work, "trace-events")
        with open(events, "w") as f:
            f.write("\n".join(TRACE_EVENTS) + "\n")
        cmd = [
            "qemu-system-x86_64", "-machine", "pc", "-accel", "tcg", "-m", "512", "-smp", "1",
            "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot", "-nic", "none",
            "-kernel", args.kernel, "-initrd", initrd,
            "-append", "console=hvc0 quiet loglevel=1 panic=-1 rdinit=/init",
            "-chardev", f"socket,id=qmp,path={qmp.path}",
            "-mon", "chardev=qmp,mode=control",
            "-device", "virtio-serial-pci",
            "-chardev", f"socket,id=ctl,path={guest.path}",
            "-device", "virtserialport,chardev=ctl,name=ctl",
            # The one 16550 of the machine: COM2, so that trace lines are its alone.
            "-chardev", f"pipe,id=uart-line,path={uart_wire.base}",
            "-device", "isa-serial,chardev=uart-line,index=1",
            "-device", "qemu-xhci,id=xhci",
            "-chardev", f"pipe,id=ftdi-line,path={ftdi_wire.base}",
            "-device", FTDI_DEVICE,
            "-trace", f"events={events}", "-D", trace_log, "-msg", "timestamp=on",
        ]
        with open(os.path.join(args.work, "qemu.log"), "w") as qlog:
            qemu = subprocess.Popen(cmd, stdout=qlog, stderr=subprocess.STDOUT, start_new_session=True)
        qmp.accept(30)
        guest.accept(30)
        qmp.command("qmp_capabilities")
        t_boot = time.time()
        with guest.cond:
            while guest.jobs.get("0", {}).get("status") is None:
                left = t_boot + 120 - time.time()
                if left <= 0 or guest.closed:
                    raise TestError("the VM did not boot within 120 s")
                guest.cond.wait(left)
        say(f"VM up in {time.time() - t_start:.1f} s ({guest.jobs['0']['status']}), QEMU pid {qemu.pid}")
        # USB enumerates in the background.
        if not wait_path(guest, "/dev/ttyUSB0", 30) or not wait_path(guest, "/dev/ttyS1", 1):
            _, lines, _, _ = guest.run("ls /dev; dmesg | tail -n 30", 20)
            raise TestError("the VM has not both lines: " + " | ".join(lines))

        trace = Trace(trace_log)
        for driver, port, simulator, modem in (
            ("8250", "/dev/ttyS1", uart_sim, trace.uart),
            ("ftdi_sio", "/dev/ttyUSB0", ftdi_sim, trace.ftdi),
        ):
            if driver in parts:
                run_driver(results, guest, driver, port, simulator, modem, expected, cli)
        if "pulls" in parts:
            run_pulls(results, guest, qmp, ftdi_sim, trace.ftdi, cli, args.pulls)
        if "pull-in-set" in parts:
            run_pull_in_set(results, guest, qmp, ftdi_sim)
        # A clean quit writes the whole trace.
        qmp.command("quit")
        qemu.wait(30)
    finally:
        watchdog.cancel()
        if qemu is not None and qemu.poll() is None:
            os.kill(qemu.pid, signal.SIGTERM)
            try:
                qemu.wait(10)
            except subprocess.TimeoutExpired:
                os.kill(qemu.pid, signal.SIGKILL)
                qemu.wait()
        for w in wires:
            w.stop()
        for s in sims:
            s.stop()
        if "guest" in locals():
            with open(os.path.join(args.work, "guest.log"), "w") as f:
                f.write("\n".join(guest.transcript) + "\n")

    for check in results.deferred:
        check()
    passed, failed = results.summary()
    say(f"the whole run took {time.time() - t_start:.0f} s; logs in {args.work}")
    print(f"test-drivers: {passed} passed, {failed} failed", flush=True)
    return 0 if failed == 0 else 1


FTDI_DEVICE = "usb-serial,id=ftdi,chardev=ftdi-line,bus=xhci.0,port=1"


def baseline(cli, sim, work):
    """What send and set-in-korvex write on a pseudo-terminal of this host."""
    out = {}
    for name, command in (
        ("send", ["send", "rx-hours", "3", "--id", REPEATER, "--listen", "0.5"]),
        ("set-in-korvex", ["set-in-korvex", "--id", REPEATER]),
    ):
        s = Simulator(sim, work, "baseline-" + name, ["--repeater-id", REPEATER, "--interval", "100"])
        try:
            t0 = time.time()
            r = subprocess.run([cli] + command + ["--port", s.pty], capture_output=True, text=True, timeout=30)
            if r.returncode != 0:
                raise TestError(f"{name} on a pseudo-terminal failed: {r.stdout}{r.stderr}")
        finally:
            s.stop()
        out[name] = s.received(t0, time.time())[0]
    return out


def wait_path(guest, path, seconds):
    """True once `path` exists in the guest, looked for every 50 ms up to `seconds`."""
    tries = int(seconds * 20)
    status, _, _, _ = guest.run(
        f"i=0; while [ ! -e {path} ] && [ $i -lt {tries} ]; do i=$((i+1)); sleep 0.05; done; [ -e {path} ]",
        seconds + 30,
    )
    return status == 0


def wire_note(simulator, t0, t1, problems):
    """When telegrams went missing: how many bytes the guest left on the wire."""
    lost = simulator.wire.lost(t0, t1)
    if problems and lost:
        return [f"(the guest's FIFO was full for {lost} bytes, closed ports included)"]
    return []


def run_opening(guest, port, simulator, command, status_re, timeout):
    """Runs `command` on a line in the kernel's default settings with the
    transceiver quiet until the program has opened (its port line, or its
    first byte on the wire); its status, output and start and end times."""
    simulator.wire.hush()
    reset_line(guest, port, simulator)
    job = guest.start(command)
    guest.wait_output(job, status_re, 1, timeout)
    simulator.wire.speak()
    status, lines = guest.wait(job, timeout, command)
    return status, lines, guest.jobs[job]["started"], guest.jobs[job]["ended"]


def reset_line(guest, port, simulator):
    """The line settings of a UART after boot or a freshly plugged adapter.
    stty itself echoes what arrives while it has them set; the transceiver's
    half frame from that ends when the line has been quiet a while (its
    inter-byte timer), and none of it is counted to the next step."""
    status, lines, _, t1 = guest.run(f"stty -F {port} 9600 sane hupcl clocal cs8 -parenb -cstopb", 30)
    if status != 0:
        raise TestError(f"stty {port}: {' '.join(lines)}")
    simulator.settle(t1, quiet=0.8, limit=10)


def modem_report(modem, t0, t1, connects):
    """Checks the modem lines of one step: one pulse per connection (the
    kernel's own at open), off before the first byte leaves, off at the end."""
    ch, sent = modem(t0, t1)
    ps = pulses(ch, t1)
    problems = []
    if len(ps) > connects:
        problems.append(f"{len(ps)} pulses for {connects} connection(s)")
    if ps and ps[-1][1] is None:
        problems.append("still on at the end")
    for up, down in ps:
        early = [s for s in sent if s >= up and (down is None or s < down)]
        if early:
            problems.append(f"{len(early)} byte transfer(s) while on")
            break
    ms = [f"{(d - u) * 1000:.1f}" for u, d in ps if d is not None]
    detail = f"{len(ps)} pulse(s) for {connects} open(s), on for {', '.join(ms) or '-'} ms"
    return problems, detail


def run_driver(results, guest, driver, port, simulator, modem, expected, cli):
    status_re = STATUS_RE.format(port=re.escape(port), speed=SPEED)

    def echo_check(name, t0, t1, allowed=b""):
        simulator.settle(t1)
        received, notes = simulator.received(t0, time.time())
        ok = received == allowed
        detail = "only the program's own bytes" if ok else (
            f"received {len(received)} bytes, {len(allowed)} were the program's: "
            + " | ".join(n for n in notes if "dropped" in n or "without prompt" in n)[:240]
        )
        results.check(name, ok, detail)

    # monitor: the telegrams as the simulator sent them, nothing sent back.
    step = f"{driver} monitor"
    if results.wanted(step, step + ": telegrams as sent", step + ": nothing echoed", f"{driver} modem lines at monitor's open"):
        status, lines, t0, t1 = run_opening(guest, port, simulator, f"velrpt-cli monitor --port {port} --seconds 6", status_re, 90)
        got = telegrams(lines)
        problems = compare_runs([got], record_telegrams(cli, simulator.record))
        if status != 0:
            problems.append(f"exit status {status}")
        if len(got) < 5:
            problems.append(f"only {len(got)} telegrams")
        problems += wire_note(simulator, t0, t1, problems)
        results.check(step + ": telegrams as sent", not problems, "; ".join(problems) or f"{len(got)} telegrams, each as sent, none lost")
        echo_check(step + ": nothing echoed", t0, t1)
        check_modem(results, f"{driver} modem lines at monitor's open", modem, t0, t1, lines, status_re)

    # send: the answer decoded, the command the only bytes on the line.
    step = f"{driver} send"
    if results.wanted(step, step + ": answer decoded", step + ": only the command on the line", f"{driver} modem lines at send's open"):
        status, lines, t0, t1 = run_opening(guest, port, simulator, f"velrpt-cli send rx-hours 3 --port {port} --id {REPEATER} --listen 4", status_re, 90)
        ok = status == 0 and "WORK HOURS RX = 3" in lines
        results.check(step + ": answer decoded", ok, "\"WORK HOURS RX = 3\"" if ok else f"exit status {status}, no decoded answer")
        echo_check(step + ": only the command on the line", t0, t1, expected["send"])
        check_modem(results, f"{driver} modem lines at send's open", modem, t0, t1, lines, status_re)

    step = f"{driver} set-in-korvex"
    if results.wanted(step, step + ": saved", step + ": only the exchange on the line", f"{driver} modem lines at set-in-korvex's open"):
        status, lines, t0, t1 = run_opening(guest, port, simulator, f"velrpt-cli set-in-korvex --port {port} --id {REPEATER}", status_re, 90)
        ok = status == 0 and "Parameter succesfully saved!" in lines
        results.check(step + ": saved", ok, "\"Parameter succesfully saved!\"" if ok else f"exit status {status}: {' | '.join(lines[-3:])}")
        echo_check(step + ": only the exchange on the line", t0, t1, expected["set-in-korvex"])
        check_modem(results, f"{driver} modem lines at set-in-korvex's open", modem, t0, t1, lines, status_re)

    # A speed the UART cannot run must not be reported as set.
    step = f"{driver} speed 230400 not shown as set"
    if driver == "8250" and results.wanted(step):
        status, lines, _, _ = guest.run(f"velrpt-cli monitor --port {port} --speed 230400 --seconds 1", 60)
        shown = [l for l in lines if re.match(rf"^{re.escape(port)} - 230400,", l)]
        ok = not shown and status != 0
        results.check(step, ok, f"exit status {status}: {' | '.join(l[:80] for l in lines[:3])}")


def check_modem(results, name, modem, t0, t1, lines, status_re):
    if not results.wanted(name):
        return
    connects = sum(1 for l in lines if re.match(status_re, l))

    def check():
        problems, detail = modem_report(modem, t0, t1, max(connects, 1))
        results.check(name, not problems, "; ".join(problems + [detail]))

    results.later(check)


def run_pulls(results, guest, qmp, simulator, modem, cli, pulls):
    name = f"ftdi_sio {pulls} pulls: back each time, nothing lost"
    if not results.wanted(name):
        return
    port = "/dev/ttyUSB0"
    status_re = STATUS_RE.format(port=re.escape(port), speed=SPEED)
    # The line is quiet over every open, as in run_opening.
    simulator.wire.hush()
    reset_line(guest, port, simulator)
    job = guest.start(f"velrpt-cli monitor --port {port} & echo $! >/tmp/monitor.pid; wait")
    t0 = time.time()
    problems = []
    if guest.wait_output(job, status_re, 1, 60) is None:
        raise TestError("monitor did not open the FTDI line")
    simulator.wire.speak()
    back_times = []
    for n in range(pulls):
        # Some telegrams on every connection before the next pull.
        mark = guest.wait_output(job, status_re, n + 1, 60)
        if guest.wait_output(job, TELEGRAM_RE.pattern, 3, 60, after=mark) is None:
            problems.append(f"connection {n + 1}: no telegrams")
            break
        t_pull = time.time()
        quiet_unplug(qmp, simulator)
        if qmp.wait_event("DEVICE_DELETED", t_pull, 30, device="ftdi") is None:
            raise TestError("device_del did not finish")
        if guest.wait_output(job, r"was disconnected!", n + 1, 60) is None:
            problems.append(f"pull {n + 1}: no disconnection line")
            break
        simulator.wire.hush()
        t_add = time.time()
        qmp.command("device_add", **device_args(FTDI_DEVICE))
        back = guest.wait_output(job, status_re, n + 2, 60)
        simulator.wire.speak()
        if back is None:
            problems.append(f"pull {n + 1}: not back within 60 s")
            break
        back_times.append(back - t_add)
    mark = guest.wait_output(job, status_re, pulls + 1, 1) or time.time()
    guest.wait_output(job, TELEGRAM_RE.pattern, 3, 60, after=mark)
    guest.run("kill -TERM $(cat /tmp/monitor.pid)", 30)
    status, lines = guest.wait(job, 60, "monitor")
    t1 = time.time()
    # One run of telegrams per connection.
    runs = [[]]
    for line in lines:
        if re.search("was disconnected!", line):
            runs.append([])
        m = TELEGRAM_RE.match(line)
        if m:
            runs[-1].append(m.group(1).strip())
    problems += compare_runs(runs, record_telegrams(cli, simulator.record))
    simulator.settle(t1)
    received, _ = simulator.received(t0, time.time())
    results.check(f"ftdi_sio {pulls} pulls: nothing echoed", not received,
                  f"received {len(received)} bytes: {received[:24].hex(' ')}" if received else "nothing received")
    if status != 0:
        problems.append(f"monitor's exit status {status}")
    problems += wire_note(simulator, t0, t1, problems)
    figures = f"{len(back_times)} returns, back {min(back_times, default=0):.2f}-{max(back_times, default=0):.2f} s after device_add, {sum(map(len, runs))} telegrams"
    results.check(name, not problems, "; ".join(problems + [figures]))
    connects = sum(1 for l in lines if re.match(status_re, l))
    mname = f"ftdi_sio modem lines at {connects} reconnections"
    if results.wanted(mname):

        def check():
            mproblems, detail = modem_report(modem, t0, t1, connects)
            results.check(mname, not mproblems, "; ".join(mproblems + [detail]))

        results.later(check)


def quiet_unplug(qmp, simulator):
    """device_del of the FTDI adapter with nothing arriving on its line: QEMU
    7.2 dies (SIGSEGV) in some unplugs while its usb-serial model is taking
    bytes, 2 of 3 runs of ten pulls here."""
    simulator.wire.hush(until_guest_writes=False)
    time.sleep(0.15)  # the wire's loop, 50 ms a turn at most, drops what it holds
    qmp.command("device_del", id="ftdi")


def device_args(option):
    driver, *props = option.split(",")
    args = {"driver": driver}
    for p in props:
        k, _, v = p.partition("=")
        args[k] = v
    return args


def run_pull_in_set(results, guest, qmp, simulator):
    name = "ftdi_sio pull during set-in-korvex"
    if not results.wanted(name):
        return
    port = "/dev/ttyUSB0"
    simulator.wire.hush()
    reset_line(guest, port, simulator)
    t0 = time.time()
    job = guest.start(f"velrpt-cli set-in-korvex --port {port} --id {REPEATER}")
    # Its first command lets the transceiver speak again (Wire.run).
    # In the middle: once a parameter has been written.
    if simulator.wait_line(r"config: parameter \d+ :=", t0, 60) is None:
        guest.wait(job, 60, "set-in-korvex")
        results.check(name, False, "set-in-korvex wrote no parameter, so nothing was pulled")
        return
    quiet_unplug(qmp, simulator)
    status, lines = guest.wait(job, 60, "set-in-korvex")
    t_add = time.time()
    qmp.command("device_add", **device_args(FTDI_DEVICE))
    problems = []
    if status != 1:
        problems.append(f"exit status {status}")
    if not any("was disconnected!" in l for l in lines):
        problems.append("no disconnection line")
    if "Error setting parameter" not in lines:
        problems.append("no \"Error setting parameter\"")
    raw = [l for l in lines if "Error clearing buffers" in l or "Write error" in l or "Exception" in l]
    if raw:
        problems.append("raw error lines: " + " | ".join(raw))
    results.check(name, not problems, "; ".join(problems) or "disconnection and \"Error setting parameter\", status 1")
    # Leave the adapter in for whatever comes next.
    if not wait_path(guest, port, 20):
        raise TestError("the FTDI adapter did not come back after the pull")


if __name__ == "__main__":
    try:
        sys.exit(main())
    except TestError as e:
        say("ERROR: " + str(e))
        sys.exit(1)
