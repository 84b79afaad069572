#!/usr/bin/env bash
# Plants each kind of reference up the layers in a scratch copy of the tree's
# layer folders and expects tools/check_layers.sh to fail, naming each planted
# file, line and reason; the copy passes before and after. Every plant is in a
# file of its own, so one run of the check must report them all. Last, the
# build's list of layers is put out of step with the check's.
# Usage: check_layers_test.sh [SOURCE_DIR]
set -euo pipefail
src=$(cd "${1:-"$(dirname "$0")/../.."}" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kiv-check-layers.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

folders=()
for d in platform runtime datatypes evaluator services library console view tui boot tools; do
  [ -d "$src/$d" ] && folders+=("$d")
done
tar -C "$src" --exclude='build*' -cf - "${folders[@]}" CMakeLists.txt | tar -C "$scratch" -xf -
check="$scratch/tools/check_layers.sh"

failures=0
run_check() {
  status=0
  out=$("$check" "$scratch" 2>&1) || status=$?
}
passes() {
  run_check
  if [ "$status" -ne 0 ]; then
    echo "FAIL $1: the check failed on a sound tree:"
    echo "$out"
    failures=$((failures + 1))
  else
    echo "ok   $1"
  fi
}

passes "the tree as it stands"

# Each plant: its name, the file it makes, the file's text, and what the
# check must say about it.
names=()
messages=()
planted=()
plant() {
  names+=("$1")
  planted+=("$2")
  mkdir -p "$(dirname "$scratch/$2")"
  printf '%s\n' "$3" >"$scratch/$2"
  messages+=("$4")
}

plant "quoted include of a higher layer" runtime/planted_quoted.cpp \
  '#include "evaluator/interpreter.h"' \
  'runtime/planted_quoted.cpp:1: runtime includes evaluator/interpreter.h, a header of the higher layer evaluator'
plant "library includes boot" library/planted_boot.cpp \
  '#include "boot/init.h"' \
  'library/planted_boot.cpp:1: library includes boot/init.h, a header of the higher layer boot'
plant "relative include" runtime/planted_relative.cpp \
  '#include "../evaluator/interpreter.h"' \
  'runtime/planted_relative.cpp:1: runtime includes ../evaluator/interpreter.h, a relative or absolute path'
plant "relative path inside a folder" datatypes/planted_dots.h \
  '#include "runtime/../evaluator/lexer.h"' \
  'datatypes/planted_dots.h:1: datatypes includes runtime/../evaluator/lexer.h, a relative or absolute path'
plant "include without a folder" datatypes/planted_bare.h \
  '#include "interpreter.h"' \
  'datatypes/planted_bare.h:1: datatypes includes interpreter.h with no folder'
plant "angle include of a higher layer" runtime/planted_angle.cpp \
  '#include <evaluator/interpreter.h>' \
  'runtime/planted_angle.cpp:1: runtime includes <> evaluator/interpreter.h, a header of the higher layer evaluator'
plant "macro include of a higher layer" runtime/planted_macro.cpp \
  "$(printf '%s\n' '#define PLANTED_HEADER "evaluator/interpreter.h"' '#include PLANTED_HEADER')" \
  'runtime/planted_macro.cpp:1: runtime includes (through a macro) evaluator/interpreter.h, a header of the higher layer evaluator'
plant "macro include of nothing the check can see" runtime/planted_unseen.cpp \
  '#include PLANTED_SOMEWHERE' \
  "runtime/planted_unseen.cpp:1: runtime includes through 'PLANTED_SOMEWHERE'"
plant "include of tests/" datatypes/planted_tests.cpp \
  '#include "tests/unit/kiv_test.h"' \
  'datatypes/planted_tests.cpp:1: datatypes includes tests/unit/kiv_test.h, from tests/, which stands outside the layers'
plant "extern declaration of a higher layer's function" runtime/planted_extern.cpp \
  "$(printf '%s\n' 'namespace kiv {' 'extern void interp_init();' '}')" \
  'runtime/planted_extern.cpp:2: runtime declares extern interp_init, a name of the higher layer evaluator'
plant "extern declaration of a higher layer's variable" datatypes/planted_variable.cpp \
  'extern kiv::InterpState g_interp;' \
  'datatypes/planted_variable.cpp:1: datatypes declares extern g_interp, a name of the higher layer evaluator'
plant "extern function pointer named as a higher layer's function" platform/planted_pointer.cpp \
  'extern void (*interp_init)();' \
  'platform/planted_pointer.cpp:1: platform declares extern interp_init, a name of the higher layer evaluator'
plant "a new top folder" gadgets/gadget.cpp \
  '#include "runtime/cell.h"' \
  'gadgets/: a top folder that is neither a layer nor one of'
plant "the action table named outside datatypes/" evaluator/planted_table.cpp \
  'auto& row = kiv::g_action_table[1];' \
  'evaluator/planted_table.cpp:1: evaluator names the action table'

run_check
if [ "$status" -eq 0 ]; then
  echo "FAIL the planted tree passed the check:"
  echo "$out"
  failures=$((failures + 1))
fi
for i in "${!names[@]}"; do
  if grep -qF -- "${messages[$i]}" <<<"$out"; then
    echo "ok   ${names[$i]}"
  else
    echo "FAIL ${names[$i]}: the check did not say '${messages[$i]}'"
    failures=$((failures + 1))
  fi
done
if [ "$failures" -gt 0 ]; then
  echo "the check said:"
  echo "$out"
fi

for f in "${planted[@]}"; do rm -f "$scratch/$f"; done
rm -rf "$scratch/gadgets"
passes "the tree put back"

# The build's list of layers and the check's are the same list.
sed -i -E 's/^set\(KIV_LAYERS platform runtime /set(KIV_LAYERS runtime platform /' "$scratch/CMakeLists.txt"
run_check
if [ "$status" -ne 0 ] && grep -qF "CMakeLists.txt: KIV_LAYERS is 'runtime platform " <<<"$out"; then
  echo "ok   the build's layers in another order"
else
  echo "FAIL the build's layers in another order: status $status, the check said:"
  echo "$out"
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] || { echo "$failures case(s) failed"; exit 1; }
