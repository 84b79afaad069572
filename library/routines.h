// The routines of the library: each a Kiv spec, a body that is only shown,
// and a C++ entry (evaluator/routines.h).
#pragma once

namespace kiv {

// MAY ALLOCATE. Registers every routine's entry and binds a routine! value
// for each in the global context.
void routines_init();

}  // namespace kiv
