// money!: an exact decimal amount with an optional currency.
//
// Value cell (money! 49):
//   header  type id; bit 14 (kMoneyNegative) the sign; other flags as for every cell
//   byte 4 (low byte of word 1)  currency index: 0 none, 1-255 a position in
//           the currency list
//   bytes 5-15  22 packed decimal digits, most significant first (high nibble
//           first); 17 integer digits, then 5 fraction digits
//
// A zero amount's sign is ignored everywhere. Only storage and hashing stand
// here so far.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

inline constexpr uint32_t kMoneyNegative = 0x4000u;

// True when all 22 digits are 0.
inline bool money_zero_q(const Cell* money) {
  return (money->data1 >> 8) == 0 && money->data2 == 0 && money->data3 == 0;
}

}  // namespace kiv
