// hash!: a block (datatypes/block.h) whose payload word 3 holds the hash
// table (kind 0, runtime/hashtable.h) indexing its cells. Only storage and the
// collector hooks stand here so far; block!'s handlers keep the index in step.
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "runtime/collector.h"
#include "runtime/murmur3.h"

namespace kiv {

namespace {

void hash_mark(const Cell* value) {
  gc_mark_block(value->node());
  gc_mark_table(block_hash_index(value));
}

// As block!'s: the position and the buffer.
uint32_t hash_hash(const Cell* value) {
  uint32_t w[2] = {uint32_t(value->head()), value->node()};
  return hash_murmur3(w, sizeof w);
}

constexpr TypeHooks kHashHooks{.mark = hash_mark, .hash = hash_hash};

}  // namespace

void hash_datatype_init() {
  register_datatype({kTypeHash, kTypeBlock, "hash!", kActionCount, {}, &kHashHooks});
}

}  // namespace kiv
