// Cached argument lists: what a call of a function-like value fetches, built
// once from its spec and kept in cell 1 of the value's more block.
//
// The list is a block!, one cell per spec item before /local, in spec order:
//   typeset!     a parameter: the types it accepts (from its type block when
//                that is not empty, else every type but unset!), its fetch
//                mode (ArgMode) in header bits 20-21
//   refinement!  a refinement; its word index its ordinal (1, 2, ...)
// then an integer!: for a function! or routine! the locals count from /local
// (function_count_locals), for a native! or action! its number of
// refinements. Item n of the list is word n of the spec as
// function_arg_word counts them, so errors name parameters through it.
#pragma once

#include <cstdint>

#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kiv {

enum ArgMode : uint32_t {
  kArgEvaluated = 0,   // word! parameter
  kArgLiteral = 1,     // get-word! parameter: the next value as it is
  kArgSoftQuoted = 2,  // lit-word! parameter: parens, get-words and get-paths evaluated
};
inline constexpr uint32_t kArgModeShift = 20;
inline ArgMode arg_mode(const Cell* param) { return ArgMode((param->header >> kArgModeShift) & 3); }

// The shape of a call, kept in the header flags of the list's last cell (an
// integer! whose value is the count), so a call reads it with the list: how
// many leading parameters (those before the first refinement) a plain call
// fetches, and whether each of them is evaluated. A list with more leading
// parameters than the field holds is never plain.
inline constexpr uint32_t kShapeParamsShift = 8;
inline constexpr uint32_t kShapeParamsMax = 0xFFF;    // bits 8-19
inline constexpr uint32_t kShapePlain = 0x00100000u;  // bit 20: every leading parameter is a word!
struct CallShape {
  int32_t items;   // parameters and refinements in the list
  int32_t params;  // leading parameters, before the first refinement
  int32_t count;   // locals (function!, routine!) or refinements (native!, action!)
  bool plain;      // kShapePlain
};
inline CallShape call_shape(Node list) {
  SeriesBuffer* b = series_buffer(list);
  const int32_t items = int32_t(b->cell_count()) - 1;
  const Cell* tail = b->head_cell() + items;
  return CallShape{items, int32_t((tail->header >> kShapeParamsShift) & kShapeParamsMax), integer_get(tail),
                   (tail->header & kShapePlain) != 0};
}

// MAY ALLOCATE. Builds the list of [fn] from its spec, keeps it with the
// value and returns it.
Node arglist_build_into(const Cell* fn);

// The cell of a function-like value's more block that holds its list (word 3
// of every function-like value is its more node).
inline constexpr int32_t kArglistCell = 1;

// MAY ALLOCATE. The node of the argument list of the function-like [fn]
// (native!, action!, op!, function!, routine!; a stable cell). Every value
// made by a script is given its list when it is made (arglist_attach), from
// the spec it was made from, so a later change of its spec block moves no
// argument; the natives and actions start-up makes get theirs at their first
// call. Script bad-func-def for a set-word in the spec other than `return:`,
// and for a spec of a native! or action! that does not fit the code's own
// (datatypes/builtin_spec.h).
inline Node arglist_of(const Cell* fn) {
  const Cell& kept = series_cells(function_like_more(fn))[kArglistCell];
  return kept.is(kTypeBlock) ? kept.node() : arglist_build_into(fn);
}

// MAY ALLOCATE. Builds the list of the new function-like value [fn] (a
// stable cell) from its spec and keeps it with the value: called by every
// maker of such values.
void arglist_attach(const Cell* fn);

}  // namespace kiv
