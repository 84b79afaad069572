// The per-type hook rows and the hashing of values through them.
#include "runtime/type_hooks.h"

#include "runtime/compare.h"
#include "runtime/murmur3.h"

namespace kiv {

TypeHooks g_type_hooks[kTypeTableRows];

uint32_t hash_value(const Cell* value) {
  TypeId t = value->type();
  if (t < kTypeTableRows)
    if (auto hash = g_type_hooks[t].hash) return hash(value);
  return hash_payload_words(value);
}

uint32_t hash_payload_words(const Cell* value) { return hash_murmur3(&value->data1, 3 * sizeof(uint32_t)); }

}  // namespace kiv
