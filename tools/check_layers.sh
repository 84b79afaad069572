#!/usr/bin/env bash
# Fails when a source file includes a header of a higher layer.
#
# Layers, lowest first: platform < runtime < datatypes < evaluator < services
# < boot, console, library, view, tui (these five are peers). A file may
# include its own layer and those below it; a lower layer reaches a higher one
# only through a callback or hook that the higher one registers. tests/,
# bench/, fuzz/ and tools/ stand outside the layers and may include anything.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
  case "$1" in
    platform) echo 0 ;;
    runtime) echo 1 ;;
    datatypes) echo 2 ;;
    evaluator) echo 3 ;;
    services) echo 4 ;;
    boot | console | library | view | tui) echo 5 ;;
    *) echo -1 ;;
  esac
}

status=0
while IFS= read -r file; do
  [ -f "$file" ] || continue
  layer=${file%%/*}
  own=$(rank "$layer")
  [ "$own" -lt 0 ] && continue
  while IFS=: read -r line target; do
    dir=${target%%/*}
    [ "$dir" = "$target" ] && continue  # a sibling include without a folder
    theirs=$(rank "$dir")
    if [ "$theirs" -gt "$own" ]; then
      echo "$file:$line: $layer includes $target, a header of the higher layer $dir"
      status=1
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" | sed -E 's/^([0-9]+):[^"]*"([^"]+)".*/\1:\2/')
done < <(git ls-files --cached --others --exclude-standard "*.h" "*.cpp" "*.def" "*.inc")

if [ "$status" -eq 0 ]; then echo "layers: every include goes to its own layer or a lower one"; fi
exit "$status"
