// vector!: a series of numbers of one element type. Payload word 1 the head
// index in elements, word 2 the buffer node (unit: the element size), word 3
// the element type id (char!, integer!, float! or percent!). Only storage and
// the collector hooks stand here so far.
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
