// Routines: thin functions of the library whose code is C++. A routine! value
// keeps its spec and a body block that is only shown; the code id in it picks
// the C++ entry registered here. An entry finds its arguments from the call's
// arguments base on (one cell per word of the spec, already type-checked) and
// leaves its result in the first of them. [extra] is the number the routine
// was made with, so one entry can serve a family of routines.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

using RoutineEntry = void (*)(Cell* args, int32_t extra);

// The highest code id a routine may have.
inline constexpr int32_t kRoutineCodeMax = 255;

// Registers [entry] under [code_id] (1 to kRoutineCodeMax).
void routine_register(int32_t code_id, RoutineEntry entry);

// The entry of [code_id], or null when none is registered: such a routine
// (one made by a script) raises the internal error routines when called.
RoutineEntry routine_entry(int32_t code_id);

}  // namespace kiv
