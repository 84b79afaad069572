// pair!: two 32-bit signed integers, x and y, such as a size or a position.
//
// Value cell (pair! 37):
//   header  type id
//   word 1  unused
//   word 2  x, signed 32-bit
//   word 3  y, signed 32-bit
//
// Arithmetic works on x and y as integers and turns the value into a point2D!
// (datatypes/point.h) when a result cannot stay integral: an overflow, an
// uneven division, or a float! factor or divisor. A double becomes a
// coordinate only through pair_coordinate: truncated toward zero, and script
// out-of-range when it lies outside int32.
#pragma once

#include <cstdint>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"

namespace kiv {

// A pair! of [x] by [y].
inline Cell pair_cell(int32_t x, int32_t y) { return make_cell(kTypePair, 0, uint32_t(x), uint32_t(y)); }
inline int32_t pair_x(const Cell* pair) { return int32_t(pair->data2); }
inline int32_t pair_y(const Cell* pair) { return int32_t(pair->data3); }
inline void pair_set_x(Cell* pair, int32_t x) { pair->data2 = uint32_t(x); }
inline void pair_set_y(Cell* pair, int32_t y) { pair->data3 = uint32_t(y); }

// Makes [cell] a pair! of [x] by [y], keeping its header flags; returns it.
Cell* pair_init(Cell* cell, int32_t x, int32_t y);
// MAY ALLOCATE. Appends a pair! at the tail of [block]; returns the new cell
// (short-lived).
Cell* pair_make_at(const Cell* block, int32_t x, int32_t y);
// Pushes a pair! on the data stack; returns the new cell.
Cell* pair_push(int32_t x, int32_t y);

// The coordinate an integer! gives, or a float! (or percent!) truncated toward
// zero: script out-of-range with [number] when the double is NaN or lies
// outside int32.
int32_t pair_coordinate(const Cell* number);
// Makes the pair! [pair] a point2D! of the same x and y, in place.
void pair_to_point2d(Cell* pair);

// The arithmetic of the pair! [left] with [right] under [op] (0 add ... 7 xor),
// written into [left]; returns [left]. [right] is a pair! (x with x, y with y),
// an integer! (for both), a float! or percent! (a factor or divisor makes a
// point2D!, any other op uses its truncated value), or a point2D! (the pair
// becomes one and point2D!'s arithmetic runs). A component that overflows or
// does not divide evenly redoes the whole operation as point2D!s. zero-divide
// and overflow of the integer operations propagate; any other [right] raises
// script invalid-type. integer! and float! hand their pair operations here.
Cell* pair_do_math(Cell* left, Cell* right, int op);
// Negates x and y of [pair] in place; a coordinate -2147483648 raises math
// overflow. Returns [pair].
Cell* pair_negate(Cell* pair, const NoneArgs& args);

}  // namespace kiv
