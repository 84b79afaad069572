// float!: the 64-bit double, and the handlers percent! and time! inherit.
#include "datatypes/float.h"

#include <cmath>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "runtime/errors.h"
#include "runtime/murmur3.h"
#include "runtime/stack.h"

namespace kiv {

bool g_float_pretty = true;

Cell* float_push(double d) { return stack_push_value(float_cell(d)); }

Cell* float_make_at(const Cell* block, double d) {
  Cell* c = block_append_cell(block);
  *c = float_cell(d);
  return c;
}

bool float_nan_q(double d) { return std::isnan(d); }
bool float32_nan_q(float f) { return std::isnan(f); }
bool float_special_q(double d) { return !std::isfinite(d); }

int32_t float_to_int(const Cell* value) {
  if (!value->is(kTypeFloat) && !value->is(kTypePercent)) return integer_get(value);
  double d = float_get(value);
  if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0) raise_error(kErrScriptOutOfRange, value);
  return int32_t(d);
}

namespace {

// -0.0 hashes as +0.0: they compare equal.
uint32_t float_hash(const Cell* value) {
  uint32_t w[2] = {value->data2, value->data3};
  if (w[0] == 0 && (w[1] << 1) == 0) w[1] = 0;
  return hash_murmur3(w, sizeof w);
}

constexpr TypeHooks kFloatHooks{.hash = float_hash};

}  // namespace

// percent! and time! share the row through their parent.
void float_datatype_init() {
  register_datatype({kTypeFloat, kTypeNil, "float!", kActionCount, {}, &kFloatHooks});
}

}  // namespace kiv
