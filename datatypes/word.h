// Words: word!, set-word!, lit-word!, get-word!, refinement!, issue!.
//
// Value cell:
//   word 1  node of the context the word is bound to, 0 when unbound
//   word 2  symbol id, as spelled
//   word 3  slot index in that context, -1 when not resolved
#pragma once

#include "runtime/cell.h"

namespace kiv {

// A word! for [name] in the global context, or none! while the symbol table
// does not exist yet (early start-up). MAY ALLOCATE.
Cell name_word_cell(const char* name);
// The word naming the innermost listed call frame (the "where" of an error), or none!.
Cell where_word_cell();

}  // namespace kiv
