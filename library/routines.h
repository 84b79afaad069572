// The routines of the library: each a Kiv spec, a body that is only shown,
// and a C++ entry (evaluator/routines.h).
#pragma once

#include "runtime/cell.h"

namespace kiv {

// MAY ALLOCATE. Registers every routine's entry and binds a routine! value
// for each in the global context.
void routines_init();

// MAY ALLOCATE. Sets the fields active?, series-cycles and nodes-cycles of
// the object [gc_object] (a stable cell; system/state/GC) to their routines.
void gc_routines_into(const Cell* gc_object);

}  // namespace kiv
