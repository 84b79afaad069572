// typeset!: a set of datatypes, one bit per type id, so that testing a value's
// type against it is one bit test.
//
// Value cell (typeset! 33):
//   header  type id
//   words 1-3  a 96-bit map read as 12 bytes in memory order (byte 0 the
//              lowest byte of word 1, byte 4 the lowest of word 2): type t is
//              in the set when bit 0x80 >> (t mod 8) of byte t / 8 is set.
//              integer! (11) alone is the words 0x00001000, 0, 0.
//
// Bits 0 and kMaxTypeId + 1 .. 95 name no type. Building a map from datatypes
// never sets them; the all-but-unset typeset and complement do, and equality
// counts them: two typesets are equal when all three words are, which the
// default hash (the three payload words) follows. A typeset holds no series.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"
#include "runtime/typesets.h"

namespace kiv {

static_assert(std::endian::native == std::endian::little,
              "the map's bytes are the payload words' bytes in memory");

// Bits in the map; ids at or past it are never members.
inline constexpr int kTypesetBits = 96;

// ---------------------------------------------------------------- the cell

// Word [i] (1, 2 or 3) of the map, as the serialisation format stores it.
inline uint32_t typeset_map_word(const Cell* set, int i) {
  return i == 1 ? set->data1 : i == 2 ? set->data2 : set->data3;
}
// The typeset! whose map is the words [w1], [w2], [w3].
inline Cell typeset_words_cell(uint32_t w1, uint32_t w2, uint32_t w3) {
  return make_cell(kTypeTypeset, w1, w2, w3);
}

// True when the typeset! [set] holds type [t].
inline bool typeset_has_q(const Cell* set, TypeId t) {
  // Every type id is below 64, so its bit lies in the first 8 bytes of the
  // map: byte t / 8, bit 0x80 >> t % 8, which is bit t ^ 7 of those bytes
  // read as one little-endian word.
  static_assert(kMaxTypeId < 64 && std::endian::native == std::endian::little);
  if (t >= 64) return false;
  uint64_t low;
  std::memcpy(&low, &set->data1, sizeof low);
  return (low >> (t ^ 7)) & 1;
}
// Adds type [t] to the typeset! [set]; an id that names no type (0, or past
// the last type id) is left out.
inline void typeset_add(Cell* set, TypeId t) {
  if (t == kTypeNil || t > kMaxTypeId) return;
  uint8_t map[12];
  std::memcpy(map, &set->data1, sizeof map);
  map[t / 8] |= uint8_t(0x80u >> (t % 8));
  std::memcpy(&set->data1, map, sizeof map);
}
// The typeset! holding [types] (none: the empty typeset).
inline Cell typeset_cell(std::initializer_list<TypeId> types = {}) {
  Cell set = make_cell(kTypeTypeset);
  for (TypeId t : types) typeset_add(&set, t);
  return set;
}
// The typeset! holding the types of the C++ typeset [types]
// (runtime/typesets.h: number!, any-string!, series! and the rest).
inline Cell typeset_cell(Typeset types) {
  Cell set = make_cell(kTypeTypeset);
  for (int t = 1; t <= kMaxTypeId; t++)
    if (types.has(TypeId(t))) typeset_add(&set, TypeId(t));
  return set;
}
// The typeset! of every type id, 1 to kMaxTypeId, and no other bit.
constexpr Cell typeset_every_type_cell() {
  uint32_t words[3] = {0, 0, 0};
  for (int t = 1; t <= kMaxTypeId; t++) {
    const int byte = t / 8;
    words[byte / 4] |= uint32_t(0x80u >> (t % 8)) << (8 * (byte % 4));
  }
  return Cell{kTypeTypeset, words[0], words[1], words[2]};
}
inline constexpr Cell kTypesetEveryTypeCell = typeset_every_type_cell();
// Adds to the typeset! [set] every type the typeset! [other] holds (the bits
// that name no type are left out).
inline void typeset_add_types(Cell* set, const Cell* other) {
  set->data1 |= other->data1 & kTypesetEveryTypeCell.data1;
  set->data2 |= other->data2 & kTypesetEveryTypeCell.data2;
  set->data3 |= other->data3 & kTypesetEveryTypeCell.data3;
}
// True when every type the typeset! [inner] holds, [outer] holds too (the
// bits that name no type are not compared).
inline bool typeset_within_q(const Cell* inner, const Cell* outer) {
  return (inner->data1 & kTypesetEveryTypeCell.data1 & ~outer->data1) == 0 &&
         (inner->data2 & kTypesetEveryTypeCell.data2 & ~outer->data2) == 0 &&
         (inner->data3 & kTypesetEveryTypeCell.data3 & ~outer->data3) == 0;
}
// Every type but unset!, and the 41 bits that name no type: the typeset of a
// function argument without a type block.
inline constexpr Cell kTypesetAllButUnsetCell{kTypeTypeset, 0xFFFFFFDFu, 0xFFFFFFFFu, 0xFFFFFFFFu};

// ---------------------------------------------------------------- building

// MAY ALLOCATE. Appends to [block] a typeset! whose map is [w1], [w2], [w3]
// (the serialisation loaders); returns it (short-lived).
Cell* typeset_make_at(const Cell* block, uint32_t w1, uint32_t w2, uint32_t w3);
// MAY ALLOCATE. Appends to [block] the typeset of every type but unset!;
// returns it (short-lived).
Cell* typeset_all_but_unset(const Cell* block);
// Adds [value] to the typeset! [set]: a word! stands for its value (script
// no-value when it has none); a typeset! is joined, a datatype! adds its type.
// Anything else raises script invalid-arg with [value] as given.
void typeset_add(Cell* set, const Cell* value);
// MAY ALLOCATE. Appends to [block] the typeset of a function argument's type
// block [spec], read from its head: each word! stands for its value; a
// datatype! adds its type, a typeset! is joined, a word whose value is a word
// adds object!, a nested block! is skipped. Anything else raises script
// invalid-type-spec with the cell as the spec holds it; a word without a
// value raises script no-value. Nothing is appended when an error is raised.
// Returns the new cell (short-lived).
Cell* typeset_from_block(const Cell* block, const Cell* spec);
// MAY ALLOCATE. Makes the stable cell [out] a new block! (room for 4 cells)
// holding, in ascending id order, the name word of every registered type in
// the typeset! [set]. [out] may be [set] itself. Returns [out].
Cell* typeset_to_block(const Cell* set, Cell* out);
// The number of registered types (ids 1 to the highest registered) in [set].
int typeset_count(const Cell* set);

// ---------------------------------------------------------------- set operations

// The set operation [op] on the typeset! [a] and [b], written into [a], which is
// returned. [op] is one of the shared codes: kSetUnique leaves [a] as it is;
// kSetUnion and kMathOr join, kSetIntersect and kMathAnd intersect,
// kSetDifference and kMathXor keep the types in one set only, kSetExclude
// keeps those of [a] not in [b]. [b] is a typeset! or a datatype! (its type
// alone), else script invalid-arg with [b]. Any other [op] ends the process
// (runtime error 101).
Cell* typeset_set_op(Cell* a, const Cell* b, int32_t op);

// Registers typeset! (no parent).
void typeset_datatype_init();

}  // namespace kiv
