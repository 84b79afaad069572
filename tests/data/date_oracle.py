#!/usr/bin/env python3
"""to-local-date and to-UTC-date against python3's zoneinfo (Debian's tzdata).

  date_oracle.py KIV WORKDIR

Under TZ=Europe/Berlin and TZ=Asia/Kolkata, for UTC instants on both sides
of summer-time changes and at random from 1950 to 2037: to-local-date gives
the offset zoneinfo has in force at that instant, with the local clock time
of the same instant, and to-UTC-date takes it back to zone 0 and the same
UTC clock time. Prints what differs; exits 1 when anything does.
"""
import datetime
import os
import random
import subprocess
import sys
from zoneinfo import ZoneInfo

KIV, WORK = sys.argv[1], sys.argv[2]
rng = random.Random(124)
failures = []
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
utc = datetime.timezone.utc

instants = []
for year in (1980, 1996, 2021, 2026, 2037):
    # around the last Sundays of March and October, at 01:00 UTC
    for month in (3, 10):
        last = max(d for d in range(25, 32) if datetime.date(year, month, d).weekday() == 6)
        base = datetime.datetime(year, month, last, 1, 0, tzinfo=utc)
        instants += [base - datetime.timedelta(minutes=1), base, base + datetime.timedelta(minutes=1)]
start = datetime.datetime(1950, 1, 1, tzinfo=utc).timestamp()
end = datetime.datetime(2037, 12, 31, tzinfo=utc).timestamp()
instants += [datetime.datetime.fromtimestamp(rng.uniform(start, end) // 60 * 60, utc) for _ in range(200)]


def kiv_date(t):
    return "%d-%s-%d/%d:%02d:%02d" % (t.day, MONTHS[t.month - 1], t.year, t.hour, t.minute, t.second)


def fields(t):
    """What kiv prints: zone in minutes, then the local year to second."""
    offset = int(t.utcoffset().total_seconds()) // 60
    return [offset, t.year, t.month, t.day, t.hour, t.minute, t.second]


with open(os.path.join(WORK, "run.kiv"), "w") as f:
    f.write("Kiv []\nshow: func [d][print [to integer! d/zone / 0:01 d/year d/month d/day d/hour d/minute to integer! d/second]]\n")
    for t in instants:
        f.write("d: to-local-date %s show d show to-UTC-date d\n" % kiv_date(t))

for zone in ("Europe/Berlin", "Asia/Kolkata"):
    env = dict(os.environ, TZ=zone)
    r = subprocess.run([KIV, "run.kiv"], cwd=WORK, capture_output=True, env=env, timeout=300)
    if r.returncode != 0:
        failures.append("%s: kiv ended with %d: %s" % (zone, r.returncode, r.stderr.decode(errors="replace")[:500]))
        continue
    lines = r.stdout.decode().split("\n")
    for i, t in enumerate(instants):
        local = fields(t.astimezone(ZoneInfo(zone)))
        back = fields(t)
        got_local = [int(x) for x in lines[2 * i].split()] if 2 * i < len(lines) else None
        got_back = [int(x) for x in lines[2 * i + 1].split()] if 2 * i + 1 < len(lines) else None
        if got_local != local:
            failures.append("%s %s: to-local-date %r, zoneinfo %r" % (zone, t, got_local, local))
        if got_back != back:
            failures.append("%s %s: to-UTC-date %r, not %r" % (zone, t, got_back, back))

for f in failures[:40]:
    print(f)
print("%d instants, %d failures" % (len(instants), len(failures)))
sys.exit(1 if failures else 0)
