// vector!: storage and the collector hooks (the payload is laid out in
// datatypes/vector.h).
#include "datatypes/vector.h"

#include "datatypes/registry.h"
#include "runtime/collector.h"

namespace kiv {

namespace {

void vector_mark(const Cell* value) { gc_mark_series(value->node()); }

// Equal vectors may lie in different buffers: all hash alike until vector!
// compares its elements.
constexpr TypeHooks kVectorHooks{.mark = vector_mark, .hash = [](const Cell*) { return 0u; }};

}  // namespace

void vector_datatype_init() {
  register_datatype({kTypeVector, kTypeString, "vector!", kActionCount, {}, &kVectorHooks});
}

}  // namespace kiv
