// native!, action! and op!: values that call built-in code.
//
// Native and action value cell (native! 21, action! 22):
//   header  type id
//   word 1  the id of the native or action (its entry in the natives or
//           actions table; no code address is ever stored in a cell)
//   word 2  node of the spec block
//   word 3  node of the "more" block: a copy of the value's context! cell and none
//
// Op value cell (op! 23): the underlying value's three payload words, with the
// underlying type id (native! 21, action! 22, function! 24, routine! 29) in
// header bits 16-23. An op over a function or routine has its context node in
// word 1 (datatypes/function.h).
//
// Only storage and the collector hooks stand here so far.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

inline uint32_t native_id(const Cell* value) { return value->data1; }
inline Node native_spec(const Cell* value) { return value->data2; }
inline Node native_more(const Cell* value) { return value->data3; }
// The order of two values of one callable type (native!, action!, op!,
// function!, routine!) by identity: 0 when they are the same value (same code
// or body), else -1 or 1, fixed for the pair.
inline int callable_identity_order(const Cell* a, const Cell* b) {
  if (a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3) return 0;
  return a->data3 < b->data3 ? -1 : 1;
}
// The type of the value an op! calls.
inline TypeId op_underlying_type(const Cell* op) { return TypeId((op->header >> 16) & 0xFF); }

}  // namespace kiv
