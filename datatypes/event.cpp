// event!: a user-interface event. Start-up leaves it unregistered: the
// text-mode interface registers it when it is built. Only storage and hashing
// stand here so far.
#include "datatypes/registry.h"
#include "runtime/murmur3.h"

namespace kiv {

namespace {

uint32_t event_hash(const Cell* v) { return hash_int32(v->data2); }

constexpr TypeHooks kEventHooks{.hash = event_hash};

}  // namespace

void event_datatype_init() {
  register_datatype({kTypeEvent, kTypeNil, "event!", kActionCount, {}, &kEventHooks});
}

}  // namespace kiv
