// function! and routine!: functions made from a spec and a body.
//
// Value cell (function! 24, routine! 29):
//   header  type id; function!: bit 10 trace, bit 9 no-trace; routine!: bit 15
//           and in bits 25-29 its argument count
//   word 1  node of the function's context (kind 1, values on the data stack)
//   word 2  node of the spec block
//   word 3  node of the "more" block (body, native code id, extra value)
//
// Only storage and the collector hooks stand here so far.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

inline Node function_context(const Cell* value) { return value->data1; }
inline Node function_spec(const Cell* value) { return value->data2; }
inline Node function_more(const Cell* value) { return value->data3; }
// A function-like cell of [type] over [ctx], [spec] and [more], with the
// header flags [flags] above the type id.
inline Cell function_cell(Node ctx, Node spec, Node more, uint32_t flags = 0, TypeId type = kTypeFunction) {
  Cell c = make_cell(type, ctx, spec, more);
  c.header |= flags & ~uint32_t(kTypeMask);
  return c;
}

// MAY ALLOCATE. Pushes a new function! made from the block [spec] (copied when
// not at its head), the block [body] (copied deeply; none or null for no
// body) and [context] (0: one made from the spec, kind 1, values on the data
// stack, to which the body copy is then bound), with [native_code] and
// [extra] (0: none) in its more block and the header [flags]. The function is
// stored in its context's self cell. Returns the context node.
Node make_function_value(const Cell* spec, const Cell* body, Node context, int32_t native_code, int32_t extra,
                         uint32_t flags);
// The locals of the spec block [spec] from cell [start]: 1 for the first
// /local (canonical match) and 1 for each word! after it; without /local 0,
// or -1 with [strict].
int32_t function_count_locals(Node spec, int32_t start, bool strict);

}  // namespace kiv
