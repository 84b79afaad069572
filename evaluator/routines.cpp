// The table of routine entries (routines.h).
#include "evaluator/routines.h"

#include "runtime/fatal.h"

namespace kiv {

namespace {

RoutineEntry g_routine_entries[kRoutineCodeMax + 1] = {};

}  // namespace

void routine_register(int32_t code_id, RoutineEntry entry) {
  if (code_id < 1 || code_id > kRoutineCodeMax) fatal_no_switch();
  g_routine_entries[code_id] = entry;
}

RoutineEntry routine_entry(int32_t code_id) {
  return code_id >= 1 && code_id <= kRoutineCodeMax ? g_routine_entries[code_id] : nullptr;
}

}  // namespace kiv
