// Natives: the 107 built-in functions that are not actions, and how each is
// written, registered and called.
//
// Adding a native (family helpers): the native's line is in natives.def
// already (id, word, its arguments for the struct, and its spec). In the
// family's file, evaluator/natives_<family>.cpp, write its implementation
// with KIV_NATIVE and add one line to that file's register function:
//
//   KIV_NATIVE(If) {                        // Status native_If(const IfArgs& a)
//     if (!truthy(a.cond)) return native_result(kNoneCell);
//     return eval_block(a.then_blk, true);  // the block's value is the result
//   }
//   ...
//   void natives_control_register() {
//     KIV_REGISTER(If);
//   }
//
// A native implemented above the evaluator (a service: call, browse) is
// written the same way in its service's file and installed from its
// start-up step with KIV_INSTALL (below) instead. A native neither
// registered nor installed raises internal not-done when called.
//
// Calling convention. The caller opens a native frame and pushes every
// argument from the arguments base in spec order, the arguments of each
// refinement in their fixed slots (none! when the refinement is absent). The
// entry receives a check flag and one integer per refinement in spec order:
// -1 when absent, else the slot of its first argument (or, for a refinement
// without arguments, any value from 0). The interpreter checks the argument
// types itself and passes check = false; other callers pass true and the
// entry checks each plain argument, and each argument of a present
// refinement, against the native's own spec (script expect-arg,
// datatypes/builtin_spec.h). The generated struct
// then names every argument (a Cell* into the data stack: stable) and every
// refinement (bool, or the Cell* of its argument, null when absent).
//
// Result: the first argument slot (stack_arg(0), which is also the first
// argument's cell, or the slot at the arguments base for a native without
// arguments). native_result writes it. A native with nothing to return
// leaves unset! there (the caller clears the slot to unset! before the call
// for a native without arguments).
//
// Status: kStatusOk, or a break/continue/return/exit status passed on from
// the interpreter or raised by the native itself (see evaluator/interpreter.h);
// a native that receives a status from Kiv code it runs returns it at once
// unless it is that exit's target. Errors and throw travel as KivThrow.
#pragma once

#include <algorithm>
#include <cstdint>

#include "datatypes/builtin_spec.h"
#include "datatypes/logic.h"
#include "datatypes/named_args.h"
#include "datatypes/native.h"
#include "evaluator/interpreter.h"
#include "runtime/cell.h"
#include "runtime/stack.h"

namespace kiv {

enum NativeId : uint8_t {
#define NATIVE(id, Ident, word, params, spec) kNative##Ident = id,
#include "evaluator/natives.def"
};
// The number of natives: the lines of natives.def, which list the ids 1..107
// in order.
inline constexpr int32_t kNativeCount = 0
#define NATIVE(id, Ident, word, params, spec) +1
#include "evaluator/natives.def"
    ;
static_assert(kNativeCount == 107 && kNativeApply == kNativeCount,
              "natives.def lists the ids 1..107 in order");
static_assert(kNativeCount <= kNativeTableSize, "the natives table holds every native");

// ---------------------------------------------------------------- argument structs

// In their own namespace: some natives share a name with a C++ worker's
// argument struct (transcode).
namespace native_args {
#define KIV_ARGS_FILE "evaluator/natives.def"
#define KIV_ARGS_STRUCTS
#include "datatypes/named_args.inc"

// Reads the struct of each native from the data stack and the refinement
// slots (read_args), inline in each native's entry; the rows of declared
// refinements and parameters.
#define KIV_ARGS_FILE "evaluator/natives.def"
#define KIV_ARGS_READERS
#define KIV_ARGS_FIRST_SLOT 0
#include "datatypes/named_args.inc"
}  // namespace native_args

// The most refinements a native takes: how many refinement slots a call of
// any native fills.
inline constexpr int kNativeMaxRefinements = std::max({0
#define NATIVE(id, Ident, word, params, spec) , native_args::k##Ident##RefinementCount
#include "evaluator/natives.def"
});

// ---------------------------------------------------------------- the table

struct NativeInfo {
  NativeId id;
  const char* word;
  const char* spec;             // the spec block as text
  const DeclaredParam* params;  // its arguments and refinements as its line declares them
};
// Row n describes native n (row 0 is unused).
extern const NativeInfo g_natives_info[kNativeCount + 1];

// The implementations, one per native; a family file defines those it registers.
#define NATIVE(id, Ident, word, params, spec) Status native_##Ident(const native_args::Ident##Args& a);
#include "evaluator/natives.def"

#define KIV_NATIVE(Ident) Status native_##Ident([[maybe_unused]] const native_args::Ident##Args& a)

// The entry point the natives table holds for an implementation: with
// [check], the argument check of its own spec first (builtin_check_args).
template <class Args, Status (*Impl)(const Args&), NativeId Id>
Status native_entry_of(bool check, const int32_t* r) {
  if (check) builtin_check_args(Builtin::kNative, Id, r);
  Args a;
  native_args::read_args(a, r);
  return Impl(a);
}

// Fills native [id]'s slot of the natives table.
void native_register(NativeId id, NativeEntry entry);
#define KIV_REGISTER(Ident) \
  native_register(kNative##Ident, &native_entry_of<native_args::Ident##Args, native_##Ident, kNative##Ident>)

// Fills native [id]'s slot from a layer above the evaluator (a service),
// during start-up, as registry_install does for action handlers: the entry
// is kept and natives_init puts it in the table after the families' own, or
// at once when the table is filled already. Once start-up is over
// (registry_seal) an install ends the process with a report.
void native_install(NativeId id, NativeEntry entry);
#define KIV_INSTALL(Ident) \
  native_install(kNative##Ident, &native_entry_of<native_args::Ident##Args, native_##Ident, kNative##Ident>)

// Each family file's register function (called by natives_init).
void natives_control_register();   // natives_control.cpp: if ... remove-each, switch, case
void natives_eval_register();      // natives_eval.cpp: do, reduce, compose, get, set, ..., try, catch, throw,
                                   // break, ...
void natives_function_register();  // natives_function.cpp: func, function, does, has
void natives_math_register();  // natives_math.cpp: comparison, logic, sets, sign tests, max/min, shift, trig,
                               // logs
void natives_system_register();  // natives_system.cpp: now, wait, get-env, set-env, list-env, size?, recycle,
                                 // stats
void natives_output_register();  // natives_output.cpp: print, prin
void natives_convert_register();  // natives_convert.cpp: dehex ... new-line?, transcode
void natives_parse_register();    // parse.cpp: parse

// MAY ALLOCATE. Fills the natives table: every native's entry, the registered
// or installed implementation or one raising internal not-done.
void natives_init();

// ---------------------------------------------------------------- helpers for implementations

// Writes [value] into the current call's result slot; kStatusOk.
inline Status native_result(const Cell& value) {
  *stack_arg(0) = value;
  return kStatusOk;
}
// The truth of a value: false only for none! and false (unset! is truthy).
inline bool truthy(const Cell* value) {
  TypeId t = value->type();
  return !(t == kTypeNone || (t == kTypeLogic && !logic_get(value)));
}

}  // namespace kiv
