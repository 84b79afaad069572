#!/usr/bin/env bash
# Fails when a source file reaches into a higher layer, or when the tree holds
# a top folder this check does not know.
#
# Layers, lowest first: platform < runtime < datatypes < evaluator < services
# < library < console < view < tui < boot. A file may include its own layer
# and those below it; a lower layer reaches a higher one only through the
# hooks struct (runtime/hooks.h) and the registration calls the core offers.
# tests/, bench/, fuzz/, tools/ and .ci/ stand outside the layers and may
# include anything. Each layer is also its own static library, linked in
# order, with a link check of its own (CMakeLists.txt).
#
# What a file of a layer may not do:
#   - include a header of a higher layer, with quotes or angle brackets, or
#     through a macro whose #define names one (a #define of a header path is
#     checked as an include where it stands; a macro include that no #define
#     in the layers names a header by cannot be checked and fails);
#   - include by a relative or absolute path, or by a bare file name: every
#     include names its folder from the root of the tree ("runtime/cell.h");
#   - include anything of tests/, bench/, fuzz/, tools/ or an unknown folder;
#   - declare extern a name that a higher layer declares or defines;
#   - name the table of action handlers outside datatypes/.
# And the layers listed here are the build's (KIV_LAYERS in CMakeLists.txt).
#
# Usage: tools/check_layers.sh [ROOT] (default: this tree). Outside a git
# work tree the files are found with find, build*/ and .git/ left out.
set -euo pipefail
root=${1:-"$(dirname "$0")/.."}
cd "$root"

layers=(platform runtime datatypes evaluator services library console view tui boot)
outside=(tests bench fuzz tools .ci)

# The files outside datatypes/ that still name the action table; each is to
# reach actions through their entries or the registry instead. A file listed
# here that no longer names it fails the check, so the list is kept exact.
action_table_names='g_action_table|ActionSlots|action_handler|actions_of'

# The build makes one library per layer from its own list (CMakeLists.txt):
# the two lists are the same, in the same order.
if [ -f CMakeLists.txt ]; then
  built=$(sed -n -E 's/^set\(KIV_LAYERS (.*)\)$/\1/p' CMakeLists.txt)
  if [ "$built" != "${layers[*]}" ]; then
    echo "CMakeLists.txt: KIV_LAYERS is '$built', but tools/check_layers.sh checks '${layers[*]}'"
    exit 1
  fi
fi

declare -A rank=()
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done
declare -A known=()
for d in "${layers[@]}" "${outside[@]}"; do known[$d]=1; done

status=0
fail() {
  echo "$1"
  status=1
}

if git rev-parse --is-inside-work-tree >/dev/null 2>&1 &&
  [ "$(git rev-parse --show-toplevel)" = "$(pwd -P)" ]; then
  mapfile -t all_files < <(git ls-files --cached --others --exclude-standard)
else
  mapfile -t all_files < <(find . \( -name .git -o -path './build*' \) -prune -o -type f -print | sed 's|^\./||')
fi

# Every top folder is a layer or one of the folders outside the layers.
declare -A reported=()
layer_files=()
for file in "${all_files[@]}"; do
  [ -f "$file" ] || continue
  case "$file" in */*) ;; *) continue ;; esac
  top=${file%%/*}
  if [ -z "${known[$top]:-}" ]; then
    if [ -z "${reported[$top]:-}" ]; then
      fail "$top/: a top folder that is neither a layer nor one of ${outside[*]} (name it in tools/check_layers.sh)"
      reported[$top]=1
    fi
    continue
  fi
  [ -n "${rank[$top]:-}" ] || continue
  case "$file" in
    *.h | *.hh | *.hpp | *.c | *.cc | *.cpp | *.def | *.inc | *.ipp) layer_files+=("$file") ;;
  esac
done

if [ ${#layer_files[@]} -eq 0 ]; then
  echo "layers: no source files found under $(pwd -P)" >&2
  exit 1
fi

# Checks that [file] (of layer [own]) may include [path]; [how] says how it
# was written, for the report.
check_path() {
  local where=$1 own=$2 path=$3 how=$4
  local layer=${where%%/*}
  case "/$path/" in
    //* | */../* | */./*)
      fail "$where: $layer includes $how$path, a relative or absolute path: name the header from the root"
      return
      ;;
  esac
  if [ "${path%%/*}" = "$path" ]; then
    fail "$where: $layer includes $how$path with no folder: name the header from the root"
    return
  fi
  local dir=${path%%/*}
  if [ -z "${known[$dir]:-}" ]; then
    fail "$where: $layer includes $how$path, from no folder of the layers"
  elif [ -z "${rank[$dir]:-}" ]; then
    fail "$where: $layer includes $how$path, from $dir/, which stands outside the layers"
  elif [ "${rank[$dir]}" -gt "$own" ]; then
    fail "$where: $layer includes $how$path, a header of the higher layer $dir"
  fi
}

header_path='[A-Za-z0-9_./-]+\.(h|hh|hpp|def|inc|ipp)'
directives=$(grep -n -H -E \
  "^[[:space:]]*#[[:space:]]*(include|include_next|import)([^A-Za-z0-9_]|\$)|^[[:space:]]*#[[:space:]]*define[[:space:]]+[A-Za-z_][A-Za-z0-9_]*[[:space:]]+[\"<]${header_path}[\">]" \
  -- "${layer_files[@]}" || true)

# The macros the layers define as a header path: a macro include is checked
# through them, and each of these #defines as an include where it stands.
declare -A header_macros=()
while IFS= read -r hit; do
  [ -n "$hit" ] || continue
  text=${hit#*:*:}
  if [[ "$text" =~ ^[[:space:]]*#[[:space:]]*define[[:space:]]+([A-Za-z_][A-Za-z0-9_]*)[[:space:]]+[\"\<] ]]; then
    header_macros[${BASH_REMATCH[1]}]=1
  fi
done <<<"$directives"

while IFS= read -r hit; do
  [ -n "$hit" ] || continue
  file=${hit%%:*}
  rest=${hit#*:}
  line=${rest%%:*}
  text=${rest#*:}
  own=${rank[${file%%/*}]}
  if [[ "$text" =~ ^[[:space:]]*#[[:space:]]*define[[:space:]]+[A-Za-z_][A-Za-z0-9_]*[[:space:]]+\"([^\"]*)\" ]]; then
    check_path "$file:$line" "$own" "${BASH_REMATCH[1]}" "(through a macro) "
    continue
  fi
  if [[ "$text" =~ ^[[:space:]]*#[[:space:]]*define[[:space:]]+[A-Za-z_][A-Za-z0-9_]*[[:space:]]+\<([^\>]*)\> ]]; then
    check_path "$file:$line" "$own" "${BASH_REMATCH[1]}" "(through a macro) "
    continue
  fi
  [[ "$text" =~ ^[[:space:]]*#[[:space:]]*(include_next|include|import)[[:space:]]*(.*)$ ]]
  arg=${BASH_REMATCH[2]}
  if [[ "$arg" =~ ^\"([^\"]*)\" ]]; then
    check_path "$file:$line" "$own" "${BASH_REMATCH[1]}" ""
  elif [[ "$arg" =~ ^\<([^\>]*)\> ]]; then
    # A system header names no folder of the tree; a project header in angle
    # brackets is checked as the same include in quotes would be.
    path=${BASH_REMATCH[1]}
    dir=${path%%/*}
    if [ "$dir" != "$path" ] && { [ -n "${known[$dir]:-}" ] || [ -d "$dir" ]; }; then
      check_path "$file:$line" "$own" "$path" "<> "
    fi
  elif [[ "$arg" =~ ^([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*(//.*|/\*.*)?$ ]] && [ -n "${header_macros[${BASH_REMATCH[1]}]:-}" ]; then
    :
  else
    fail "$file:$line: ${file%%/*} includes through '${arg%%[[:space:]]*}', which no #define in the layers names a header by: this check cannot see where it goes"
  fi
done <<<"$directives"

# extern declarations: a layer may declare extern only names it or a lower
# layer declares. A declaration here is a line that names the word after a
# type, before a ( [ = ; or {, or that makes it a type, a macro or an alias.
externs=$(grep -n -H -E '(^|[^A-Za-z0-9_])extern[[:space:]]' -- "${layer_files[@]}" || true)
while IFS= read -r hit; do
  [ -n "$hit" ] || continue
  file=${hit%%:*}
  rest=${hit#*:}
  line=${rest%%:*}
  text=${rest#*:}
  text=${text%%//*}
  text=${text%%/\**}
  [[ "$text" =~ ^[[:space:]]*\* ]] && continue
  [[ "$text" =~ (^|[^A-Za-z0-9_])extern[[:space:]]+(\"C(\+\+)?\"[[:space:]]*)?(.*)$ ]] || continue
  decl=${BASH_REMATCH[4]}
  [[ "$decl" =~ ^template([^A-Za-z0-9_]|$) ]] && continue
  if [[ "$decl" =~ \([[:space:]]*\*[[:space:]]*([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*\) ]]; then
    name=${BASH_REMATCH[1]}
  else
    head=${decl%%[(\[=;\{]*}
    [[ "$head" =~ ([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*$ ]] || continue
    name=${BASH_REMATCH[1]}
  fi
  own=${rank[${file%%/*}]}
  q='([A-Za-z_][A-Za-z0-9_]*::)*'
  declaration="^[[:space:]]*(([A-Za-z_][A-Za-z0-9_:<>,]*[[:space:]*&]+)+${q}${name}[[:space:]]*[][(=;{]|[^()]*\([[:space:]]*\*[[:space:]]*${name}[[:space:]]*\)|(struct|class|union|enum|using|typedef)[[:space:]].*[^A-Za-z0-9_]$name([^A-Za-z0-9_]|\$)|#[[:space:]]*define[[:space:]]+$name([^A-Za-z0-9_]|\$))"
  lowest=-1
  highest=-1
  while IFS= read -r d; do
    [ -n "$d" ] || continue
    dtext=${d#*:*:}
    [[ "$dtext" =~ (^|[^A-Za-z0-9_])extern[[:space:]] ]] && continue
    [[ "$dtext" =~ ^[[:space:]]*(return|else|case|goto|throw|delete|new|co_return|co_yield)[[:space:]] ]] && continue
    [[ "$dtext" =~ $declaration ]] || continue
    r=${rank[${d%%/*}]}
    if [ "$lowest" -lt 0 ] || [ "$r" -lt "$lowest" ]; then lowest=$r; fi
    if [ "$r" -gt "$highest" ]; then highest=$r; fi
  done < <(grep -n -H -w -E "$name" -- "${layer_files[@]}" || true)
  if [ "$highest" -gt "$own" ] && { [ "$lowest" -lt 0 ] || [ "$lowest" -gt "$own" ]; }; then
    fail "$file:$line: ${file%%/*} declares extern $name, a name of the higher layer ${layers[$highest]}"
  fi
done <<<"$externs"

# The action table, outside datatypes/.
while IFS= read -r hit; do
  [ -n "$hit" ] || continue
  file=${hit%%:*}
  [ "${file%%/*}" = datatypes ] && continue
  rest=${hit#*:}
  fail "$file:${rest%%:*}: ${file%%/*} names the action table, which only datatypes/ may: call the action's entry or register through the registry"
done < <(grep -n -H -w -E "$action_table_names" -- "${layer_files[@]}" || true)

if [ "$status" -eq 0 ]; then echo "layers: every include, extern and top folder keeps to the layers"; fi
exit "$status"
