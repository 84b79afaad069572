#!/bin/sh
# The tools' benchmarks, whole commands: profile of a recursive fib 24
# against python3's cProfile of the same program, the plain and the traced
# (output to /dev/null) runs, and 100,000 sets of a reactor field with 1,000
# unrelated relations in the table.
# Usage: bench/tools/run.sh build/kiv
kiv=$(realpath "${1:-build/kiv}")
here=$(dirname "$(realpath "$0")")
farm-bench -n 3 --timeout 600 --vs "/usr/bin/python3 -m cProfile $here/fib.py" -- "$kiv" "$here/fib-profile.kiv"
farm-bench -n 3 --vs "/usr/bin/python3 $here/fib.py" -- "$kiv" "$here/fib-plain.kiv"
farm-bench -n 3 --timeout 900 -- sh -c "$kiv $here/fib-trace.kiv > /dev/null"
farm-bench -n 3 --timeout 600 -- "$kiv" "$here/reactor-sets.kiv"
