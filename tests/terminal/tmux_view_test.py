#!/usr/bin/env python3
"""Views on a real terminal: a script shows faces with `view` in a tmux pane
(100x30), keys go in by send-keys and mouse reports (SGR, as the terminal
sends them once the view turned mouse reporting on) by send-keys -H; the
screen is read back by capture-pane and polled to a deadline.

Each case runs its own tmux server and kills only that server; the pane
records `stty -g` before and after kiv and its exit status (the console's
Pane), so every case checks that the terminal's mode came back.

Usage: tmux_view_test.py KIV CASE   (or --list for the case names)."""
import os
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tmux_console_test as console  # noqa: E402
from tmux_console_test import Pane, shq  # noqa: E402

WIDTH, HEIGHT = 100, 30
CASES = {}


def case(fn):
    CASES[fn.__name__] = fn
    return fn


def run(name, text, before="", **kw):
    """A pane running [text] as a script; [before] is a shell command whose
    output is piped into kiv (none: the terminal is its input)."""
    d = tempfile.mkdtemp(prefix="kiv-tmux-view-")
    path = console.script(d, text)
    command = f"{shq(console.KIV)} {shq(path)}"
    if before:
        command = f"{before} | {command}"
    return Pane(name, command, width=WIDTH, height=HEIGHT, **kw)


def find(p, text):
    """The 0-based column and row of [text] on the screen."""
    for y, row in enumerate(p.screen()):
        x = row.find(text)
        if x >= 0:
            return x, y
    raise AssertionError(f"{text!r} not on the screen:\n" + "\n".join(p.screen()))


def click(p, x, y, button=0):
    """A press and a release at the 0-based cell x, y."""
    p.hex(f"\x1b[<{button};{x + 1};{y + 1}M".encode())
    p.hex(f"\x1b[<{button};{x + 1};{y + 1}m".encode())


def ended_with(p, status=0):
    got = p.ended()
    assert got == status, f"exit status {got}; the screen:\n" + "\n".join(p.screen())


def mouse_ready(p):
    """Mouse reports are read once the view turned them on; a short pause
    after the first frame lets the mode reach the terminal."""
    time.sleep(0.2)


@case
def field_then_button(p=None):
    p = run("fb", 'view [f: field button "OK" [print f/text unview]]')
    try:
        p.wait_text("OK")
        p.text("hello")
        p.wait_text("hello")
        p.keys("Tab", "Enter")
        p.wait_row("hello")
        ended_with(p)
    finally:
        p.close()


@case
def glyphs(p=None):
    p = run("gl", 'view [check "yes" radio "one" field "中文" button "B" progress 10 data 50%]')
    try:
        p.wait_text("yes")
        screen = "\n".join(p.screen())
        for text in ("one", "中文", "B"):
            assert text in screen, screen
        p.keys("Escape")
        ended_with(p)
    finally:
        p.close()


@case
def eleventh_character_refused(p=None):
    p = run("ten", 'view [f: field button "OK" [print mold f/text unview]]')
    try:
        p.wait_text("OK")
        p.text("abcdefghijk")
        p.wait_text("abcdefghij")
        p.keys("Tab", "Enter")
        p.wait_row('"abcdefghij"')
        ended_with(p)
    finally:
        p.close()


@case
def tab_wraps_around(p=None):
    p = run("tab", 'view [a: field b: field c: field button "Go" [print [a/text b/text c/text] unview]]')
    try:
        p.wait_text("Go")
        p.text("1")
        p.keys("Tab")
        p.text("2")
        p.keys("Tab")
        p.text("3")
        p.keys("Tab", "Tab")  # the button, then round to the first field
        p.text("4")
        p.wait_text("14")
        p.keys("Tab", "Tab", "Tab", "BTab")  # on to the button, back to the third field
        p.text("5")
        p.wait_text("35")
        p.keys("Tab", "Enter")
        p.wait_row("14 2 35")
        ended_with(p)
    finally:
        p.close()


@case
def list_selection(p=None):
    p = run("list", 'view [t: text-list data ["ant" "bee" "cat"] on-change [print ["picked" pick face/data face/selected]]]')
    try:
        p.wait_text("bee")
        mouse_ready(p)
        x, y = find(p, "bee")
        click(p, x, y)
        p.wait_text("picked bee")
        p.keys("Down")
        p.wait_text("picked cat")
        p.keys("Escape")
        ended_with(p)
    finally:
        p.close()


@case
def double_click(p=None):
    p = run("dbl", 'n: 0 view [base 12x3 "Target" on-click [n: n + 1] on-dbl-click [print ["double after" n] unview]]')
    try:
        p.wait_text("Target")
        mouse_ready(p)
        x, y = find(p, "Target")
        click(p, x, y)
        click(p, x, y)
        p.wait_row("double after 2")
        ended_with(p)
    finally:
        p.close()


@case
def escape_closes(p=None):
    p = run("esc", 'view [button "Stay"] print "after"')
    try:
        p.wait_text("Stay")
        p.keys("Escape")
        p.wait_row("after")
        ended_with(p)
    finally:
        p.close()


@case
def resize_reaches_windows(p=None):
    p = run("rs", 'view/options [text "R"] [actors: object [on-resize: func [f e][print ["size" e/offset] unview]]]')
    try:
        p.wait_text("R")
        p.tmux("resize-window", "-x", "90", "-y", "25")
        p.wait_text("size 90x25")
        ended_with(p)
    finally:
        p.close()


@case
def inline_below_the_text(p=None):
    p = run("inl", 'print "line above" view [button "Here"]')
    try:
        p.wait_text("Here")
        _, above = find(p, "line above")
        _, here = find(p, "Here")
        assert here > above, "\n".join(p.screen())
        p.keys("Escape")
        ended_with(p)
        assert any(row.startswith("line above") for row in p.screen())
    finally:
        p.close()


@case
def fullscreen_on_the_alternate_screen(p=None):
    p = run("full", 'print "line above" view/flags [button "Full"] [fullscreen] print "back"')
    try:
        p.wait_text("Full")
        screen = "\n".join(p.screen())
        assert "line above" not in screen, screen
        p.keys("Escape")
        p.wait_row("back")
        screen = "\n".join(p.screen())
        assert "line above" in screen and "Full" not in screen, screen
        ended_with(p)
    finally:
        p.close()


@case
def print_during_a_view(p=None):
    p = run("pr", 'view [button "Say" [print "said"] button "End" [unview]]')
    try:
        p.wait_text("Say")
        p.keys("Enter")
        p.wait_row("said")
        p.wait("the view drawn below the printed line",
               lambda: find(p, "Say")[1] > find(p, "said")[1] and sum("Say" in r for r in p.screen()) == 1)
        assert sum(row.strip() == "said" for row in p.screen()) == 1, "Enter clicked once"
        p.keys("Tab", "Enter")
        ended_with(p)
    finally:
        p.close()


@case
def piped_stdin_is_left_alone(p=None):
    text = 'n: 0 view [base "tick" rate 20 on-time [n: n + 1 if n = 3 [unview]]] print ["ticks" n] print ["read" mold input]'
    p = run("pipe", text, before="echo piped-line")
    try:
        p.wait_row("read \"piped-line\"")
        assert any(row.strip() == "ticks 3" for row in p.screen()), "\n".join(p.screen())
        ended_with(p)
    finally:
        p.close()


@case
def data_after_unview(p=None):
    p = run("data", 'view [c: check "Tick me" f: field] print ["check" c/data "field" mold f/text]')
    try:
        p.wait_text("Tick me")
        mouse_ready(p)
        x, y = find(p, "Tick me")
        click(p, x, y)
        p.keys("Tab")
        p.text("typed")
        p.wait_text("typed")
        p.keys("Escape")
        p.wait_row('check true field "typed"')
        ended_with(p)
    finally:
        p.close()


@case
def nested_view_from_an_actor(p=None):
    p = run("nest", 'view [button "Outer" [view [button "Inner" [unview]] print "inner done"] button "Quit" [unview]]')
    try:
        p.wait_text("Outer")
        p.keys("Enter")
        p.wait_text("Inner")
        p.keys("Enter")
        p.wait_row("inner done")
        p.wait_text("Outer")
        p.keys("Tab", "Enter")
        ended_with(p)
    finally:
        p.close()


@case
def wait_runs_frames(p=None):
    text = ('view [t: text "0" rate 20 on-time [t/text: form 1 + to integer! t/text] '
            'button "W" [a: t/text wait 0.5 print ["ticked meanwhile" a <> t/text] unview]]')
    p = run("wait", text)
    try:
        p.wait_text("W")
        p.keys("Tab", " ")
        p.wait_row("ticked meanwhile true")
        ended_with(p)
    finally:
        p.close()


@case
def help_of_an_image(p=None):
    p = run("img", 'img: make image! 6x4 img/1: 255.0.0 help img print "closed"')
    try:
        p.wait_text("\u2584\u2584\u2584\u2584\u2584\u2584")
        colours = p.tmux("capture-pane", "-p", "-e")
        assert "\x1b[" in colours, colours
        p.keys("Escape")
        p.wait_row("closed")
        ended_with(p)
    finally:
        p.close()


@case
def quit_from_an_actor(p=None):
    p = run("quit", 'view/flags [button "Q" [quit/return 3]] [fullscreen]')
    try:
        p.wait_text("Q")
        p.keys(" ")
        ended_with(p, 3)
        assert p.tmux("display", "-p", "#{alternate_on}#{mouse_any_flag}#{mouse_sgr_flag}").strip() == "000"
    finally:
        p.close()


@case
def interrupted_by_sigterm(p=None):
    p = run("term", 'view/flags [button "Wait"] [fullscreen]')
    try:
        p.wait_text("Wait")
        p.wait("mouse reporting on", lambda: p.tmux("display", "-p", "#{mouse_any_flag}").strip() == "1")
        shell = p.pid()
        children = subprocess.run(["ps", "-o", "pid=", "--ppid", str(shell)], capture_output=True,
                                  text=True).stdout.split()
        for child in children:
            os.kill(int(child), signal.SIGTERM)
        status = p.ended()
        assert status == 128 + 15, status
        assert p.tmux("display", "-p", "#{alternate_on}#{mouse_any_flag}#{mouse_sgr_flag}").strip() == "000"
    finally:
        p.close()


if __name__ == "__main__":
    sys.exit(console.main(CASES))
