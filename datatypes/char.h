// char!: one Unicode code point as a value; a child of integer!.
//
// Value cell:
//   header  type id 10
//   word 1  unused
//   word 2  the code point, signed 32-bit, always within 0..0x10FFFF
//   word 3  unused
//
// random, absolute, even? and odd? are integer!'s handlers; negate, power,
// round and complement are not supported. Arithmetic goes through integer!'s
// do-math and must come out as a code point, else math overflow. The molded
// form #"..." escapes the code point as string! literals do.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

inline Cell char_cell(uint32_t code_point) { return make_cell(kTypeChar, 0, code_point); }
// The code point of a char!.
inline uint32_t char_get(const Cell* c) { return c->data2; }
// Replaces the code point of a char! cell, leaving its header alone.
inline void char_set(Cell* c, uint32_t code_point) { c->data2 = code_point; }

// MAY ALLOCATE. Appends a char! at the tail of [block]; returns the new cell.
Cell* char_make_at(const Cell* block, uint32_t code_point);
// Pushes a char! on the data stack; returns the new cell.
Cell* push_char(uint32_t code_point);

// Registers char! (parent integer!, which registers first).
void char_datatype_init();

}  // namespace kiv
