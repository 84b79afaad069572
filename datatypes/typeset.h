// typeset!: a set of type ids.
//
// Value cell (typeset! 33):
//   header  type id
//   words 1-3  a 96-bit map read as 12 bytes in memory order (byte 0 the
//              lowest byte of word 1): type t is in the set when bit
//              0x80 >> (t mod 8) of byte t / 8 is set
//
// Two typesets are equal when all three words are, which the default hash
// follows. Only the registration stands here so far (datatypes/typeset.cpp).
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "runtime/cell.h"

namespace kiv {

// True when the typeset! [set] holds type [t].
inline bool typeset_has_q(const Cell* set, TypeId t) {
  uint8_t map[12];
  std::memcpy(map, &set->data1, sizeof map);
  return map[t / 8] & (0x80u >> (t % 8));
}
// Adds type [t] to the typeset! [set].
inline void typeset_add(Cell* set, TypeId t) {
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

}  // namespace kiv
