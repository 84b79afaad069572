// Named arguments: the scheme actions use, ready for natives and routines.
//
// A .def file lists argument structs in ARGS lines (see datatypes/actions.def
// for the notation: ARG, REF, REF_ARG, EXTRA) beside its own lines, which
// name a struct per callable. datatypes/named_args.inc turns those ARGS lines
// into code:
//
//   #define KIV_ARGS_FILE "evaluator/natives.def"
//   #define KIV_ARGS_STRUCTS      // struct NameArgs, one named field each
//   #include "datatypes/named_args.inc"
//
//   #define KIV_ARGS_FILE "evaluator/natives.def"
//   #define KIV_ARGS_READERS      // read_args(NameArgs&, slots), kNameRefinements
//   #include "datatypes/named_args.inc"
//
// A .def file follows actions.def's convention: it gives every macro it uses
// a default that expands to nothing and undefines them all at its end.
#pragma once

#include <type_traits>

#include "runtime/cell.h"

namespace kiv {

// A refinement of a callable's spec: its word and, when it takes one, the
// word of its argument (null for a plain refinement).
struct RefinementInfo {
  const char* word;
  const char* argument;
};

// The field a refinement's argument fills: the cell itself, or a struct the
// entry normalises later (PartLimit, RecordSize) holding it in `arg`. A null
// [arg] stands for a refinement not given.
template <class T>
T refinement_value(Cell* arg) {
  if constexpr (std::is_same_v<T, Cell*>) {
    return arg;
  } else {
    T value{};
    value.arg = arg;
    return value;
  }
}

}  // namespace kiv
