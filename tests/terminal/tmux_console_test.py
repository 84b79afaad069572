#!/usr/bin/env python3
"""The console on a real terminal: kiv runs in a tmux pane (80x24), keys go
in by send-keys, the screen and cursor are read back by capture-pane and
polled to a deadline.

Each case runs its own tmux server (-L, no configuration), with HOME a fresh
directory, and kills only that server. The pane runs kiv through a small
shell line that records `stty -g` before and after and kiv's exit status, so
every case can check that the terminal's mode came back.

Usage: tmux_console_test.py KIV CASE   (or --list for the case names)."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

DEADLINE = 5.0
KIV = None


class Pane:
    def __init__(self, name, command, width=80, height=24, env=None, home=None):
        self.server = f"kivt-{os.getpid()}-{name}"
        self.own_home = home is None
        self.home = home or tempfile.mkdtemp(prefix="kiv-tmux-")
        self.dir = tempfile.mkdtemp(prefix="kiv-tmux-run-")
        self.width = width
        env_text = " ".join(f"{k}={shq(v)}" for k, v in (env or {}).items())
        script = (
            # The shell outlives a Ctrl-C that reaches its whole process group; a
            # trap (not an ignore) leaves kiv the default disposition.
            f"trap : INT QUIT; stty -g > {self.dir}/before; "
            f"HOME={shq(self.home)} {env_text} {command}; "
            f"s=$?; stty -g > {self.dir}/after; echo $s > {self.dir}/status.new; "
            f"mv {self.dir}/status.new {self.dir}/status; exec sleep 300"
        )
        self.tmux("new-session", "-d", "-x", str(width), "-y", str(height), "sh", "-c", script)

    def tmux(self, *args, check=True):
        return subprocess.run(["tmux", "-L", self.server, "-f", "/dev/null", *args], check=check,
                              capture_output=True, text=True).stdout

    def keys(self, *keys):
        self.tmux("send-keys", *keys)

    def text(self, text):
        self.tmux("send-keys", "-l", text)

    def hex(self, data):
        self.tmux("send-keys", "-H", *(f"{b:02x}" for b in data))

    def screen(self):
        return self.tmux("capture-pane", "-p").rstrip("\n").split("\n")

    def cursor(self):
        x, y = self.tmux("display", "-p", "#{cursor_x} #{cursor_y}").split()
        return int(x), int(y)

    def pid(self):
        return int(self.tmux("display", "-p", "#{pane_pid}"))

    def wait(self, what, predicate):
        end = time.monotonic() + DEADLINE
        while True:
            if predicate():
                return
            if time.monotonic() > end:
                raise AssertionError(f"waited for {what}; the screen:\n" + "\n".join(self.screen()))
            time.sleep(0.02)

    def wait_text(self, text):
        self.wait(repr(text), lambda: any(text in row for row in self.screen()))

    def wait_row(self, text):
        self.wait(repr(text), lambda: any(row.rstrip() == text for row in self.screen()))

    def wait_cursor(self, x, y=None):
        self.wait(f"the cursor at {x},{y}", lambda: self.cursor()[0] == x and (y is None or self.cursor()[1] == y))

    def wait_prompt(self, count=1):
        self.wait(f"prompt {count}", lambda: sum(row.startswith(">>") for row in self.screen()) >= count)

    def ended(self):
        self.wait("kiv's end", lambda: os.path.exists(f"{self.dir}/status"))
        with open(f"{self.dir}/status") as f:
            status = int(f.read())
        with open(f"{self.dir}/before") as f:
            before = f.read()
        with open(f"{self.dir}/after") as f:
            after = f.read()
        assert before == after, f"stty -g changed:\n{before}{after}"
        return status

    def close(self):
        self.tmux("kill-server", check=False)
        if self.own_home:
            shutil.rmtree(self.home, ignore_errors=True)
        shutil.rmtree(self.dir, ignore_errors=True)


def shq(s):
    return "'" + str(s).replace("'", "'\\''") + "'"


def script(pane_dir, text):
    path = os.path.join(pane_dir, "t.kiv")
    with open(path, "w", encoding="utf-8") as f:
        f.write("Kiv []\n" + text + "\n")
    return path


CASES = {}


def case(fn):
    CASES[fn.__name__] = fn
    return fn


def console(name, **kw):
    p = Pane(name, shq(KIV), **kw)
    p.wait_prompt()
    return p


def with_script(name, text, **kw):
    d = tempfile.mkdtemp(prefix="kiv-tmux-script-")
    return Pane(name, f"{shq(KIV)} {shq(script(d, text))}", **kw)


@case
def editing_keys(p=None):
    p = with_script("keys", 'print mold ask ">> "')
    try:
        p.wait_prompt()
        p.text("abc")
        p.keys("Left", "Left", "X", "Home", "Y", "End", "Z", "BSpace", "C-a", "Right", "Delete")
        p.wait_cursor(4)
        p.keys("C-e", "Q", "C-b", "C-b", "C-k")
        p.wait_row(">> YXb")
        p.keys("Enter")
        p.wait_row('"YXb"')
        assert p.ended() == 0
    finally:
        p.close()


@case
def quit_by_q(p=None):
    p = console("q")
    try:
        p.text("1 + 2")
        p.keys("Enter")
        p.wait_text("== 3")
        p.text("q")
        p.keys("Enter")
        assert p.ended() == 0
        assert os.path.exists(os.path.join(p.home, ".kiv/Kiv-Console/console-cfg.kiv"))
    finally:
        p.close()


@case
def quit_by_ctrl_c_at_the_prompt(p=None):
    p = console("cc")
    try:
        p.text("with text")
        p.keys("C-c")
        assert p.ended() == 0
    finally:
        p.close()


@case
def quit_by_ctrl_d_on_an_empty_line(p=None):
    p = console("cd")
    try:
        p.text("x")
        p.keys("C-d")
        time.sleep(0.1)
        assert not os.path.exists(f"{p.dir}/status"), "Ctrl-D on a line with text does not quit"
        p.keys("BSpace", "C-d")
        assert p.ended() == 0
    finally:
        p.close()


@case
def ctrl_c_while_code_runs(p=None):
    p = console("forever")
    try:
        p.text("forever []")
        p.keys("Enter")
        time.sleep(0.2)
        p.keys("C-c")
        assert p.ended() == 0
    finally:
        p.close()


@case
def kill_term_at_the_prompt(p=None):
    p = console("term")
    try:
        p.text("abc")
        p.wait_cursor(6)
        before = p.screen()
        kiv = int(subprocess.run(["pgrep", "-P", str(p.pid()), "-x", "kiv"], capture_output=True,
                                 text=True).stdout.split()[0])
        os.kill(kiv, 15)
        assert p.ended() == 143
        # The shell says "Terminated" of a child a signal ended; kiv says nothing.
        after = [row.replace("Terminated", "").rstrip() for row in p.screen()]
        after = after[:len(after) - 1] if after and not after[-1] else after
        before = [row.rstrip() for row in before]
        assert after == before, "nothing printed:\n" + "\n".join(after)
    finally:
        p.close()


@case
def kill_segv_at_the_prompt(p=None):
    p = console("segv")
    try:
        kiv = int(subprocess.run(["pgrep", "-P", str(p.pid()), "-x", "kiv"], capture_output=True,
                                 text=True).stdout.split()[0])
        os.kill(kiv, 11)
        assert p.ended() == 1
        p.wait_text("*** Runtime Error 1: access violation")
    finally:
        p.close()


@case
def history_across_runs(p=None):
    home = tempfile.mkdtemp(prefix="kiv-tmux-home-")
    try:
        for run in range(2):
            p = Pane(f"hist{run}", shq(KIV), home=home)
            try:
                p.wait_prompt()
                if run == 0:
                    p.text("1 + 41")
                    p.keys("Enter")
                    p.wait_text("== 42")
                    p.keys("C-d")
                    assert p.ended() == 0
                else:
                    p.keys("Up")
                    p.wait_text(">> 1 + 41")
                    p.keys("Enter")
                    p.wait_text("== 42")
                    p.keys("C-c")
                    assert p.ended() == 0
            finally:
                p.close()
    finally:
        shutil.rmtree(home, ignore_errors=True)


@case
def tab_completion(p=None):
    p = console("tab")
    try:
        p.text("x: pri")
        p.keys("Tab")
        p.wait_text("print")
        p.wait_text(">> x: prin")
        p.text("t 7")
        p.keys("Enter")
        p.wait_row("7")
        p.text("append/on")
        p.keys("Tab")
        p.wait_text(">> append/only")
        p.keys("C-c")
        assert p.ended() == 0
    finally:
        p.close()


@case
def wide_and_combining_characters(p=None):
    p = with_script("wide", 'print mold ask ">> "')
    try:
        p.wait_prompt()
        p.text("\u4e2d\u6587\U0001F600e\u0301x")
        p.wait_cursor(3 + 4 + 2 + 1 + 1)
        p.keys("Left", "Left", "Left")
        p.wait_cursor(3 + 4 + 2)
        p.keys("Enter")
        p.wait_text('"\u4e2d\u6587\U0001F600e\u0301x"')
        assert p.ended() == 0
    finally:
        p.close()


@case
def a_line_as_wide_as_the_terminal(p=None):
    p = with_script("wide80", 'print length? ask ">> "')
    try:
        p.wait_prompt()
        _, y = p.cursor()
        p.text("a" * 77)
        p.wait_cursor(0, y + 1)
        p.keys("Left")
        p.wait_cursor(79, y)
        p.keys("End", "b")
        p.wait_cursor(1, y + 1)
        p.keys("Enter")
        p.wait_text("78")
        assert p.ended() == 0
    finally:
        p.close()


@case
def resize_window(p=None):
    p = with_script("resize", 'ask ">> " print system/console/size s: ask ">> " print length? s')
    try:
        p.wait_prompt()
        p.tmux("resize-window", "-x", "40", "-y", "20")
        p.keys("Enter")
        p.wait_text("40x20")
        _, y = p.cursor()
        p.text("c" * 40)
        p.wait_cursor(3, y + 1)
        p.keys("Enter")
        p.wait_text("40")
        assert p.ended() == 0
    finally:
        p.close()


@case
def hidden_input(p=None):
    p = with_script("hide", 'print ["got" ask/hide "pw: "] print mold system/console/history')
    try:
        p.wait_text("pw:")
        p.text("s3cret")
        p.wait_text("pw: ******")
        p.keys("Enter")
        p.wait_text("got s3cret")
        p.wait_text("[]")
        assert p.ended() == 0
    finally:
        p.close()


@case
def stdout_a_pipe(p=None):
    p = Pane("pipe", f"{shq(KIV)} | cat -v")
    try:
        p.wait_text("Type HELP")
        p.text("1 + 2")
        p.keys("Enter")
        p.wait_text("== 3")
        p.keys("C-d")
        assert p.ended() == 0
        assert not any("^[" in row for row in p.screen()), "no escape sequence reaches the pipe"
        assert not any(row.startswith(">>") for row in p.screen()), "no prompt"
    finally:
        p.close()


@case
def screen_report_prints_nothing(p=None):
    p = with_script("report", 'print "a^[[?b" print "end"')
    try:
        p.wait_text("end")
        assert p.ended() == 0
        assert p.screen()[0] == "ab"
    finally:
        p.close()


# help and what at the width of the pane: 60 columns, so what's lines are cut
# to 59 with "..."; the function display is never cut.
@case
def help_and_what_in_a_narrow_pane(p=None):
    p = console("help", width=60, height=40)
    try:
        p.text("? append")
        p.keys("Enter")
        p.wait_prompt(2)
        rows = [row.rstrip() for row in p.screen()]
        start = rows.index(">> ? append") + 1
        assert rows[start:start + 20] == [
            "USAGE:",
            "     APPEND series value",
            "",
            "DESCRIPTION:",
            "     APPEND is an action! value.",
            "",
            "ARGUMENTS:",
            "     series       [series! bitset! port!]",
            "     value        [any-type!]",
            "",
            "REFINEMENTS:",
            "     /part        =>",
            "        length       [number! series!]",
            "     /only        =>",
            "     /dup         =>",
            "        count        [integer!]",
            "",
            "RETURNS:",
            "     [series! port! bitset!]",
            "",
        ], "\n".join(rows)
        p.text("what")
        p.keys("Enter")
        p.wait("the prompt after the listing",
               lambda: any(row.startswith("     zero?") for row in p.screen()) and p.screen()[-1].startswith(">>"))
        # the whole listing, scrolled off the screen included
        rows = p.tmux("capture-pane", "-p", "-S", "-").rstrip("\n").split("\n")
        listing = rows[rows.index(">> what") + 1:]
        listing = listing[:next(i for i, row in enumerate(listing) if row.startswith(">>"))]
        assert len(listing) > 100, "\n".join(listing)
        lines = [row for row in listing if row]
        assert all(len(row) <= 59 for row in lines), [row for row in lines if len(row) > 59]
        assert "     a-an            function!     Returns the appropria..." in lines
        assert sum(len(row) == 59 and row.endswith("...") for row in lines) > 50
    finally:
        p.close()


def main(cases=CASES):
    """Lists [cases], or runs those the command line names (all by default)."""
    global KIV
    if sys.argv[1:] == ["--list"]:
        print(" ".join(cases))
        return 0
    KIV = os.path.abspath(sys.argv[1])
    names = sys.argv[2:] or list(cases)
    failed = 0
    for name in names:
        try:
            cases[name]()
            print(f"ok {name}")
        except AssertionError as e:
            failed += 1
            print(f"FAILED {name}: {e}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
