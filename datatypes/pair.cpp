// pair!: payload word 2 is x and word 3 is y (32-bit signed); word 1 is
// unused. Only storage and hashing stand here so far.
#include "datatypes/registry.h"
#include "runtime/murmur3.h"

namespace kiv {

namespace {

uint32_t pair_hash(const Cell* v) { return hash_murmur3(&v->data2, 8); }

constexpr TypeHooks kPairHooks{.hash = pair_hash};

}  // namespace

void pair_datatype_init() { register_datatype({kTypePair, kTypeNil, "pair!", kActionCount, {}, &kPairHooks}); }

}  // namespace kiv
