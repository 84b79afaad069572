#!/usr/bin/env bash
# compress and decompress with 'gzip through kiv on 20 MiB of real text
# (bench/make_text_corpus.sh), against Debian's python3 zlib.compress(data, 6,
# wbits=31) and zlib.decompress on the same file, each timed inside its own
# process (reading the file is not timed). Prints seconds, ratios and sizes.
#   bench/compress_kiv.sh path/to/kiv [corpus]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
kiv=$(readlink -f "${1:?usage: compress_kiv.sh path/to/kiv [corpus]}")
corpus=${2:-/tmp/kiv-text-corpus.txt}
[ -f "$corpus" ] || "$here/make_text_corpus.sh" "$corpus" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/c.kiv" <<KIV
Kiv []
data: read/binary to-kiv-file "$corpus"
seconds: func [t] [t: difference now/precise t  (t/hour * 3600) + (t/minute * 60) + t/second]
t: now/precise  z: compress data 'gzip  tc: seconds t
t: now/precise  back: decompress z 'gzip  td: seconds t
if back <> data [print "wrong output" quit/return 1]
print [tc td length? z]
KIV
cat >"$work/c.py" <<PY
import time, zlib
data = open("$corpus", "rb").read()
t = time.perf_counter(); z = zlib.compress(data, 6, wbits=31); tc = time.perf_counter() - t
t = time.perf_counter(); back = zlib.decompress(z, wbits=31); td = time.perf_counter() - t
assert back == data
print(tc, td, len(z))
PY
best() {  # the least of each time over three runs of a command printing "compress decompress size"
  for _ in 1 2 3; do "$@"; done |
    awk 'NR == 1 || $1 < c {c = $1} NR == 1 || $2 < d {d = $2} {s = $3} END {print c, d, s}'
}
read -r kc kd ks < <(best "$kiv" "$work/c.kiv")
read -r pc pd ps < <(best /usr/bin/python3 "$work/c.py")
printf '%-22s %10s %10s %8s\n' "" kiv python3 ratio
printf '%-22s %10.4f %10.4f %8.2f\n' "compress 'gzip s" "$kc" "$pc" "$(echo "$kc / $pc" | bc -l)"
printf '%-22s %10.4f %10.4f %8.2f\n' "decompress 'gzip s" "$kd" "$pd" "$(echo "$kd / $pd" | bc -l)"
printf '%-22s %10d %10d %8.4f\n' "gzip bytes" "$ks" "$ps" "$(echo "$ks / $ps" | bc -l)"
