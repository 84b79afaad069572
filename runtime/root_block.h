// The root block: one permanent block (fixed buffer) whose cells hold every
// series the runtime keeps for the whole run, and the root tables: the hash
// tables the runtime keeps, by node. The collector marks the root block first;
// the root tables through a mark callback registered with the block.
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
  kRootWordCache,       // block of the runtime word cache's word, refinement and issue cells
  kRootCurrencyList,    // block of money!'s currency words (system/locale/currencies/list)
  kRootErrorCatalog,    // the error catalogue object (system/catalog/errors)
  kRootErrorPrototype,  // the error! every new error copies
  kRootMonthNames,      // block of the month names' strings (system/locale/months)
  kRootInterp,          // block of the interpreter's cells: the tracer
  kRootPrintScratch,    // block print and prin reduce their block arguments into
  kRootLibraryContext,  // the library's own context (a block! view), once start-up has made it
  kRootLibraryCalls,    // block of the library functions C++ code calls (evaluator/library_calls.h)
  kRootSlotCount
};

// Hash tables kept for the whole run (runtime/hashtable.h).
enum RootTable : uint32_t {
  kRootTableSymbolIndex,     // the symbol table's name index
  kRootTableOwners,          // the owner table; its records are weak
  kRootTableRefreshScratch,  // scratch table of the hash! index refresh
  kRootTableCount
};

extern Node g_root_block;

// MAY ALLOCATE. Makes the root block with room for [capacity] cells, all none!,
// and registers the root tables' mark callback.
void root_block_init(uint32_t capacity);
// The cell of a root slot. Short-lived: the root buffer is fixed, but growing it moves it.
Cell* root_slot(RootSlot slot);

// The node of a root table, 0 while it has none.
Node root_table(RootTable table);
void root_table_set(RootTable table, Node node);

}  // namespace kiv
