// native!, action! and op!: values that call built-in code, and the natives
// table they name their code by.
//
// Native and action value cell (native! 21, action! 22):
//   header  type id
//   word 1  the id of the native or action: its entry in the natives table or
//           the actions table (no code address is ever stored in a cell)
//   word 2  node of the spec block (held at index 0)
//   word 3  node of the "more" block: a copy of the value's context! cell and none
//
// Op value cell (op! 23): the underlying value's three payload words, with the
// underlying type id (native! 21, action! 22, function! 24, routine! 29) in
// header bits 16-23. An op over a function or routine has that value's
// context node in word 1 and its more node in word 3 (datatypes/function.h);
// the function itself sits in cell 4 of that more block.
//
// Two natives, actions or ops are equal exactly when their words 1 are: the
// same entry (or, for an op over a function, the same function context),
// whatever their specs; ops must also call the same kind of value.
#pragma once

#include <array>
#include <cstdint>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"
#include "runtime/exits.h"

namespace kiv {

// ---------------------------------------------------------------- the cell

inline uint32_t native_id(const Cell* value) { return value->data1; }
inline Node native_spec(const Cell* value) { return value->data2; }
inline Node native_more(const Cell* value) { return value->data3; }
// The type of the value an op! calls.
inline TypeId op_underlying_type(const Cell* op) { return TypeId((op->header >> 16) & 0xFF); }
// True for an op! over a function! or routine!.
inline bool op_over_function_q(const Cell* op) {
  TypeId t = op_underlying_type(op);
  return t == kTypeFunction || t == kTypeRoutine;
}

// Cells of a native's or action's more block.
inline constexpr int32_t kNativeMoreContext = 0;  // a copy of the context! cell
inline constexpr int32_t kNativeMoreCells = 2;

// ---------------------------------------------------------------- the natives table

// The table has kNativeTableSize entries; the natives fill the first ones
// (evaluator/natives.def), the slots past them stay empty.
inline constexpr int32_t kNativeTableSize = 120;

// The entry point of a native: [check] asks it to test its arguments against
// their typesets first (calls from compiled code); [refinements] holds one
// argument index (or -1 when absent) per refinement of its spec, in spec order.
// Arguments and result are on the data stack as for actions. It returns a
// status: 0, or the code of a break, continue, return or exit on its way
// (evaluator/interpreter.h).
using NativeEntry = Status (*)(bool check, const int32_t* refinements);

// Slot id - 1 holds native id's entry; not collector memory.
extern std::array<NativeEntry, kNativeTableSize> g_natives_table;
// The entry of native [id], or null for an id outside 1..kNativeTableSize and
// for a slot no native fills.
inline NativeEntry native_entry(int32_t id) {
  return id >= 1 && id <= kNativeTableSize ? g_natives_table[size_t(id - 1)] : nullptr;
}
// Fills slot [id] (1..kNativeTableSize) with [entry], or empties it with null;
// the evaluator fills the table at start-up. Any other id is a fatal assertion.
void native_table_set(int32_t id, NativeEntry entry);
// True when native [id] has an entry a native! value can call.
inline bool native_callable_q(int32_t id) { return native_entry(id) != nullptr; }
// True when action [id] can be a value of its own: 1..62 less the slots
// without a word (7 path evaluation and 9 compare take other arguments, 8 is empty).
bool action_callable_q(int32_t id);

// ---------------------------------------------------------------- handlers

// MAY ALLOCATE. make native! from [spec ... id]: a block! of exactly two values
// from its position, a spec block and an integer! id naming a filled slot of
// the natives table, the spec fitting the entry's own (builtin_spec_fits);
// script bad-make-arg with native! and the make spec otherwise. Pushes the
// native!: its spec is the spec block (copied from its position when that is
// not its head), its context holds the spec's words.
Cell* native_make(Cell* proto, const MakeArgs& args);
// MAY ALLOCATE. The same for action! with an id that action_callable_q takes.
Cell* action_value_make(Cell* proto, const MakeArgs& args);
// MAY ALLOCATE. Start-up: pushes the native! or action! [id] (of [type]) made
// from the spec block [spec] that builtin_keep_own_spec has just kept as the
// code's own, which fits it without a check.
Cell* native_make_own(TypeId type, const Cell* spec, int32_t id);
// MAY ALLOCATE. make op! from an action!, native!, function! or routine!
// whose spec has exactly two leading arguments: a copy of it as an op!.
// Script invalid-type with the value's datatype for other values; script
// bad-op-spec for other specs.
Cell* op_make(Cell* proto, const MakeArgs& args);
// True when the spec block [spec] (from its head) describes exactly two
// arguments, the first a word!, before any refinement but /local or /extern.
bool op_spec_valid_q(Node spec);

// MAY ALLOCATE. reflect by field word: spec (the spec block, not a copy);
// body (the id, or an op over a function's body); anything else raises
// internal not-done. Writes the first slot.
Cell* native_reflect(Cell* value, const ReflectArgs& args);
// MAY ALLOCATE. "?native?", "?action?", "?op?".
int32_t native_form(Cell* value, const FormArgs& args);
int32_t action_value_form(Cell* value, const FormArgs& args);
int32_t op_form(Cell* value, const FormArgs& args);
// MAY ALLOCATE. "make native! [" (or action!) the spec molded "]"; the id is not written.
int32_t native_mold(Cell* value, const MoldArgs& args);
int32_t action_value_mold(Cell* value, const MoldArgs& args);
// MAY ALLOCATE. "make op! " then "func " the spec and body for an op over a
// function!, else "[" the spec "]".
int32_t op_mold(Cell* value, const MoldArgs& args);
// -1, 0 or 1 by word 1 for the equalities, sort orders and same (ops over
// different kinds of value by that kind first); kNotComparable for another
// type or another operator. Shared by the three types.
int native_compare(Cell* value, const CompareArgs& args);

}  // namespace kiv
