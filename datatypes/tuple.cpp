// tuple!: storage and hashing.
#include "datatypes/tuple.h"

#include "datatypes/registry.h"
#include "runtime/murmur3.h"

namespace kiv {

namespace {

// The bytes in use; the rest of the payload does not count.
uint32_t tuple_hash(const Cell* value) { return hash_murmur3(tuple_bytes(value), tuple_length(value)); }

constexpr TypeHooks kTupleHooks{.hash = tuple_hash};

}  // namespace

void tuple_datatype_init() {
  register_datatype({kTypeTuple, kTypeNil, "tuple!", kActionCount, {}, &kTupleHooks});
}

}  // namespace kiv
