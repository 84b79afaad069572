// map!: storage and collector hooks.
#include "datatypes/map.h"

#include "datatypes/registry.h"
#include "runtime/collector.h"
#include "runtime/murmur3.h"

namespace kiv {

namespace {

void map_mark(const Cell* value) {
  gc_mark_block(map_pairs(value));
  gc_mark_table(map_table(value));
}

uint32_t map_hash(const Cell* value) { return hash_int32(map_pairs(value)); }

constexpr TypeHooks kMapHooks{.mark = map_mark, .hash = map_hash};

}  // namespace

void map_datatype_init() { register_datatype({kTypeMap, kTypeNil, "map!", kActionCount, {}, &kMapHooks}); }

}  // namespace kiv
