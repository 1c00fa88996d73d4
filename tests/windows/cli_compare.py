#!/usr/bin/env python3
"""velrpt-cli.exe under wine against the Linux velrpt-cli on the same input:
standard output, the files written and the exit status must be the same,
byte for byte. Binary input through standard input is among the cases: a
Windows program in text mode stops at 0x1A and folds CR LF."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

NOW = "2024-03-05 06:07:08"


# Files, not pipes: a wine background process that inherits a pipe keeps it
# open and the reader waits for ever.
def run(command, stdin_bytes=None, cwd=None):
    # Dates and times follow the system's regional settings: Qt's locale
    # data on Linux, the system's on Windows. For en_US they differ (3/5/24
    # against 3/5/2024); for en_GB both write 05/03/2024, 06:07:08. wine
    # takes its user locale from the same variables.
    env = dict(os.environ, WINEDEBUG="-all", LC_ALL="en_GB.UTF-8", LANG="en_GB.UTF-8")
    with tempfile.TemporaryFile() as inp, tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        inp.write(stdin_bytes or b"")
        inp.seek(0)
        done = subprocess.run(command, stdin=inp, stdout=out, stderr=err, env=env, cwd=cwd, timeout=120)
        out.seek(0)
        err.seek(0)
        return done.returncode, out.read(), err.read()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-cli", required=True)
    parser.add_argument("--linux-cli", required=True)
    parser.add_argument("--capture", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    with open(args.capture, "rb") as f:
        binary = bytes.fromhex(f.read().decode("ascii"))
    # Every byte value, the sample's frames around them.
    raw = binary + bytes(range(256)) + b"\r\n\x1a\r\n" + binary
    raw_path = os.path.join(args.work, "capture.bin")
    with open(raw_path, "wb") as f:
        f.write(raw)

    cases = [
        ("decode --hex FILE", ["decode", "--hex", "--now", NOW, args.capture], None, None),
        ("decode FILE, binary", ["decode", "--now", NOW, raw_path], None, None),
        ("decode from standard input, binary", ["decode", "--now", NOW], raw, None),
        ("decode --json", ["decode", "--json", "--now", NOW, raw_path], None, None),
        ("decode --table", ["decode", "--now", NOW, "--table", "TABLE", raw_path], None, "TABLE"),
        ("decode --repeater-id", ["decode", "--now", NOW, "--repeater-id", "12345678", raw_path], None, None),
        ("frame datetime", ["frame", "datetime", "--id", "12345678", "--now", "2024-03-05 06:07"], None, None),
        ("frame custom", ["frame", "custom", "01 FD 17", "--id", "12345678"], None, None),
        ("decode of a missing file", ["decode", os.path.join(args.work, "absent.bin")], None, None),
        ("unknown command", ["nonsense"], None, None),
    ]
    failures = 0
    for name, cli_args, stdin_bytes, out_file in cases:
        outputs = []
        for label, prefix in (("linux", [args.linux_cli]), ("wine", ["wine", args.wine_cli])):
            command = prefix + [a.replace("TABLE", os.path.join(args.work, label + ".csv")) for a in cli_args]
            status, out, err = run(command, stdin_bytes)
            written = b""
            if out_file:
                with open(os.path.join(args.work, label + ".csv"), "rb") as f:
                    written = f.read()
            outputs.append((status, out, written, err))
        (ls, lo, lw, le), (ws, wo, ww, we) = outputs
        same = ls == ws and lo == wo and lw == ww
        print(("ok   " if same else "FAIL ") + name + f" (status {ls}, {len(lo)} bytes out)")
        if not same:
            failures += 1
            print(f"  linux status {ls}, wine status {ws}; stdout equal {lo == wo}, file equal {lw == ww}")
            for i, (a, b) in enumerate(zip(lo.splitlines(), wo.splitlines())):
                if a != b:
                    print(f"  first difference in line {i + 1}:\n    linux {a[:160]!r}\n    wine  {b[:160]!r}")
                    break
            print("  wine stderr: " + we.decode(errors="replace")[:400])
        if name.startswith("decode --hex") and (ls != 0 or b"68 " not in lo):
            print("FAIL the sample capture gave no log lines")
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
