// Routines: thin functions of the library whose code is C++. A routine! value
// keeps its spec and a body block that is only shown; the code id in it (its
// stable id, library/routines.def) picks the C++ entry registered here.
//
// An entry has a native's shape (datatypes/native.h NativeEntry): a check
// flag and the refinement slots, its arguments from the call's arguments
// base in spec order, its result left in the first of them, and a status.
// The interpreter checks the arguments' types itself and passes check =
// false; with check = true the entry checks them against the routine's own
// spec (datatypes/builtin_spec.h).
#pragma once

#include <cstdint>

#include "datatypes/builtin_spec.h"
#include "datatypes/native.h"

namespace kiv {

using RoutineEntry = NativeEntry;

// The highest code id a routine may have.
inline constexpr int32_t kRoutineCodeMax = kBuiltinIdMax;

// Registers [entry] under [code_id] (1 to kRoutineCodeMax).
void routine_register(int32_t code_id, RoutineEntry entry);

// The entry of [code_id], or null when none is registered: such a routine
// (one made by a script) raises the internal error routines when called.
RoutineEntry routine_entry(int32_t code_id);

}  // namespace kiv
