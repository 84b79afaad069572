// money!: storage and hashing.
#include "datatypes/money.h"

#include "datatypes/registry.h"
#include "runtime/murmur3.h"

namespace kiv {

namespace {

// The sign of a zero amount is ignored, and no header flag but the sign counts.
uint32_t money_hash(const Cell* value) {
  Cell m = *value;
  m.header = kTypeMoney | (money_zero_q(value) ? 0 : (value->header & kMoneyNegative));
  return hash_murmur3(&m, sizeof m);
}

constexpr TypeHooks kMoneyHooks{.hash = money_hash};

}  // namespace

void money_datatype_init() {
  register_datatype({kTypeMoney, kTypeNil, "money!", kActionCount, {}, &kMoneyHooks});
}

}  // namespace kiv
