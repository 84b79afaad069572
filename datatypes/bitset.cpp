// bitset!: payload word 2 the node of a byte series holding the bits, most
// significant bit first within each byte; the complement flag lives in the
// buffer's flags. Only storage and the collector hooks stand here so far.
#include "datatypes/registry.h"
#include "runtime/collector.h"

namespace kiv {

namespace {

void bitset_mark(const Cell* value) { gc_mark_series(value->node()); }

// Equal bitsets may lie in different buffers: all hash alike until bitset!
// compares its bits.
constexpr TypeHooks kBitsetHooks{.mark = bitset_mark, .hash = [](const Cell*) { return 0u; }};

}  // namespace

void bitset_datatype_init() {
  register_datatype({kTypeBitset, kTypeNil, "bitset!", kActionCount, {}, &kBitsetHooks});
}

}  // namespace kiv
