// function! and routine!: functions made from a spec and a body.
//
// Value cell (function! 24, routine! 29):
//   header  type id; function!: kFlagFunctionTrace, kFlagFunctionNoTrace from
//           the spec's attribute block; routine!: kFlagRoutineMarked, and in
//           bits 25-29 its number of word! arguments (routine_arg_count)
//   word 1  node of the function's context (kind 1, values on the data stack
//           while a call runs); its self cell holds a copy of the value
//   word 2  node of the spec block (held at index 0)
//   word 3  node of the five-cell "more" block:
//             0  the body block (a deep copy for function!), or none
//             1  unset!, the evaluator's
//             2  the id of the function's native code as integer!, else unset!
//                (no code address is ever stored in a cell)
//             3  unset!; an op! made from the value keeps a copy of it here
//             4  the extra integer! the maker was given (function!: when not
//                0), else unset!
//
// Two function values are equal exactly when they share their more block:
// each making makes a new one, copies of the cell share it.
//
// Function specs: an optional attribute block of words, then argument words
// (word! evaluated, lit-word! and get-word! quoted) each with an optional
// type block and doc strings, refinements with their own arguments, an
// optional `return:` with its type block, and `/local` with the local words.
#pragma once

#include <cstdint>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"
#include "runtime/hooks.h"

namespace kiv {

// ---------------------------------------------------------------- the cell

inline constexpr uint32_t kFlagFunctionNoTrace = 0x200u;  // attribute `no-trace`
inline constexpr uint32_t kFlagFunctionTrace = 0x400u;    // attribute `trace`
inline constexpr uint32_t kFlagRoutineMarked = 0x8000u;   // set when make_routine_value is asked to
inline constexpr uint32_t kRoutineArgCountShift = 25;
inline constexpr uint32_t kRoutineArgCountMax = 31;  // bits 25-29

inline Node function_context(const Cell* value) { return value->data1; }
inline Node function_spec(const Cell* value) { return value->data2; }
inline Node function_more(const Cell* value) { return value->data3; }
// The more node of any function-like value (native!, action!, op!,
// function!, routine!): word 3 in every one of them.
inline Node function_like_more(const Cell* value) { return value->data3; }
// The number of word! arguments of a routine!'s spec.
inline int32_t routine_arg_count(const Cell* routine) {
  return int32_t((routine->header >> kRoutineArgCountShift) & kRoutineArgCountMax);
}

// Cells of the more block.
inline constexpr int32_t kFunctionMoreBody = 0;
inline constexpr int32_t kFunctionMoreCode = 2;
inline constexpr int32_t kFunctionMoreOp = 3;
inline constexpr int32_t kFunctionMoreExtra = 4;
inline constexpr int32_t kFunctionMoreCells = 5;

// A copy of cell [i] of the more block of a function!, routine! or op! over one.
Cell function_more_cell(const Cell* value, int32_t i);
// The body: a block! or none.
inline Cell function_body(const Cell* value) { return function_more_cell(value, kFunctionMoreBody); }
// Keeps a copy of the function! or routine! [value] in its more block, where
// an op! made from it finds it.
void function_keep_op_copy(const Cell* value);

// ---------------------------------------------------------------- calling

// Code of this layer calls a function-like value through the evaluator's
// call_value hook (runtime/hooks.h); without it the call raises internal
// not-done.

// ---------------------------------------------------------------- making

// MAY ALLOCATE. Pushes a new function! made from the block [spec] and [body]
// (a block!, or null or none for none) and returns its context node. A spec
// not at its head is copied from its position; both positions are first read
// into 0..tail. Without [ctx] (0) the context is made from the spec's words
// and the deep copy of the body is bound to it; a given [ctx] is used as it
// is. [code_id] (0: none) and [extra] (0: none) go into the more block;
// [flags] into the header. The spec is not checked: see function_check_spec.
Node make_function_value(const Cell* spec, const Cell* body, Node ctx, int32_t code_id, int32_t extra,
                         uint32_t flags);
// MAY ALLOCATE. Pushes a new routine! and returns it: spec and context as for
// functions, [body] kept as given (none for null), [code_id] and [extra]
// always written, kFlagRoutineMarked with [marked]. Script bad-func-def with
// the spec when it has more word! arguments than the header can count.
Cell* make_routine_value(const Cell* spec, const Cell* body, int32_t code_id, int32_t extra, bool marked);

// MAY ALLOCATE. Pushes a function! over the context [ctx] (kind 1, values on
// the data stack), the spec block [spec] and the body block [body], all taken
// as they are, for a decoder to fill; its self cell holds it. It has no
// argument list until function_decoded_finish.
Cell* function_push_decoded(Node ctx, Node spec, Node body);
// Makes the block [body] the body of [fn] (every copy of fn sees it).
void function_set_body(const Cell* fn, const Cell* body);
// MAY ALLOCATE. Finishes the stable [fn] made by function_push_decoded once its
// spec block is filled: checks the spec (function_check_spec's errors),
// takes the header flags it asks for (in [fn] and the self cell) and builds
// the argument list. False, with the list not built, when the context does
// not hold exactly the spec's words, in their order.
bool function_decoded_finish(Cell* fn);

// ---------------------------------------------------------------- specs

// MAY ALLOCATE. Checks the function spec block [spec] from its position and
// returns the header flags its attribute block asks for. Raises script
// bad-func-def with [spec] for a broken rule, invalid-type-spec or no-value
// for a bad type block entry, dup-vars with the later of two equal words.
uint32_t function_check_spec(const Cell* spec);
// The typeset! a spec's type block [types] stands for: each entry a
// datatype! or typeset!, or a word! whose value is one (or a word!, which
// adds nothing). Raises script no-value with a word that has no value and
// invalid-type-spec with any other entry. The one place type blocks are read.
Cell function_type_block_typeset(const Cell* types);

// Counts the locals of the spec [spec] from cell [start]: 1 for the first
// /local and 1 for each word! after it (refinements after it do not count).
// Without /local: 0, or -1 with [strict].
int32_t function_count_locals(Node spec, int32_t start, bool strict);
// Pushes a call's locals for a count from function_count_locals: false for
// /local, then none for each local word. Nothing for 0 or less.
void init_locals(int32_t count);
// MAY ALLOCATE. For the `function` maker: adds to the block [spec] (stable)
// the words [body] assigns (set-words, the words after foreach, remove-each
// and repeat, searched deeply) that the spec does not name, after a /local
// added when missing. Words after /extern are left out and /extern with them
// is cut from the spec. Pushes and returns the block of words added. Raises
// script bad-func-extern with a value a spec with /extern may not hold.
Cell* function_collect_locals(Cell* spec, const Cell* body);

// Word [n] (from 0) of the spec the function-like value [value] was made
// from, counting word!, lit-word!, get-word! and refinement! cells (read from
// its context's words, so a later change of the spec block changes nothing),
// as a word!; the word <anon> when [value] is not function-like or has fewer
// words. Error messages name arguments with it.
Cell function_arg_word(const Cell* value, int32_t n);
// function_arg_word of the value named by the innermost named call frame
// (the running function): the word <anon> when there is none.
Cell running_function_arg_word(int32_t n);

// ---------------------------------------------------------------- handlers

// MAY ALLOCATE. make function! [[spec] [body]]: checks the spec and pushes the
// function. Script bad-func-def with the make spec unless it is a block whose
// first two values are blocks.
Cell* function_make(Cell* proto, const MakeArgs& args);
// MAY ALLOCATE. reflect: spec (the spec block), body (the body, not a copy),
// words (a copy of the context's words); anything else raises internal
// not-done. Writes the first slot.
Cell* function_reflect(Cell* value, const ReflectArgs& args);
// MAY ALLOCATE. "?function?" and "?routine?".
int32_t function_form(Cell* value, const FormArgs& args);
int32_t routine_form(Cell* value, const FormArgs& args);
// MAY ALLOCATE. "func " spec body (or " none"); "routine " spec body.
int32_t function_mold(Cell* value, const MoldArgs& args);
int32_t routine_mold(Cell* value, const MoldArgs& args);
// -1, 0 or 1 by more block for the equalities, sort orders and same;
// kNotComparable for another type or another operator.
int function_compare(Cell* value, const CompareArgs& args);

}  // namespace kiv
