// The base environment: what the global context holds before any library
// code runs: the typesets, the logic words, the natives, the actions and the
// operators, bound as start-up binds them.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

// MAY ALLOCATE. Fills the natives table (once), brings the interpreter up
// and binds the base environment in the global context (again on every
// call: the test runners start each table from it). Without [builtins] the
// natives, the actions and the operators are left out: start-up from the
// boot image defines the natives and actions as it decodes it (each made by
// base_environment_push_builtin), then calls base_environment_bind_operators.
void base_environment_init(bool builtins = true);
void base_environment_bind_operators();

// MAY ALLOCATE. Pushes the native! ([type] native!) or action! [id] made from
// its spec block [spec] (a stable cell). The first time for an id the spec
// is checked against the id's line, ending the process with a report when
// they disagree, and kept as the code's own (builtin_spec.h); after that it
// must fit the spec kept, as for make native! (script bad-make-arg).
Cell* base_environment_push_builtin(TypeId type, int32_t id, const Cell* spec);

}  // namespace kiv
