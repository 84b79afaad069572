// The routines of the library: each a Kiv spec, a body that is only shown,
// and a C++ entry (evaluator/routines.h), declared once by its line in
// library/routines.def.
//
// Adding a routine: its line in routines.def (a new id after the last; ids
// never move), then its implementation with KIV_ROUTINE, in routines.cpp or
// the file of its concern:
//
//   KIV_ROUTINE(ExistsQ) {            // Status routine_ExistsQ(const ExistsQArgs& a)
//     return native_result(logic_cell(file_exists(a.path)));
//   }
//
// routines_init registers every entry under its id and binds its value.
#pragma once

#include <cstdint>

#include "evaluator/natives.h"
#include "evaluator/routines.h"
#include "runtime/cell.h"

namespace kiv {

enum RoutineId : uint8_t {
#define ROUTINE(id, Ident, word, params, spec) kRoutine##Ident = id,
#define STATE_ROUTINE(id, Ident, word, params, spec) kRoutine##Ident = id,
#define CODEC_ROUTINE(id, Ident, word, params, spec) kRoutine##Ident = id,
#define CONSOLE_ROUTINE(id, Ident, word, params, spec) kRoutine##Ident = id,
#define CONSOLE_FIELD_ROUTINE(id, Ident, word, params, spec) kRoutine##Ident = id,
#define TYPE_PREDICATE(id, Ident, word, Type) kRoutine##Ident = id,
#define TYPESET_PREDICATE(id, Ident, word, typeset) kRoutine##Ident = id,
#include "library/routines.def"
};
// The number of routines: the lines of routines.def, which list the ids in order.
inline constexpr int32_t kRoutineCount = 0
#define ROUTINE(...) +1
#define STATE_ROUTINE(...) +1
#define CODEC_ROUTINE(...) +1
#define CONSOLE_ROUTINE(...) +1
#define CONSOLE_FIELD_ROUTINE(...) +1
#define TYPE_PREDICATE(...) +1
#define TYPESET_PREDICATE(...) +1
#include "library/routines.def"
    ;
// The ids as listed, so the check below needs no edit when a line is added.
inline constexpr uint8_t kRoutineIdsListed[] = {
#define ROUTINE(id, ...) id,
#define STATE_ROUTINE(id, ...) id,
#define CODEC_ROUTINE(id, ...) id,
#define CONSOLE_ROUTINE(id, ...) id,
#define CONSOLE_FIELD_ROUTINE(id, ...) id,
#define TYPE_PREDICATE(id, ...) id,
#define TYPESET_PREDICATE(id, ...) id,
#include "library/routines.def"
};
constexpr bool routine_ids_run_in_order() {
  for (int32_t i = 0; i < kRoutineCount; ++i)
    if (kRoutineIdsListed[i] != i + 1) return false;
  return true;
}
static_assert(routine_ids_run_in_order(), "routines.def lists the ids 1..n in order");

// ---------------------------------------------------------------- argument structs

namespace routine_args {
#define KIV_ARGS_FILE "library/routines.def"
#define KIV_ARGS_STRUCTS
#include "datatypes/named_args.inc"

// Every predicate of a family takes the family's struct.
#define TYPE_PREDICATE(id, Ident, word, Type) using Ident##Args = PredicateArgs;
#define TYPESET_PREDICATE(id, Ident, word, typeset) using Ident##Args = PredicateArgs;
#include "library/routines.def"

// Routines take no refinements: their frames give a refinement a slot of
// its own, which the readers do not read.
#define ROUTINE(id, Ident, word, params, spec) static_assert(k##Ident##RefinementCount == 0);
#define STATE_ROUTINE(id, Ident, word, params, spec) static_assert(k##Ident##RefinementCount == 0);
#define CODEC_ROUTINE(id, Ident, word, params, spec) static_assert(k##Ident##RefinementCount == 0);
#define CONSOLE_ROUTINE(id, Ident, word, params, spec) static_assert(k##Ident##RefinementCount == 0);
#define CONSOLE_FIELD_ROUTINE(id, Ident, word, params, spec) static_assert(k##Ident##RefinementCount == 0);
#include "library/routines.def"

// Reads the struct of each routine from the data stack.
#define ARGS(Name, ...) void read_args(Name##Args& a, const int32_t* r);
#include "library/routines.def"
}  // namespace routine_args

// ---------------------------------------------------------------- entries

// The implementations, one per routine.
#define ROUTINE(id, Ident, word, params, spec) Status routine_##Ident(const routine_args::Ident##Args& a);
#define STATE_ROUTINE(id, Ident, word, params, spec) \
  Status routine_##Ident(const routine_args::Ident##Args& a);
#define CODEC_ROUTINE(id, Ident, word, params, spec) \
  Status routine_##Ident(const routine_args::Ident##Args& a);
#define CONSOLE_ROUTINE(id, Ident, word, params, spec) \
  Status routine_##Ident(const routine_args::Ident##Args& a);
#define CONSOLE_FIELD_ROUTINE(id, Ident, word, params, spec) \
  Status routine_##Ident(const routine_args::Ident##Args& a);
#define TYPE_PREDICATE(id, Ident, word, Type) Status routine_##Ident(const routine_args::Ident##Args& a);
#define TYPESET_PREDICATE(id, Ident, word, typeset) \
  Status routine_##Ident(const routine_args::Ident##Args& a);
#include "library/routines.def"

#define KIV_ROUTINE(Ident) Status routine_##Ident([[maybe_unused]] const routine_args::Ident##Args& a)

// The entry point the routines table holds for an implementation: with
// [check], the argument check of its own spec first (builtin_check_args).
template <class Args, Status (*Impl)(const Args&), RoutineId Id>
Status routine_entry_of(bool check, const int32_t* r) {
  if (check) builtin_check_args(Builtin::kRoutine, Id, r);
  Args a;
  routine_args::read_args(a, r);
  return Impl(a);
}

// Registers the entry of a CONSOLE_ROUTINE or CONSOLE_FIELD_ROUTINE, whose
// implementation lives above this layer; called from that layer's start-up
// step. Until then such a routine raises the internal error routines.
#define KIV_ROUTINE_INSTALL(Ident)  \
  routine_register(kRoutine##Ident, \
                   &routine_entry_of<routine_args::Ident##Args, routine_##Ident, kRoutine##Ident>)

// MAY ALLOCATE. Registers every routine's entry under its id, checks each
// spec against its line (datatypes/builtin_spec.h) and binds a routine! value
// for each in the global context.
void routines_init();

// MAY ALLOCATE. Sets the fields active?, series-cycles and nodes-cycles of
// the object [gc_object] (a stable cell; system/state/GC) to their routines.
void gc_routines_into(const Cell* gc_object);

// MAY ALLOCATE. Sets the fields encode* and decode of the kivbin codec object
// [codec] (a stable cell; system/codecs/kivbin) to their routines.
void codec_routines_into(const Cell* codec);

// MAY ALLOCATE. Sets the field init of the console object [console] (a stable
// cell; system/console) to its routine, when the object has that field.
void console_routines_into(const Cell* console);

}  // namespace kiv
