"""Drives kiv's debugger through a pseudo-terminal: types a command at each
"debug> " prompt and prints the text the terminal showed, escape sequences
and carriage returns taken out."""
import os
import pty
import re
import select
import sys
import time

COMMANDS = ["", "n", "?", ":x", ":o/a", "w x", "-w x", "+s", "-l", "+i", "frobnicate", "[", "s", "p", "c", "q"]


def main():
    kiv, script = sys.argv[1], sys.argv[2]
    pid, fd = pty.fork()
    if pid == 0:
        os.environ["TERM"] = "dumb"
        os.execv(kiv, [kiv, script])
    seen = b""
    commands = list(COMMANDS)
    deadline = time.time() + 30
    while time.time() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.2)
        if ready:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
            if seen.count(b"debug> ") > len(COMMANDS) - len(commands):
                if not commands:
                    break
                os.write(fd, commands.pop(0).encode() + b"\r")
    os.waitpid(pid, 0)
    text = seen.decode("utf-8", "replace")
    text = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", text)
    text = re.sub(r"\x1b\][^\x07]*\x07", "", text)
    text = text.replace("\r\n", "\n").replace("\r", "")
    sys.stdout.write(text)


main()
