// The root block.
#include "runtime/root.h"

#include "runtime/memory.h"

namespace kiv {

Node g_root_block = 0;

void root_block_init(uint32_t capacity) {
  if (capacity < kRootSlotCount) capacity = kRootSlotCount;
  g_root_block = series_alloc_fixed(capacity, sizeof(Cell), 0);
  SeriesBuffer* b = series_buffer(g_root_block);
  for (uint32_t i = 0; i < kRootSlotCount; i++) b->cells()[i] = make_cell(kTypeNone);
  b->tail = kRootSlotCount * sizeof(Cell);
}

Cell* root_slot(RootSlot slot) { return series_buffer(g_root_block)->cells() + slot; }

}  // namespace kiv
