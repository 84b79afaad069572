#!/usr/bin/env bash
# Fails when a source file reads or writes a raw payload word of a value cell
# (a member access to data1, data2 or data3) outside the units that own a
# payload layout.
#
# Type knowledge lives with the type: each datatype's header lays out its
# payload word by word and gives the accessors, and only that type's unit (its
# header and .cpp, named below by their common stem) touches the raw words.
# Everything else goes through the accessors, the series view of
# runtime/cell.h (head, node, series_cell) or the constructors the headers
# give. Checked: runtime/, datatypes/, evaluator/, services/ and boot/. Tests,
# benchmarks, fuzz targets and tools stand outside the check.
#
# Line comments are ignored. A unit that stops touching raw words may stay
# listed; the script notes it so the list can shrink.
set -euo pipefail
cd "$(dirname "$0")/.."

# Stem -> why that unit may touch raw payload words.
declare -A allowed=(
  # The cell itself, and the formats the runtime owns below the datatypes.
  [runtime/cell]="defines Cell, its payload words and the series view every series type shares"
  [runtime/unicode]="word 3 of a string-like cell: its conversion buffer (string_conversion_node)"
  [runtime/hashtable]="record tables' key cells: an unset! cell whose word 1 is the key (hashtable_record_key)"
  [runtime/type_hooks]="the default hash reads the three payload words as opaque bits, for types without a hash hook"

  # Datatypes: each owns the layout its header documents.
  [datatypes/integer]="integer!, and char! through the integer! handlers it inherits"
  [datatypes/char]="char!"
  [datatypes/logic]="logic! (unset! and none! have no payload)"
  [datatypes/datatype]="datatype!"
  [datatypes/float]="float!, percent! and time!: the double in words 2-3"
  [datatypes/word]="word!, set-word!, lit-word!, get-word!, refinement!, issue!"
  [datatypes/symbol]="symbol records of the symbol table"
  [datatypes/block]="the block family; word 3 of hash! (block_hash_index)"
  [datatypes/context]="context! cells: word table and values"
  [datatypes/object]="object!, error!, port!"
  [datatypes/map]="map!: pair block and hash table"
  [datatypes/native]="native!, action!, op!"
  [datatypes/function]="function!, routine!"
  [datatypes/handle]="handle!"
  [datatypes/tuple]="tuple!: bytes in words 1-3"
  [datatypes/money]="money!: packed digits in words 1-3"
  [datatypes/triple]="triple!"
  [datatypes/pair]="pair!"
  [datatypes/point]="point2D!, point3D!"
  [datatypes/vector]="vector!: element type in word 3"
  [datatypes/typeset]="typeset!: the type map in words 1-3"
  [datatypes/date]="date!: packed date in word 1, time in words 2-3"
  [datatypes/event]="event! (no header yet: its layout heads event.cpp)"
  [datatypes/image]="image!: head, record node and size"

  # TEMPORARY: being rewritten in another change, which drops its local
  # integer_of and integer_cell for the integer.h accessors.
)

access='(\.|->)[[:space:]]*data[123]\b'
word='\bdata[123]\b'  # any mention: Cell's own members use the words unqualified

status=0
declare -A touched=()
while IFS= read -r file; do
  [ -f "$file" ] || continue
  stem=${file%.*}
  code=$(sed -E 's#//.*$##' "$file")
  if [ -n "${allowed[$stem]+set}" ]; then
    grep -qE "$word" <<<"$code" && touched[$stem]=1
    continue
  fi
  hits=$(grep -nE "$access" <<<"$code" || true)
  [ -z "$hits" ] && continue
  while IFS=: read -r line text; do
    echo "$file:$line: raw payload word outside its type's unit: $(echo "$text" | sed -E 's/^[[:space:]]+//')"
  done <<<"$hits"
  status=1
done < <(git ls-files --cached --others --exclude-standard \
  'runtime/*' 'datatypes/*' 'evaluator/*' 'services/*' 'boot/*' | grep -E '\.(h|cpp|inc)$')

for stem in "${!allowed[@]}"; do
  [ -n "${touched[$stem]+set}" ] || echo "note: $stem is allowed raw payload words but no longer touches any"
done | sort

if [ "$status" -eq 0 ]; then echo "payload: raw payload words are touched only by their owning units"; fi
exit "$status"
