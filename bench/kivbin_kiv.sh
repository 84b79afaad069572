#!/usr/bin/env bash
# KIVBIN through kiv against python3's pickle (protocol 5) and marshal on the
# same data: a block of 1,000,000 values (small and large integers, floats,
# ASCII and non-ASCII strings, words of 10,000 names, nested blocks of 8;
# the python list holds the words as strings), encoded and decoded in both
# KIVBIN forms, each timed inside its own process (building the data is not
# timed). Prints the least time of three runs, ratios to pickle, and sizes.
#   bench/kivbin_kiv.sh path/to/kiv
set -euo pipefail
kiv=$(readlink -f "${1:?usage: kivbin_kiv.sh path/to/kiv}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/k.kiv" <<'KIV'
Kiv []
seconds: func [t] [t: difference now/precise t  (t/hour * 3600) + (t/minute * 60) + t/second]
names: make block! 10000
repeat i 10000 [append names to word! append copy "w" i]
data: make block! 1000000
nested: [1 "a" b 2.5 [3] "é" 4 c]
repeat i 125000 [
  append data reduce [
    i  i * 16411  to float! i / 7  append copy "s" i  append copy "é€" i  pick names 1 + remainder i 10000
    copy/deep nested  -5
  ]
]
kb: system/codecs/kivbin
foreach compact reduce [true false] [
  t: now/precise  b: kb/encode* data compact  te: seconds t
  t: now/precise  back: kb/decode b  td: seconds t
  if (length? back) <> length? data [print "wrong output" quit/return 1]
  print [either compact ["kivbin-compact"] ["kivbin-plain"] te td length? b]
]
KIV
cat >"$work/p.py" <<'PY'
import marshal, pickle, time
names = ["w%d" % i for i in range(1, 10001)]
data = []
for i in range(1, 125001):
    data += [i, i * 16411, i / 7, "s%d" % i, "é€%d" % i, names[i % 10000],
             [1, "a", "b", 2.5, [3], "é", 4, "c"], -5]
for name, dumps, loads in (("pickle5", lambda d: pickle.dumps(d, protocol=5), pickle.loads),
                           ("marshal", marshal.dumps, marshal.loads)):
    t = time.perf_counter(); b = dumps(data); te = time.perf_counter() - t
    t = time.perf_counter(); back = loads(b); td = time.perf_counter() - t
    assert len(back) == len(data)
    print(name, te, td, len(b))
PY
least() {  # the least encode and decode time of each name over three runs of a command
  for _ in 1 2 3; do "$@"; done |
    awk '!($1 in e) || $2 < e[$1] {e[$1] = $2} !($1 in d) || $3 < d[$1] {d[$1] = $3} {s[$1] = $4}
         END {for (n in e) print n, e[n], d[n], s[n]}'
}
{ least "$kiv" "$work/k.kiv"; least /usr/bin/python3 "$work/p.py"; } | sort >"$work/all"
read -r _ pe pd _ < <(grep '^pickle5 ' "$work/all")
printf '%-16s %10s %10s %10s %10s %12s\n' "" "encode s" "decode s" "enc/pickle" "dec/pickle" bytes
while read -r n e d s; do
  printf '%-16s %10.4f %10.4f %10.2f %10.2f %12d\n' "$n" "$e" "$d" "$(echo "$e / $pe" | bc -l)" \
    "$(echo "$d / $pd" | bc -l)" "$s"
done <"$work/all"
