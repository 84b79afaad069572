// The root block: one permanent block (fixed buffer) whose cells hold every
// series the runtime keeps for the whole run. The collector marks it first.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

// Cells of the root block, in order.
enum RootSlot : uint32_t {
  kRootDataStack,
  kRootCallStack,
  kRootSymbolTable,
  kRootGlobalContext,
  kRootRefreshScratch,  // scratch table of the hash! index refresh
  kRootSymbolIndex,     // map!-typed handle of the symbol table's name index (word 3)
  kRootWordCache,       // block of the runtime word cache's word, refinement and issue cells
  kRootOwnerTable,      // map!-typed handle of the owner table (word 3); its records are weak
  kRootSlotCount
};

extern Node g_root_block;

// MAY ALLOCATE. Makes the root block with room for [capacity] cells, all none!.
void root_block_init(uint32_t capacity);
// The cell of a root slot. Short-lived: the root buffer is fixed, but growing it moves it.
Cell* root_slot(RootSlot slot);

}  // namespace kiv
