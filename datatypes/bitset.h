// bitset!: a growable array of bits indexed from 0, above all a character
// class (bit n stands for the code point or byte value n).
//
// Value cell (bitset! 30):
//   header  type id
//   word 1  unused (0): a bitset is always read from its buffer's head
//   word 2  node of a buffer of unit 1 holding the bits
//   word 3  unused (0)
//
// Bit n is bit 0x80 >> (n mod 8) of byte n / 8 counted from the buffer's
// head: the most significant bit of each byte comes first, so #{80} holds bit
// 0 and "A" (65) is byte 8, mask 0x40. The stored bytes run from the head to
// the tail; the bitset's size is 8 bits per stored byte.
//
// Complemented bitsets: kBitsetComplement in the buffer's flags gives every
// index past the stored bytes, which are members then. The stored bits are
// the membership bits themselves in either case, so growing a bitset fills
// the new bytes with 0x00, or 0xFF when it is complemented, and no index
// changes its membership.
#pragma once

#include <cstdint>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kiv {

// Series buffer flag: the bitset is complemented.
inline constexpr uint32_t kBitsetComplement = 0x00080000u;
static_assert((kBitsetComplement & (kSeriesUnitMask | kSeriesOwned | kSeriesLibraryCode | kSeriesFixed |
                                    kSeriesBig | kSeriesMiddleHead | kSeriesAlloc | kSeriesInUse)) == 0,
              "the complement flag is a buffer flag of its own");

// A bitset! over the bits of [node].
inline Cell bitset_cell(Node node) { return series_cell(kTypeBitset, node); }

// The number of stored bytes of [bitset].
inline uint32_t bitset_byte_count(const Cell* bitset) { return series_buffer(bitset->node())->used(); }
// Short-lived. The first stored byte of [bitset] (the serialisation codec and
// the byte matchers read the bits here).
inline uint8_t* bitset_bits(const Cell* bitset) { return series_buffer(bitset->node())->head_ptr(); }
// True when [bitset] is complemented.
inline bool bitset_complement_q(const Cell* bitset) {
  return (series_buffer(bitset->node())->flags & kBitsetComplement) != 0;
}

// Membership of index [n] in the bitset whose buffer is [bits]: its stored
// bit, or the complement flag past the stored bytes. Never allocates.
bool bitset_bit_q(Node bits, uint32_t n);

// How many code points of the text buffer [text] from absolute unit [from]
// (inclusive) up to [end] (exclusive, within the buffer) are members of the
// bitset whose buffer is [bits], one after another: the length of the run of
// members there, at most [max] units unless [max] is negative. Reads both
// buffers in place; never allocates.
int32_t bitset_span(Node bits, Node text, int32_t from, int32_t end, int32_t max);

// MAY ALLOCATE. The set operation [op] on the bitset! [a] and [b]; a new
// bitset replaces [a], which is returned. [op] is one of the shared codes:
// kSetUnique leaves [a] as it is; kSetUnion and kMathOr join, kSetIntersect
// and kMathAnd intersect, kSetDifference and kMathXor keep the members of one
// operand only, kSetExclude keeps those of [a] not in [b]. Every index is
// combined, the indexes past an operand's bytes by its complement flag: the
// result has the longer operand's byte count and is complemented when the
// operation applied to the two flags gives 1. A [b] of another type raises
// script invalid-type with its datatype; any other [op] ends the process
// (runtime error 101).
Cell* bitset_set_op(Cell* a, const Cell* b, int32_t op);

// Registers bitset! (no parent).
void bitset_datatype_init();

}  // namespace kiv
