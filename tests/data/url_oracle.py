#!/usr/bin/env python3
"""decode-url against urllib.parse.urlsplit and unquote.

  url_oracle.py KIV WORKDIR

URLs generated from the grammar decode-url follows (scheme, optional user
info, host, port of 1 to 5 digits, path segments, query, fragment, with
percent escapes of UTF-8 text): each component kiv gives equals what
urlsplit finds there, unquoted; the path is kiv's path followed by its
target. Prints what differs; exits 1 when anything does.
"""
import json
import os
import random
import subprocess
import sys
from urllib.parse import quote, unquote, urlsplit

KIV, WORK = sys.argv[1], sys.argv[2]
rng = random.Random(114)
failures = []

ALPHA = "abcxyzABCXYZ"
UNRESERVED = ALPHA + "0189-._~"
SUB_DELIMS = "!$&'()*+,;="


def escaped():
    return quote(rng.choice(["é", " ", "中", "%", "/", "?", "#", "\U0001F600"]), safe="")


def run(chars, n, extra="", escapes=True):
    out = ""
    for _ in range(rng.randint(0, n)):
        out += escaped() if escapes and rng.random() < 0.15 else rng.choice(chars + extra)
    return out


def url():
    scheme = rng.choice(ALPHA) + run(ALPHA + "0189+-.", 5, escapes=False)
    text = scheme + ":"
    if rng.random() < 0.8:
        text += "//"
        if rng.random() < 0.3:
            text += run(UNRESERVED + SUB_DELIMS, 6, ":") + "@"
        text += run(UNRESERVED + SUB_DELIMS, 10)
        if rng.random() < 0.4:
            text += ":" + str(rng.randint(0, 99999))
        for _ in range(rng.randint(0, 4)):
            text += "/" + run(UNRESERVED + SUB_DELIMS, 6, ":@")
    elif rng.random() < 0.5:
        text += "/" + run(UNRESERVED + SUB_DELIMS, 6, "@")
        for _ in range(rng.randint(0, 3)):
            text += "/" + run(UNRESERVED + SUB_DELIMS, 6, ":@")
    else:
        text += rng.choice(UNRESERVED) + run(UNRESERVED + SUB_DELIMS, 8, ":@")
    if rng.random() < 0.4:
        text += "?" + run(UNRESERVED + SUB_DELIMS, 8, ":@/?")
    if rng.random() < 0.3:
        text += "#" + run(UNRESERVED + SUB_DELIMS, 8, ":@/?")
    return text


urls = [url() for _ in range(600)]
with open(os.path.join(WORK, "urls.json"), "w", encoding="utf-8") as f:
    json.dump(urls, f)
with open(os.path.join(WORK, "run.kiv"), "w", encoding="utf-8") as f:
    f.write("""Kiv []
out: collect [
    foreach u load-json read %urls.json [
        o: decode-url u
        keep/only either o [
            reduce [
                form o/scheme o/user-info o/host o/port
                either o/path [rejoin [form o/path any [o/target ""]]][none]
                o/query o/fragment
            ]
        ][none]
    ]
]
write %parts.json to-json out
""")
r = subprocess.run([KIV, "run.kiv"], cwd=WORK, capture_output=True, timeout=600)
if r.returncode != 0:
    failures.append("kiv ended with %d: %s" % (r.returncode, r.stderr.decode(errors="replace")[:2000]))
with open(os.path.join(WORK, "parts.json"), encoding="utf-8") as f:
    parts = json.load(f)

for u, got in zip(urls, parts):
    s = urlsplit(u)
    netloc = s.netloc if "//" in u else None
    user = host = port = None
    if netloc is not None:
        rest = netloc
        if "@" in rest:
            user, rest = rest.rsplit("@", 1)
            user = unquote(user)
        if ":" in rest:
            rest, port = rest.rsplit(":", 1)
            port = int(port)
        host = unquote(rest)
    # a path made of "./" alone stands for no directory in kiv's split
    path = unquote(s.path) or None
    want = [s.scheme, user, host, port, path, unquote(s.query) if "?" in u.split("#", 1)[0] else None,
            unquote(s.fragment) if "#" in u else None]
    if got is None:
        failures.append("%r: decode-url refused it" % u)
        continue
    got_path = got[4]
    if got_path is not None and path is not None and got_path.startswith("./") and not path.startswith("./"):
        got_path = got_path[2:]
    # split-path takes a last "." for a directory: its target is %./
    if got_path is not None and path is not None and path.endswith("/.") and got_path == path + "/":
        got_path = path
    got = [got[0].lower()] + got[1:4] + [got_path] + got[5:]
    if host == "" and got[2] is None:
        got[2] = ""
    if want != got:
        failures.append("%r: kiv %r, urlsplit %r" % (u, got, want))

for f in failures[:40]:
    print(f)
print("%d URLs, %d failures" % (len(urls), len(failures)))
sys.exit(1 if failures else 0)
