// The base environment: what the global context holds before any library
// code runs: the typesets, the logic words, the natives, the actions and the
// operators, bound as start-up binds them.
#pragma once

namespace kiv {

// MAY ALLOCATE. Fills the natives table, brings the interpreter up and binds
// the base environment in the global context. Once; later calls do nothing.
void base_environment_init();

}  // namespace kiv
