#!/usr/bin/env python3
"""The console on a pseudo-terminal (80x24), against /usr/bin/python3's own
console and lua5.4's, each in the same run with a fresh HOME:

- start-up to the prompt: kiv, `python3 -q`, `lua5.4`;
- keystroke to echo with a history of 100 and of 10,000 lines (kiv's
  settings file, python3's ~/.python_history): a key typed at the end of the
  line, a key typed in the middle of a 300-character line (the rest of the
  line redrawn), and Up (the previous entry drawn whole).

The driver answers the cursor position query (ESC [ 6n) as a terminal would.
Times are medians and 95th percentiles in milliseconds.

Usage: bench/console_bench.py [KIV] (default build/kiv)."""
import fcntl
import os
import pty
import select
import shutil
import statistics
import struct
import sys
import tempfile
import termios
import time

KIV = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/kiv")
PYTHON = "/usr/bin/python3"
LUA = shutil.which("lua5.4")
LETTERS = "abcdefghijklmnopqrstuvwxyz"


class Pty:
    def __init__(self, argv, home):
        env = {"HOME": home, "TERM": "xterm-256color", "PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"}
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execve(argv[0], argv, env)
        fcntl.ioctl(self.fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
        self.seen = b""

    def read_until(self, marker, timeout=10.0):
        """Reads until [marker] shows in what came since the last call."""
        end = time.perf_counter() + timeout
        got = b""
        while marker not in got:
            left = end - time.perf_counter()
            if left <= 0:
                raise TimeoutError(f"no {marker!r} in {got[-200:]!r}")
            r, _, _ = select.select([self.fd], [], [], left)
            if not r:
                continue
            try:
                chunk = os.read(self.fd, 65536)
            except OSError:
                raise TimeoutError(f"the program ended; last output {got[-200:]!r}")
            got += chunk
            if b"\x1b[6n" in chunk:
                os.write(self.fd, b"\x1b[1;1R")
        return got

    def drain(self, quiet=0.3):
        """Reads what comes until nothing has come for [quiet] seconds."""
        while True:
            r, _, _ = select.select([self.fd], [], [], quiet)
            if not r:
                return
            chunk = os.read(self.fd, 65536)
            if b"\x1b[6n" in chunk:
                os.write(self.fd, b"\x1b[1;1R")

    def send(self, data):
        os.write(self.fd, data)

    def timed(self, data, marker):
        start = time.perf_counter()
        self.send(data)
        self.read_until(marker)
        return (time.perf_counter() - start) * 1000

    def close(self):
        try:
            os.kill(self.pid, 9)
            os.waitpid(self.pid, 0)
        except OSError:
            pass
        os.close(self.fd)


def entries(n):
    """n history lines, oldest first; neighbours differ from their first letter on."""
    return [f"{LETTERS[i % 26]}{i:05d} + {LETTERS[(i * 7) % 26]}" for i in range(n)]


def fresh_home(history):
    home = tempfile.mkdtemp(prefix="kiv-bench-home-")
    cfg = os.path.join(home, ".kiv", "Kiv-Console")
    os.makedirs(cfg)
    with open(os.path.join(cfg, "console-cfg.kiv"), "w") as f:
        f.write('Kiv [Purpose: "Kiv Console Configuration File"]\nbuffer-lines: 10000\nhistory: [\n')
        for line in reversed(history):
            f.write(f'    "{line}"\n')
        f.write("]\n")
    with open(os.path.join(home, ".python_history"), "w") as f:
        f.write("".join(line + "\n" for line in history))
    return home


def summary(times):
    times = sorted(times)
    return statistics.median(times), times[min(len(times) - 1, int(len(times) * 0.95))]


def startup(argv, prompt, runs=20):
    times = []
    for _ in range(runs):
        home = fresh_home([])
        p = Pty(argv, home)
        start = time.perf_counter()
        try:
            p.read_until(prompt)
            times.append((time.perf_counter() - start) * 1000)
        finally:
            p.close()
            shutil.rmtree(home, ignore_errors=True)
    return summary(times)


def keystrokes(argv, prompt, history, keys=100):
    """Medians and 95th percentiles: a key at the end, mid-line, Up."""
    home = fresh_home(history)
    p = Pty(argv, home)
    try:
        p.read_until(prompt)
        at_end = [p.timed(b"k", b"k") for _ in range(keys)]
        p.send(b"\x15" if "python" in argv[0] else b"")  # python: Ctrl-U empties the line
        for _ in range(keys):
            p.send(b"\x7f")
        tail = b"ZQXJV"
        p.send(b"m" * 295 + tail)
        p.read_until(tail)
        for _ in range(150):
            p.send(b"\x1b[D")
        p.drain()
        mid = [p.timed(b"i", tail) for _ in range(keys)]
        p.send(b"\x1b[F")  # End
        for _ in range(300 + keys):
            p.send(b"\x7f")
        p.drain()
        up = []
        for k in range(min(keys, len(history))):
            up.append(p.timed(b"\x1b[A", history[-1 - k].encode()))
        return summary(at_end), summary(mid), summary(up)
    finally:
        p.close()
        shutil.rmtree(home, ignore_errors=True)


def row(name, kiv, other):
    ratio = kiv[0] / other[0] if other[0] else float("inf")
    print(f"  {name:<34} kiv {kiv[0]:7.2f} (p95 {kiv[1]:7.2f})   other {other[0]:7.2f} (p95 {other[1]:7.2f})"
          f"   ratio {ratio:5.2f}")


def main():
    kiv = [KIV]
    python = [PYTHON, "-q"]
    print("start-up to the prompt, ms (20 runs)")
    k = startup(kiv, b">> ")
    row("kiv vs python3 -q", k, startup(python, b">>> "))
    if LUA:
        row("kiv vs lua5.4", k, startup([LUA], b"> "))
    for n in (100, 10000):
        history = entries(n)
        print(f"keystroke to echo, ms, history of {n} lines (100 keys each)")
        kv = keystrokes(kiv, b">> ", history)
        py = keystrokes(python, b">>> ", history)
        for name, a, b in zip(("a key at the end", "a key mid-line (300 characters)", "Up"), kv, py):
            row(f"{name} vs python3", a, b)
    return 0


if __name__ == "__main__":
    sys.exit(main())
