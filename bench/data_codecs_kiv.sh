#!/usr/bin/env bash
# The JSON and CSV codecs (written in Kiv) against python3's json and csv
# modules on the same generated data: load-json of a 20 MB document against
# json.loads, to-json of its value against json.dumps, and load-csv of a
# 20 MB table against list(csv.reader(...)). Each pair runs as whole
# processes under farm-bench (A: kiv, B: python3; median seconds and the
# ratio A/B); the value to-json writes is read first from a KIVBIN file
# (python: a pickle), the text the others read from a file. Then each
# operation alone, timed inside its own process (least of three runs).
#   bench/data_codecs_kiv.sh path/to/kiv
set -euo pipefail
kiv=$(readlink -f "${1:?usage: data_codecs_kiv.sh path/to/kiv}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

/usr/bin/python3 - <<'PY'
import csv, json, pickle, random
r = random.Random(7)
records, size, i = [], 0, 0
while size < 20_000_000:
    rec = {"id": i, "name": "user %d" % i, "email": "u%d@example.com" % i, "score": r.random() * 1000,
           "active": r.random() < 0.5, "tags": ["t%d" % r.randint(0, 50) for _ in range(r.randint(0, 4))],
           "address": {"street": "%d Main St" % r.randint(1, 9999),
                       "city": r.choice(["Berlin", "Paris", "Zürich", "東京"]), "zip": None},
           "note": "line one\nline \"two\"" if i % 10 == 0 else ""}
    size += len(json.dumps(rec, ensure_ascii=False)) + 1
    records.append(rec)
    i += 1
with open("doc.json", "w", encoding="utf-8") as f:
    json.dump(records, f, ensure_ascii=False)
with open("doc.pickle", "wb") as f:
    pickle.dump(records, f)
size, i = 0, 0
with open("doc.csv", "w", encoding="utf-8", newline="") as f:
    w = csv.writer(f)
    while size < 20_000_000:
        row = [str(i), "user %d" % i, "u%d@example.com" % i, "%.4f" % (r.random() * 1000),
               r.choice(["Berlin", "Paris, FR", 'say "hi"', "Zürich", "東京"]), "" if i % 3 else "x"]
        w.writerow(row)
        size += sum(len(x) for x in row) + 8
        i += 1
PY
cat >prep.kiv <<'KIV'
Kiv []
save %doc.kivbin load-json read %doc.json
KIV
"$kiv" prep.kiv

cat >load-json.kiv <<'KIV'
Kiv []
t: now/precise  v: load-json read %doc.json
print ["load-json" to float! difference now/precise t length? v]
KIV
cat >to-json.kiv <<'KIV'
Kiv []
v: load %doc.kivbin
t: now/precise  j: to-json v
print ["to-json" to float! difference now/precise t length? j]
KIV
cat >load-csv.kiv <<'KIV'
Kiv []
t: now/precise  v: load-csv read %doc.csv
print ["load-csv" to float! difference now/precise t length? v]
KIV
cat >load-json.py <<'PY'
import json, time
t = time.perf_counter(); v = json.loads(open("doc.json", encoding="utf-8").read())
print("load-json", time.perf_counter() - t, len(v))
PY
cat >to-json.py <<'PY'
import json, pickle, time
v = pickle.load(open("doc.pickle", "rb"))
t = time.perf_counter(); j = json.dumps(v, ensure_ascii=False, separators=(",", ":"))
print("to-json", time.perf_counter() - t, len(j))
PY
cat >load-csv.py <<'PY'
import csv, time
t = time.perf_counter(); v = list(csv.reader(open("doc.csv", encoding="utf-8", newline="")))
print("load-csv", time.perf_counter() - t, len(v))
PY

ls -l doc.json doc.csv | awk '{print $9, $5, "bytes"}'
for op in load-json to-json load-csv; do
  echo "== $op: whole processes, kiv (A) against python3 (B)"
  farm-bench -n 3 --timeout 1200 --vs "/usr/bin/python3 $work/$op.py" -- "$kiv" "$work/$op.kiv"
done
echo "== each operation alone, least of three runs (seconds, count)"
for op in load-json to-json load-csv; do
  for cmd in "$kiv $op.kiv" "/usr/bin/python3 $op.py"; do
    for _ in 1 2 3; do $cmd; done | sort -k2 -g | head -1 | sed "s|^|${cmd%% *} |"
  done
done
