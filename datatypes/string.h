// string! storage: one unit per code point, 1, 2 or 4 bytes wide.
//
// Value cell (series layout):
//   word 1  head index, in code points
//   word 2  node of the buffer (unit 1, 2 or 4)
//   word 3  node of the per-cell conversion buffer, or 0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/cell.h"

namespace kiv {

// MAY ALLOCATE. Makes *[out] an empty string! with room for [capacity] units.
Cell* string_make_at(Cell* out, uint32_t capacity);
// MAY ALLOCATE. Appends 8-bit text (each byte one code point); returns the count appended.
int32_t string_append_c_string(Cell* str, std::string_view text);
// Code points from the head to the tail (0 for a head past the tail).
int32_t string_length(const Cell* str);
// Cuts the string to [length] code points from its head.
void string_truncate(Cell* str, int32_t length);
// The code points from the head, as UTF-8.
std::string string_to_utf8(const Cell* str);

}  // namespace kiv
