// binary!: storage and collector hooks.
#include "datatypes/binary.h"

#include <algorithm>

#include "datatypes/registry.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/murmur3.h"

namespace kiv {

namespace {

void binary_mark(const Cell* value) { gc_mark_series(value->node()); }

// The bytes from the head to the tail.
uint32_t binary_hash(const Cell* value) {
  if (!value->node()) return hash_murmur3(nullptr, 0);
  SeriesBuffer* b = series_buffer(value->node());
  uint64_t start = std::min<uint64_t>(uint64_t(b->head) + uint64_t(std::max(value->head(), 0)), b->tail);
  return hash_murmur3(b->data() + start, b->tail - start);
}

constexpr TypeHooks kBinaryHooks{.mark = binary_mark, .hash = binary_hash};

}  // namespace

void binary_datatype_init() {
  register_datatype({kTypeBinary, kTypeString, "binary!", kActionCount, {}, &kBinaryHooks});
}

}  // namespace kiv
