// pair!: storage and hashing (the payload is laid out in datatypes/pair.h).
#include "datatypes/pair.h"

#include "datatypes/registry.h"
#include "runtime/murmur3.h"

namespace kiv {

namespace {

// x and y, the two words in memory order.
uint32_t pair_hash(const Cell* v) { return hash_murmur3(&v->data2, 8); }

constexpr TypeHooks kPairHooks{.hash = pair_hash};

}  // namespace

void pair_datatype_init() {
  register_datatype({kTypePair, kTypeNil, "pair!", kActionCount, {}, &kPairHooks});
}

}  // namespace kiv
