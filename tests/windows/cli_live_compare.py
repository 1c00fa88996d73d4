#!/usr/bin/env python3
"""velrpt-cli.exe's live commands under wine on COM1, mapped to the
pseudo-terminal of the Linux velrpt-sim, against the Linux velrpt-cli on a
simulator started with the same options: the same exit status and the same
deterministic output (the port's name, dates and the repeater's clock set
aside; meter telegrams compared where both runs heard them).

COM1 is mapped through wine's registry (com_port_harness.py) and nothing
runs unless it provably leads to the simulator's pty.

    cli_live_compare.py --wine-cli velrpt-cli.exe --linux-cli velrpt-cli --sim velrpt-sim
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import com_port_harness as harness  # noqa: E402

ENV = dict(os.environ, WINEDEBUG="-all", LC_ALL="en_GB.UTF-8", LANG="en_GB.UTF-8")
NOW = "2024-03-05 06:07:08"
STAMP = re.compile(r"^\d\d/\d\d/\d{4}, \d\d:\d\d:\d\d(: )?")
HEX = re.compile(r"^(?:[0-9A-F]{2} )+")


class Simulator:
    """velrpt-sim on a pseudo-terminal of its own; output to a file, never a pipe."""

    def __init__(self, sim, options):
        self.out = tempfile.TemporaryFile()
        self.process = subprocess.Popen([sim, *options], stdin=subprocess.DEVNULL, stdout=self.out,
                                        stderr=subprocess.STDOUT, env=ENV)
        self.pty = None
        deadline = time.monotonic() + 10
        while self.pty is None and time.monotonic() < deadline:
            self.out.seek(0)
            for line in self.out.read().decode(errors="replace").splitlines():
                if line.startswith("PTY "):
                    self.pty = line[4:].strip()
            if self.pty is None:
                time.sleep(0.05)
        if self.pty is None:
            self.stop()
            raise RuntimeError("velrpt-sim announced no pseudo-terminal")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.out.close()


def run(command):
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err, env=ENV, timeout=120)
        out.seek(0)
        err.seek(0)
        return done.returncode, out.read().decode(errors="replace"), err.read().decode(errors="replace")


def normalised(text, port):
    """Lines with the port's name replaced, dates cut off and the repeater's
    clock (in its answers' bytes and their decoding) left out."""
    lines = []
    for line in text.replace("\r\n", "\n").splitlines():
        line = line.replace(port, "PORT")
        line = STAMP.sub("", line)
        if line.startswith("Current repeater time"):
            continue
        if line.startswith("Repeater ") and ": " in line:
            line = line.split(": ")[0]
        if HEX.match(line) and " 04 6D " in line:
            line = line.split(" 04 6D ")[0]  # the clock follows, and the checksum over it
        lines.append(line)
    return lines


def telegram_lines(lines):
    return [line for line in lines if HEX.match(line)]


def compare_monitor(linux, wine):
    """The wine run's telegrams, in order, inside the Linux run's longer stretch."""
    lt, wt = telegram_lines(linux), telegram_lines(wine)
    if len(wt) < 5:
        return f"the wine run decoded only {len(wt)} telegrams"
    for start in range(len(lt) - len(wt) + 1):
        if lt[start:start + len(wt)] == wt:
            break
    else:
        return "the wine run's telegrams are not a stretch of the Linux run's"
    others = [line for line in wine if not HEX.match(line)]
    if others != ["PORT - 19200,8,None"]:
        return f"other lines: {others[:4]}"
    return ""


def compare_loss(linux, wine):
    """The same port lines (opened, then lost); the telegrams up to the
    simulator's last, of which the run that opened later heard fewer."""
    if [line for line in linux if not HEX.match(line)] != [line for line in wine if not HEX.match(line)]:
        return compare_exact([line for line in linux if not HEX.match(line)],
                             [line for line in wine if not HEX.match(line)])
    lt, wt = telegram_lines(linux), telegram_lines(wine)
    short, long = (lt, wt) if len(lt) <= len(wt) else (wt, lt)
    if not short or long[len(long) - len(short):] != short:
        return f"telegrams differ ({len(lt)} on Linux, {len(wt)} under wine, not ending alike)"
    return ""


def compare_results(linux, wine):
    """Provision: the frames sent and the result per repeater. When an answer
    comes, before or after the next frame went out, is the line's timing."""
    def results(lines):
        return [line for line in lines if re.match(r"^\d{8} (verified|mismatch|silent)", line)]

    def sent(lines):
        return sorted(set(line for line in lines if HEX.match(line) and line.split()[2] == "06"))

    if not results(linux):
        return "no result line on Linux"
    return compare_exact(results(linux) + sent(linux), results(wine) + sent(wine))


def compare_exact(linux, wine):
    if linux == wine:
        return ""
    for i, (a, b) in enumerate(zip(linux, wine)):
        if a != b:
            return f"line {i + 1}: linux {a[:120]!r}, wine {b[:120]!r}"
    return f"{len(linux)} lines against {len(wine)}"


CASES = [
    # name, simulator options, command (without --port), comparison, wine's and
    # Linux's seconds, the exit status both must end with
    ("monitor", ["--seed", "7", "--baud", "19200", "--interval", "150"],
     ["monitor", "--now", NOW, "--accept-any-ci", "--seconds"], compare_monitor, ("4", "9"), 0),
    # The simulator ends once its telegrams were sent and read: the port is
    # lost, told once, exit status 1.
    ("monitor, the device lost", ["--seed", "9", "--count", "20"],
     ["monitor", "--no-reconnect", "--now", NOW, "--accept-any-ci", "--seconds", "30"], compare_loss, None, 1),
    ("send", ["--seed", "5", "--baud", "19200"],
     ["send", "rx-hours", "2", "--id", "12345678", "--listen", "1.5"], compare_exact, None, 0),
    ("set-in-korvex", ["--seed", "5", "--baud", "19200"],
     ["set-in-korvex", "--id", "12345678"], compare_exact, None, 0),
    ("provision", ["--seed", "5", "--baud", "19200"],
     ["provision", "--id", "12345678", "--rx-hours", "3", "--wireless-mode", "Mode T",
      "--answer-timeout", "4"], compare_results, None, 0),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-cli", required=True)
    parser.add_argument("--linux-cli", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--only", help="run only the case of this name")
    args = parser.parse_args()

    failures = 0
    for name, sim_options, command, compare, seconds, expected in CASES:
        if args.only and name != args.only:
            continue
        results = {}
        for side in ("wine", "linux"):
            sim = Simulator(args.sim, sim_options)
            try:
                extra = [seconds[0] if side == "wine" else seconds[1]] if seconds else []
                if side == "wine":
                    harness.wine("reg", "add", harness.KEY, "/v", harness.PORT, "/t", "REG_SZ", "/d", sim.pty, "/f")
                    harness.restart_wineserver()
                    ok, why = harness.mapped_to(sim.pty)
                    if not ok:
                        print(f"FAIL {name}: {harness.PORT} is not mapped to {sim.pty} ({why}); nothing sent")
                        return 1
                    status, out, err = run(["wine", args.wine_cli, *command, *extra, "--port", harness.PORT])
                    harness.wine("reg", "delete", harness.KEY, "/v", harness.PORT, "/f", check=False)
                    results[side] = (status, normalised(out, harness.PORT), err)
                else:
                    status, out, err = run([args.linux_cli, *command, *extra, "--port", sim.pty])
                    results[side] = (status, normalised(out, sim.pty), err)
            finally:
                sim.stop()
        (ws, wo, we), (ls, lo, le) = results["wine"], results["linux"]
        why = f"exit status {ls} on Linux, {ws} under wine" if ls != ws else compare(lo, wo)
        if ls != expected and not why:
            why = f"both ended with exit status {ls}, not {expected}"
        print(("ok   " if not why else "FAIL ") + name + (f": {why}" if why else f" ({len(wo)} lines)"))
        if why:
            failures += 1
            print("  wine stdout:\n    " + "\n    ".join(wo[:12]))
            print("  linux stdout:\n    " + "\n    ".join(lo[:12]))
            print("  wine stderr: " + we[:400])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
