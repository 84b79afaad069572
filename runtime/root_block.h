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
  kRootInterp,          // block of the interpreter's cells: the tracer, the one a C++ tracer stands in for
  kRootPrintScratch,    // block print and prin reduce their block arguments into
  kRootLibraryContext,  // the library's own context (a block! view), once start-up has made it
  kRootLibraryCalls,    // block of the library functions C++ code calls (evaluator/library_calls.h)
  kRootProfiler,        // the block of the profiler's records while it runs (library/profiler.cpp)
  kRootSlotCount
};

// Hash tables kept for the whole run (runtime/hashtable.h).
enum RootTable : uint32_t {
  kRootTableSymbolIndex,     // the symbol table's name index
  kRootTableOwners,          // the owner table; its records are weak
  kRootTableRefreshScratch,  // scratch table of the hash! index refresh
  kRootTableCount
};

// Cells the root block keeps after its slots for the boot image's literals
// (library/boot_image.h), which start-up appends there.
inline constexpr uint32_t kRootLiteralRoom = 48;

extern Node g_root_block;

// MAY ALLOCATE. Makes the root block, a fixed buffer with room for its slots
// and kRootLiteralRoom literals, the slots none!, and registers the root
// tables' mark callback.
void root_block_init();
// The cell of a root slot. Short-lived: valid until the next allocation.
Cell* root_slot(RootSlot slot);
// Cells that may still be appended to the root block without growing it.
uint32_t root_block_room();
// Ends the process as a fault when the root block's buffer is no longer the
// fixed one it was made with: every slot index and literal index stays a
// place in one buffer that never moves.
void root_block_assert_fixed();

// The node of a root table, 0 while it has none.
Node root_table(RootTable table);
void root_table_set(RootTable table, Node node);

}  // namespace kiv
