#!/usr/bin/env python3
"""load-csv and to-csv against python3's csv module (its default dialect,
whose CR LF line ends quote a field holding CR).

  csv_oracle.py KIV WORKDIR

Seeded rectangular tables of fields with delimiters, quotes, blanks, CR, LF,
CR LF, non-ASCII text and empty fields, plain and with /with #";" and
/quote #"'": load-csv of csv.writer's text gives its rows, and csv.reader
reads to-csv's text back to them. Kiv hands its rows over as JSON, python
hands its rows to kiv as JSON. Prints what differs; exits 1 when anything does.
"""
import csv
import io
import json
import os
import random
import subprocess
import sys

KIV, WORK = sys.argv[1], sys.argv[2]
rng = random.Random(116)
failures = []

PIECES = ['a', 'B', '1', ' ', '  ', ',', ';', '"', "'", '\r', '\n', '\r\n', 'é', '中', '\U0001F600', 'x y', '']


def field():
    return ''.join(rng.choice(PIECES) for _ in range(rng.randint(0, 5)))


def table():
    width = rng.randint(1, 5)
    return [[field() for _ in range(width)] for _ in range(rng.randint(1, 6))]


DIALECTS = [
    ("", {}),
    (' /with #";"', {"delimiter": ";"}),
    (' /quote #"\'"', {"quotechar": "'"}),
]


cases = []
for i in range(240):
    kiv_args, options = DIALECTS[i % len(DIALECTS)]
    rows = table()
    buffer = io.StringIO()
    csv.writer(buffer, **options).writerows(rows)
    cases.append((kiv_args, options, rows, buffer.getvalue()))

script = ["Kiv []"]
for i, (kiv_args, options, rows, text) in enumerate(cases):
    with open(os.path.join(WORK, "in-%d.csv" % i), "w", encoding="utf-8", newline="") as f:
        f.write(text)
    with open(os.path.join(WORK, "rows-%d.json" % i), "w", encoding="utf-8") as f:
        json.dump(rows, f)
    refs = kiv_args.replace(' /with #";"', '/with').replace(' /quote #"\'"', '/quote')
    arg = {'': '', '/with': ' #";"', '/quote': ' #"\'"'}[refs]
    script.append('write %%read-%d.json to-json load-csv%s to string! read/binary %%in-%d.csv%s' % (i, refs, i, arg))
    script.append('write %%out-%d.csv to-csv%s load-json read %%rows-%d.json%s' % (i, refs, i, arg))
with open(os.path.join(WORK, "run.kiv"), "w", encoding="utf-8") as f:
    f.write("\n".join(script) + "\n")
r = subprocess.run([KIV, "run.kiv"], cwd=WORK, capture_output=True, timeout=600)
if r.returncode != 0:
    failures.append("kiv ended with %d: %s" % (r.returncode, r.stderr.decode(errors="replace")[:2000]))

for i, (kiv_args, options, rows, text) in enumerate(cases):
    try:
        with open(os.path.join(WORK, "read-%d.json" % i), encoding="utf-8") as f:
            read = json.load(f)
    except (OSError, ValueError) as e:
        failures.append("case %d: no rows read (%s)" % (i, e))
        continue
    if read != rows:
        failures.append("case %d%s: load-csv of %r gave %r, not %r" % (i, kiv_args, text, read, rows))
    try:
        with open(os.path.join(WORK, "out-%d.csv" % i), encoding="utf-8", newline="") as f:
            back = list(csv.reader(f, **options))
    except OSError as e:
        failures.append("case %d: no CSV written (%s)" % (i, e))
        continue
    if back != rows:
        with open(os.path.join(WORK, "out-%d.csv" % i), encoding="utf-8", newline="") as f:
            written = f.read()
        failures.append("case %d%s: csv.reader of to-csv's %r gave %r, not %r" % (i, kiv_args, written, back, rows))

for f in failures[:40]:
    print(f)
print("%d tables, %d failures" % (len(cases), len(failures)))
sys.exit(1 if failures else 0)
