// Small runtime utilities shared by the datatypes: number conversion with a
// range check, mold indentation, pattern filling.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

// The one conversion of a double to int32: NaN and values outside the int32
// range give INT32_MIN; everything else is truncated toward zero.
int32_t double_to_int32(double d);

// A float! (or percent!) is range-checked and truncated toward zero: script
// out-of-range with the value when it lies outside int32 or is NaN. Any other
// value gives its word 2 (an integer's own value).
int32_t float_to_int(const Cell* value);

// MAY ALLOCATE. Appends four spaces per level to the string [out]; returns
// [remaining] less 4 x levels.
int32_t mold_indent(Cell* out, int32_t levels, int32_t remaining);

// Repeats the first [n] bytes of [buffer] until it holds n x [count] bytes,
// copying the filled prefix onto the space after it; returns the end.
uint8_t* fill_pattern(uint8_t* buffer, uint32_t n, uint32_t count);

// MAY ALLOCATE. Pushes a new string holding the form of [value], cut to [limit]
// code points when the limit is positive.
Cell* form_to_new_string(Cell* value, int32_t limit);

}  // namespace kiv
