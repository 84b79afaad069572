// The argument readers of the routines listed in library/routines.def: one
// struct of named arguments per routine and the read_args that fills it, for
// every layer that implements routines.
#pragma once

#include "library/routines.h"
#include "runtime/stack.h"

namespace kiv::routine_args {
#define KIV_ARGS_FILE "library/routines.def"
#define KIV_ARGS_READERS
#define KIV_ARGS_FIRST_SLOT 0
#include "datatypes/named_args.inc"
}  // namespace kiv::routine_args
