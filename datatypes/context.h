// Contexts: a node of a two-cell series. Cell 0 is the context cell:
//   word 0  header   context! (14); kFlagStackValues when the values live on the data stack;
//                    bits 11-12 the kind (0 global/plain, 1 function, 2 object); bit 24 binds self
//   word 1  the symbol index: a kind-2 hash table owning the words block
//   word 2  the values: a block node, or for a stack context the data-stack
//           index of the running call's first argument + 1 (0 while none runs)
// Cell 1 is the self cell (an object's own object! value).
#pragma once

#include "runtime/memory.h"

namespace kiv {

// The context cell of [ctx]. Short-lived.
inline Cell* context_cell(Node ctx) { return series_buffer(ctx)->cells(); }

}  // namespace kiv
