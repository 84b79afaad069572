// Number conversions every numeric type shares.
#pragma once

#include <cstdint>

namespace kiv {

// The one conversion of a double to int32: NaN and values outside the int32
// range give INT32_MIN; everything else is truncated toward zero.
int32_t double_to_int32(double d);

}  // namespace kiv
