// The root block and the root tables.
#include "runtime/root_block.h"

#include "runtime/collector.h"
#include "runtime/memory.h"

namespace kiv {

Node g_root_block = 0;

namespace {

Node g_root_tables[kRootTableCount];

void mark_root_tables() {
  for (Node table : g_root_tables) gc_mark_table(table);
}

}  // namespace

void root_block_init(uint32_t capacity) {
  if (capacity < kRootSlotCount) capacity = kRootSlotCount;
  g_root_block = series_alloc_fixed(capacity, sizeof(Cell), 0);
  SeriesBuffer* b = series_buffer(g_root_block);
  for (uint32_t i = 0; i < kRootSlotCount; i++) b->cells()[i] = make_cell(kTypeNone);
  b->tail = kRootSlotCount * sizeof(Cell);
  for (Node& table : g_root_tables) table = 0;
  add_mark_callback(mark_root_tables);
}

Cell* root_slot(RootSlot slot) { return series_buffer(g_root_block)->cells() + slot; }

Node root_table(RootTable table) { return g_root_tables[table]; }

void root_table_set(RootTable table, Node node) { g_root_tables[table] = node; }

}  // namespace kiv
