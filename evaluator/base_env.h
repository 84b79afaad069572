// The base environment: what the global context holds before any library
// code runs: the typesets, the logic words, the natives, the actions and the
// operators, bound as start-up binds them.
#pragma once

namespace kiv {

// MAY ALLOCATE. Fills the natives table (once), brings the interpreter up
// and binds the base environment in the global context (again on every
// call: the test runners start each table from it).
void base_environment_init();

}  // namespace kiv
