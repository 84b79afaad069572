// tuple!: 3 to 12 bytes, such as a colour or a version number.
//
// Value cell (tuple! 39):
//   header  type id; bits 19-22 the number of bytes (3-12)
//   words 1-3  the bytes in memory order (byte 0 the lowest byte of word 1)
//
// Only storage and hashing stand here so far.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

// The number of bytes of [tuple], at most 12.
inline uint32_t tuple_length(const Cell* tuple) {
  uint32_t n = (tuple->header >> 19) & 0xF;
  return n < 12 ? n : 12;
}
// The bytes, in order. Valid while [tuple] is.
inline const uint8_t* tuple_bytes(const Cell* tuple) {
  return reinterpret_cast<const uint8_t*>(&tuple->data1);
}

}  // namespace kiv
