// binary!: a series of bytes, the raw-data type of the system.
//
// Value cell (binary! 41):
//   header  type id
//   word 1  head index: a byte offset from the buffer's first byte (negative
//           reads as 0, past the tail as the tail)
//   word 2  node of a buffer of unit 1 (always unit 1: nothing that writes a
//           binary! widens it)
//   word 3  unused
//
// binary! is a child of string! and inherits its navigation, search and most
// editing handlers (they read bytes for a binary!, never case-folded); this
// unit fills to, form, mold, compare, the bitwise actions, append/insert,
// change and trim (insert and change: datatypes/binary_modify.cpp), and holds
// the byte helpers other units use and the base-codec conversions of values.
//
// Positions named [index] are absolute: bytes from the buffer's head.
#pragma once

#include <cstdint>
#include <vector>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"
#include "runtime/compare.h"

namespace kiv {

// A binary! over [node] at [head].
inline Cell binary_cell(Node node, int32_t head = 0) { return series_cell(kTypeBinary, node, head); }

// ---------------------------------------------------------------- construction

// MAY ALLOCATE. Makes *[out] an empty binary! with room for [capacity] bytes
// (0 gives 16), head 0; returns [out].
Cell* binary_make_at(Cell* out, uint32_t capacity);
// MAY ALLOCATE. Pushes a new binary! holding a copy of the [n] bytes at
// [bytes] (not inside a collected series).
Cell* binary_load_push(const uint8_t* bytes, uint32_t n);

// ---------------------------------------------------------------- reading

// Bytes from the head to the tail; a negative head counts as 0, a head past
// the tail is set back to the tail.
int32_t binary_length(Cell* bin);
// The byte at the head. Short-lived: valid until the next allocation.
uint8_t* binary_head_ptr(const Cell* bin);
// True when the head is at or past the tail.
bool binary_at_tail_q(const Cell* bin);

// ---------------------------------------------------------------- writing

// MAY ALLOCATE. Appends the [n] bytes at [bytes] (not inside a collected
// series) at the tail of [bin]'s buffer.
void binary_append_bytes(const Cell* bin, const uint8_t* bytes, uint32_t n);
// MAY ALLOCATE. Appends [n] as 4 bytes, most significant first.
void binary_append_int32(const Cell* bin, int32_t n);
// The byte [value] stands for: an integer! in -128..255 (a negative one stores
// its two's-complement low byte) or a char! up to 255; anything else raises
// script invalid-arg with the value.
uint8_t binary_byte_of(const Cell* value);

// ---------------------------------------------------------------- comparison and matching

// -1, 0, 1 or kNotComparable comparing the bytes from the heads of [a] (a
// binary! or string-like value) and [b] (string!, file!, url!, binary!, tag!,
// email! or ref!; else kNotComparable), stored bytes as they are, never
// folded. Ordering mode: a shorter prefix orders first, and the equality
// operators answer 1 at once for different lengths. Match mode ([match]):
// whether [b]'s bytes start at [a]'s head (0) or not (1).
int any_string_compare(const Cell* a, const Cell* b, CompareOp op, bool match);
// PARSE: whether the byte at [bin]'s head is in the bitset! [bitset] (beyond
// its bits: the complement flag); false at the tail.
bool binary_match_bitset_q(const Cell* bin, const Cell* bitset);
// PARSE: whether [pattern] matches at [bin]'s head: a string-like value or a
// binary! by its stored bytes, a char! as one byte equal to its code point.
bool binary_match_value_q(const Cell* bin, const Cell* pattern);

// ---------------------------------------------------------------- base codecs over values

// MAY ALLOCATE. Pushes the string! text of the bytes of [value] in base
// [base] (an integer!: 2, 16, 58 or 64; null: 64): a binary! from its head,
// a string-like value as UTF-8. An unknown base raises script invalid-arg with
// [base]; a text past 32 bits, script too-long; another value, script
// invalid-arg.
Cell* binary_enbase(const Cell* value, const Cell* base);
// MAY ALLOCATE. Pushes the binary! decoded from the text of [value] (a
// string-like value, or a binary! read as 1-byte text) in base [base] (as
// binary_enbase), or none! when the text is not valid in that base.
Cell* binary_debase(const Cell* value, const Cell* base);

// ---------------------------------------------------------------- handlers (binary_modify.cpp)

// How a value becomes bytes: to binary! and insert/append refuse a value
// without bytes of its own (script bad-to-arg); change forms it.
enum class ByteRule : uint8_t { kTo, kInsert, kChange };
// MAY ALLOCATE. Appends the bytes of [value] (a stable cell) to [out]: char!
// and text as UTF-8 from the head, an integer! as one byte (-128..255, else
// script invalid-arg), binary! from its head, tuple! its bytes, block!,
// paren! and hash! each element from the head by these rules. A [limit] >= 0
// cuts a block to that many elements and anything else to that many bytes.
// Every check is made here, before a caller changes anything.
void binary_value_bytes(Cell* value, ByteRule rule, int64_t limit, std::vector<uint8_t>* out);

// MAY ALLOCATE, MAY RUN KIV CODE. append ([append]) and insert: every byte of
// the value is read and checked (nested blocks included) before the owner
// hears of the change or a byte moves.
Cell* binary_insert(Cell* series, const InsertArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. change: replaces bytes from the head with
// the value's bytes (values without bytes of their own are formed).
Cell* binary_change(Cell* series, const ChangeArgs& args);

}  // namespace kiv
