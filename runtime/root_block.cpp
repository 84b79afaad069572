// The root block and the root tables.
#include "runtime/root_block.h"

#include "runtime/collector.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"

namespace kiv {

Node g_root_block = 0;

namespace {

Node g_root_tables[kRootTableCount];
const SeriesBuffer* g_root_buffer = nullptr;  // the fixed buffer it was made with

void mark_root_tables() {
  for (Node table : g_root_tables) gc_mark_table(table);
}

}  // namespace

void root_block_init() {
  g_root_block = series_alloc_fixed(kRootSlotCount + kRootLiteralRoom, sizeof(Cell), 0);
  SeriesBuffer* b = series_buffer(g_root_block);
  g_root_buffer = b;
  for (uint32_t i = 0; i < kRootSlotCount; i++) b->cells()[i] = make_cell(kTypeNone);
  b->tail = kRootSlotCount * sizeof(Cell);
  for (Node& table : g_root_tables) table = 0;
  add_mark_callback(mark_root_tables);
}

Cell* root_slot(RootSlot slot) { return series_buffer(g_root_block)->cells() + slot; }

uint32_t root_block_room() {
  const SeriesBuffer* b = series_buffer(g_root_block);
  return (b->capacity - b->tail) / uint32_t(sizeof(Cell));
}

void root_block_assert_fixed() {
  const SeriesBuffer* b = series_buffer(g_root_block);
  fatal_assert(b == g_root_buffer && (b->flags & kSeriesFixed));
}

Node root_table(RootTable table) { return g_root_tables[table]; }

void root_table_set(RootTable table, Node node) { g_root_tables[table] = node; }

}  // namespace kiv
