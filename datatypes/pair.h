// pair!: two 32-bit signed integers, x and y, such as a size or a position.
//
// Value cell (pair! 37):
//   header  type id
//   word 1  unused
//   word 2  x, signed 32-bit
//   word 3  y, signed 32-bit
//
// Only storage and hashing stand here so far (datatypes/pair.cpp).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

// A pair! of [x] by [y].
inline Cell pair_cell(int32_t x, int32_t y) { return make_cell(kTypePair, 0, uint32_t(x), uint32_t(y)); }
inline int32_t pair_x(const Cell* pair) { return int32_t(pair->data2); }
inline int32_t pair_y(const Cell* pair) { return int32_t(pair->data3); }
inline void pair_set_x(Cell* pair, int32_t x) { pair->data2 = uint32_t(x); }
inline void pair_set_y(Cell* pair, int32_t y) { pair->data3 = uint32_t(y); }

}  // namespace kiv
