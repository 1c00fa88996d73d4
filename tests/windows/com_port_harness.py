#!/usr/bin/env python3
"""Maps wine's COM1 to a fresh Linux pseudo-terminal through the registry key
HKLM\\Software\\Wine\\Ports, checks the mapping, and runs a Windows program
under wine while the other end echoes every byte.

Never through a dosdevices link: wine rewrites it to the machine's real
/dev/ttyS0. Nothing runs unless wine's COM1 provably leads to our pty.

    com_port_harness.py PROGRAM.exe [ARGS...]
"""

import os
import subprocess
import sys
import tempfile
import threading
import tty

PORT = "COM1"
KEY = r"HKLM\Software\Wine\Ports"


# Output goes to a file, never a pipe: wine's background processes keep
# any pipe they inherit open, and whoever reads it waits for ever.
def wine(*args, check=True):
    with tempfile.TemporaryFile() as out:
        done = subprocess.run(["wine", *args], stdin=subprocess.DEVNULL, stdout=out,
                              stderr=subprocess.DEVNULL, check=check, timeout=120)
        out.seek(0)
        return out.read().decode(errors="replace"), done.returncode


def restart_wineserver():
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-k"], check=False, **quiet)
    subprocess.run(["wineserver", "-w"], check=False, **quiet)
    subprocess.run(["wineserver", "-p", "60"], check=True, **quiet)
    wine("cmd", "/c", "exit", check=False)


def mapped_to(pty_path):
    """True only when both the registry and wine's device link name the pty."""
    query, _ = wine("reg", "query", KEY, "/v", PORT, check=False)
    if pty_path not in query:
        return False, "registry: " + query.strip()
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    link = os.path.join(prefix, "dosdevices", PORT.lower())
    if os.path.islink(link) and os.readlink(link) != pty_path:
        return False, f"{link} -> {os.readlink(link)}"
    # The missing port of the tests must not lead anywhere either.
    spare = os.path.join(prefix, "dosdevices", "com49")
    if os.path.lexists(spare):
        return False, f"{spare} exists"
    return True, ""


def echo(master, stop):
    while not stop.is_set():
        try:
            data = os.read(master, 4096)
        except OSError:
            return
        if data:
            os.write(master, data)


def main():
    master, slave = os.openpty()
    tty.setraw(slave)
    pty_path = os.ttyname(slave)
    wine("reg", "add", KEY, "/v", PORT, "/t", "REG_SZ", "/d", pty_path, "/f")
    restart_wineserver()
    ok, why = mapped_to(pty_path)
    if not ok:
        print(f"com_port_harness: {PORT} is not mapped to {pty_path} ({why}); nothing sent", file=sys.stderr)
        return 1
    stop = threading.Event()
    thread = threading.Thread(target=echo, args=(master, stop), daemon=True)
    thread.start()
    env = dict(os.environ, VELRPT_TEST_COM=PORT)
    try:
        status = subprocess.run(["wine", *sys.argv[1:]], env=env, stdin=subprocess.DEVNULL,
                                timeout=240).returncode
    finally:
        stop.set()
        wine("reg", "delete", KEY, "/v", PORT, "/f", check=False)
        os.close(slave)
        os.close(master)
    return status


if __name__ == "__main__":
    sys.exit(main())
