// tuple!: 3 to 12 unsigned bytes written with dots (1.2.3, 255.0.0.128): a
// colour, a version number, an address. Its arithmetic works byte by byte and
// saturates at 0 and 255.
//
// Value cell (tuple! 39):
//   header  type id; bits 19-22 the number of bytes (3-12)
//   words 1-3  the bytes in memory order (byte 1 the lowest byte of word 1);
//              bytes past the count are 0 in every tuple this unit makes
//
// A tuple made from fewer than 3 values is padded with zero bytes to 3. An
// operation that changes the count in place writes the new count into bits
// 19-22 and clears bits 29-31, keeping the other header bits.
#pragma once

#include <cstdint>
#include <span>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"

namespace kiv {

inline constexpr uint32_t kTupleMinLength = 3;
inline constexpr uint32_t kTupleMaxLength = 12;

// The number of bytes of [tuple], at most 12.
inline uint32_t tuple_length(const Cell* tuple) {
  uint32_t n = (tuple->header >> 19) & 0xF;
  return n < kTupleMaxLength ? n : kTupleMaxLength;
}
// The bytes, in order. Valid while [tuple] is.
inline const uint8_t* tuple_bytes(const Cell* tuple) {
  return reinterpret_cast<const uint8_t*>(&tuple->data1);
}

// A tuple of [count] bytes (3 to 12) held in the payload words [w1]..[w3].
inline Cell tuple_cell(uint32_t count, uint32_t w1, uint32_t w2 = 0, uint32_t w3 = 0) {
  return Cell{uint32_t(kTypeTuple) | count << 19, w1, w2, w3};
}
// Pushes tuple_cell([count], [w1], [w2], [w3]) on the data stack.
Cell* tuple_push(uint32_t count, uint32_t w1, uint32_t w2, uint32_t w3);
// Pushes a tuple of the low bytes of [values] (at most 12), padded with zero
// bytes to 3.
Cell* tuple_from_bytes(std::span<const int32_t> values);
// Makes [cell] the tuple r.g.b when [a] is -1, else r.g.b.a.
void tuple_set_rgba(Cell* cell, uint8_t r, uint8_t g, uint8_t b, int32_t a);
// Makes [result] the tuple of the first at most 12 bytes of the binary!
// [binary] from its position, padded to 3.
void tuple_from_binary(const Cell* binary, Cell* result);
// Makes [result] the tuple an issue! spells in hexadecimal: 3 digits give
// three doubled digits (#F80 is 255.136.0), 6 digits three bytes, 8 digits
// four. Any other length or a non-hexadecimal character raises script
// invalid-data with [issue].
void tuple_from_issue(const Cell* issue, Cell* result);

// Byte [index] (1 = the first) of [tuple]; an index outside 1..count raises
// script out-of-range with [index].
int32_t tuple_pick_byte(const Cell* tuple, const Cell* index);
// Sets byte [index] of [tuple] in place: an integer! [value] is clamped to
// 0..255; none! clears that byte and every byte after it and cuts the count
// to [index] - 1, never below 3. An index outside 1..count raises script
// out-of-range with [index]; [value] is the caller's to check.
void tuple_poke_byte(Cell* tuple, const Cell* index, const Cell* value);
// True when every byte up to the count is 0.
bool tuple_zero_q(const Cell* tuple);

// The same answer for every operator: another type is not comparable (-2);
// otherwise the bytes in order up to the larger count (a missing byte counts
// as 0), the first unequal pair deciding, unsigned. So 1.2.3 equals 1.2.3.0.
int tuple_compare(Cell* value, const CompareArgs& args);

// The arithmetic of a tuple T with an operand B under [op] (add to xor), byte
// by byte, the result left in [left] (returned). T is [left] and B [right];
// when [left] is not a tuple (a number handed over, [right] the tuple) the
// two swap, and subtract, divide and remainder, which have no swapped form,
// raise script not-related with the action word and [left]'s datatype.
// - B integer! or tuple!: each byte pair goes through integer_do_math; a B
//   tuple longer than T first lengthens T, missing bytes count as 0, and a
//   result past the 32-bit range counts as 255 when positive, else 0.
// - B float! or percent!: each byte through float_math_op (which refuses or,
//   and, xor), truncated toward zero; NaN gives 0.
// - any other B raises script invalid-type with B's datatype.
// Every result is clamped to 0..255. A zero divisor raises math zero-divide
// at its byte; the bytes before it stay written.
Cell* tuple_do_math(Cell* left, Cell* right, int op);

// Registers tuple! (no parent).
void tuple_datatype_init();

}  // namespace kiv
