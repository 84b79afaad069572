// float!: the 64-bit IEEE double, and the storage float!, percent! and time! share.
//
// Value cell (float! 12, percent! 38, time! 43):
//   header  type id; setting a float result replaces the whole header
//   word 1  unused
//   words 2-3  the double, low word first (percent!: the fraction itself;
//              time!: seconds)
//
// Only storage, hashing and the range-checked conversion to an integer stand
// here so far; the actions of the three types come with their own units.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/cell.h"

namespace kiv {

// The double of a float!, percent! or time! cell.
inline double float_get(const Cell* cell) {
  double d;
  std::memcpy(&d, &cell->data2, sizeof d);
  return d;
}
// Stores [d] in words 2-3 of [cell], leaving its header alone.
inline void float_set(Cell* cell, double d) { std::memcpy(&cell->data2, &d, sizeof d); }
// A cell of [type] (float! unless said otherwise) holding [d].
inline Cell float_cell(double d, TypeId type = kTypeFloat) {
  Cell c = make_cell(type);
  float_set(&c, d);
  return c;
}

// A float! (or percent!) is range-checked and truncated toward zero: script
// out-of-range with the value when it lies outside int32 or is NaN. Any other
// value gives its integer (an integer!'s own value).
int32_t float_to_int(const Cell* value);

}  // namespace kiv
