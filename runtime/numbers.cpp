// Number conversions.
#include "runtime/numbers.h"

#include <cmath>

namespace kiv {

int32_t double_to_int32(double d) {
  if (std::isnan(d) || d >= 2147483648.0 || d < -2147483648.0) return INT32_MIN;
  return int32_t(d);
}

}  // namespace kiv
