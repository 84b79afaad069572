// Named arguments: the scheme actions use, ready for natives and routines.
//
// A .def file lists argument structs in ARGS lines (see datatypes/actions.def
// for the notation: ARG, REF, REF_ARG, EXTRA), or lines of its own that stand
// for ARGS lines when the includer does not ask for them (natives.def,
// routines.def). datatypes/named_args.inc turns those lines into code:
//
//   #define KIV_ARGS_FILE "evaluator/natives.def"
//   #define KIV_ARGS_STRUCTS      // struct NameArgs, one named field each,
//   #include "datatypes/named_args.inc"  // and kNameRefinementCount
//
//   #define KIV_ARGS_FILE "evaluator/natives.def"
//   #define KIV_ARGS_READERS      // read_args(NameArgs&, slots), kNameRefinements,
//   #include "datatypes/named_args.inc"  // kNameParams
//
// A .def file follows actions.def's convention: it gives every macro it uses
// a default that expands to nothing and undefines them all at its end.
#pragma once

#include <cstdint>
#include <type_traits>

#include "runtime/cell.h"

namespace kiv {

// A refinement of a callable's spec: its word and, when it takes one, the
// word of its argument (null for a plain refinement).
struct RefinementInfo {
  const char* word;
  const char* argument;
};

// One item of the arguments a .def line declares, in spec order: an
// argument (by its C++ name, then_blk, which the spec spells then-blk) or a
// refinement (by its word). A list ends in {kEnd, nullptr}. Start-up checks
// every spec text against its line's list (datatypes/builtin_spec.h).
struct DeclaredParam {
  enum Kind : uint8_t { kEnd, kArgument, kRefinement };
  Kind kind;
  const char* word;
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
