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

}  // namespace kiv
