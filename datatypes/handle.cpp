// handle!: storage and collector hooks.
#include "datatypes/handle.h"

#include "datatypes/registry.h"
#include "runtime/collector.h"
#include "runtime/murmur3.h"

namespace kiv {

namespace {

void handle_mark(const Cell* value) {
  if (handle_resource(value) >= 0) gc_mark_resource(uint32_t(handle_resource(value)));
}

uint32_t handle_hash(const Cell* value) { return hash_int32(handle_value(value)); }

constexpr TypeHooks kHandleHooks{.mark = handle_mark, .hash = handle_hash};

}  // namespace

void handle_datatype_init() {
  register_datatype({kTypeHandle, kTypeInteger, "handle!", kActionCount, {}, &kHandleHooks});
}

}  // namespace kiv
