// Runtime utilities.
#include "runtime/utilities.h"

#include <cmath>
#include <cstring>

#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/errors.h"

namespace kiv {

int32_t double_to_int32(double d) {
  if (std::isnan(d) || d >= 2147483648.0 || d < -2147483648.0) return INT32_MIN;
  return int32_t(d);
}

int32_t float_to_int(const Cell* value) {
  if (!value->is(kTypeFloat) && !value->is(kTypePercent)) return int32_t(value->data2);
  double d = value->get_float();
  if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0) raise_error(kErrScriptOutOfRange, value);
  return int32_t(d);
}

int32_t mold_indent(Cell* out, int32_t levels, int32_t remaining) {
  for (int32_t i = 0; i < levels; i++) string_append_c_string(out, "    ");
  return remaining - 4 * (levels > 0 ? levels : 0);
}

uint8_t* fill_pattern(uint8_t* buffer, uint32_t n, uint32_t count) {
  uint64_t total = uint64_t(n) * count;
  uint64_t filled = count ? n : 0;
  while (filled * 2 <= total) {
    std::memcpy(buffer + filled, buffer, filled);
    filled *= 2;
  }
  if (filled < total) std::memcpy(buffer + filled, buffer, total - filled);
  return buffer + total;
}

Cell* form_to_new_string(Cell* value, int32_t limit) {
  Cell* out = string_make_at(stack_push(), 16);
  action_form(value, out, nullptr, limit > 0 ? limit : kNoLimit);
  if (limit > 0) string_truncate(out, limit);
  return out;
}

}  // namespace kiv
