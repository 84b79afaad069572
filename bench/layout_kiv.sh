#!/usr/bin/env bash
# VID's layout of 1,000 faces (100 rows of 10: buttons, fields and texts)
# timed inside kiv, and start-up with the view layer booted against python3
# -c pass; with python3-urwid (installed when missing), the same 1,000 widgets
# built and rendered once to a 200-column canvas. Prints the least time of
# five runs.
#   bench/layout_kiv.sh path/to/kiv
set -euo pipefail
kiv=$(readlink -f "${1:?usage: layout_kiv.sh path/to/kiv}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/l.kiv" <<'KIV'
Kiv []
seconds: func [t] [t: difference now/precise t  (t/hour * 3600) + (t/minute * 60) + t/second]
spec: make block! 3000
repeat r 100 [
  repeat c 10 [append spec pick [button field text] 1 + remainder c 3  append spec append copy "w" c]
  append spec 'return
]
best: 1000.0
loop 5 [t: now/precise  w: layout spec  best: min best seconds t]
if 1000 <> length? w/pane [print "wrong output" quit/return 1]
print ["kiv layout of 1000 faces:" round/to best * 1000 0.01 "ms"]
KIV
"$kiv" "$work/l.kiv"
echo 'Kiv []' >"$work/e.kiv"
best() { local b=999; for i in 1 2 3 4 5; do s=$(date +%s.%N); "$@" >/dev/null; e=$(date +%s.%N); b=$(echo "$b $s $e" | awk '{d=$3-$2; print (d<$1)?d:$1}'); done; echo "$b"; }
echo "start-up: kiv $(best "$kiv" "$work/e.kiv") s, python3 -c pass $(best /usr/bin/python3 -c pass) s"
echo "start-up step times (KIV_BOOT_TIMES=1):"
KIV_BOOT_TIMES=1 "$kiv" "$work/e.kiv" 2>&1 | head -20 || true
# The comparison needs Debian's python3-urwid: installed here, for the bench
# only, when it is missing and apt-get can run.
if ! /usr/bin/python3 -c 'import urwid' 2>/dev/null; then
  sudo=""; [ "$(id -u)" = 0 ] || sudo="sudo -n"
  $sudo apt-get install -y -qq python3-urwid >/dev/null 2>&1 || true
fi
if /usr/bin/python3 -c 'import urwid' 2>/dev/null; then
  cat >"$work/u.py" <<'PY'
import time, urwid
best = 1e9
for _ in range(5):
    t = time.perf_counter()
    rows = []
    for r in range(100):
        cols = []
        for c in range(1, 11):
            k = c % 3
            w = urwid.Button("w%d" % c) if k == 1 else urwid.Edit("", "w%d" % c) if k == 2 else urwid.Text("w%d" % c)
            cols.append(w)
        rows.append(urwid.Columns(cols))
    pile = urwid.Pile(rows)
    pile.render((200,))
    best = min(best, time.perf_counter() - t)
print("python3-urwid 1000 widgets built and rendered: %.2f ms" % (best * 1000))
PY
  /usr/bin/python3 "$work/u.py"
else
  echo "python3-urwid not installed: no comparison"
fi
