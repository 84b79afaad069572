// object!: storage and collector hooks (error! and port! share them).
#include "datatypes/object.h"

#include "datatypes/registry.h"
#include "runtime/collector.h"
#include "runtime/murmur3.h"

namespace kiv {

namespace {

void object_mark(const Cell* value) {
  gc_mark_block(object_context(value));
  gc_mark_series(object_events(value));
}

// Objects are equal only to themselves: the context identifies one.
uint32_t object_hash(const Cell* value) { return hash_int32(object_context(value)); }

constexpr TypeHooks kObjectHooks{.mark = object_mark, .hash = object_hash};

}  // namespace

void object_datatype_init() {
  register_datatype({kTypeObject, kTypeNil, "object!", kActionCount, {}, &kObjectHooks});
}

}  // namespace kiv
