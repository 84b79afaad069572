// The interpreter's own working parts, shared by interpreter.cpp (the
// general path, which defines the reference semantics) and code_cache.cpp
// (the compiled form of code blocks, which hands back to the general path
// whenever a guard fails). Nothing outside the evaluator includes this.
//
// Everything here follows the rules of interpreter.cpp: a running block is
// held as (node, index), the tail re-read before every expression and
// argument; every expression's value is pushed; a non-zero status returns
// at once.
#pragma once

#include <algorithm>
#include <cstdint>

#include "datatypes/actions.h"
#include "datatypes/arglist.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/library_calls.h"
#include "evaluator/natives.h"
#include "platform/thread.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv::interp {

// ---------------------------------------------------------------- the general path

// MAY RUN KIV CODE. Evaluates the expression at [*index] of [node] and
// pushes its value; [infix_operand]: an operator's right operand, no
// lookahead; [whole]: an expression of its own (the expr trace event).
Status eval_expr(Node node, int32_t* index, bool infix_operand, bool whole = false);
// MAY RUN KIV CODE. The operators after the value at [left], the general way.
Status eval_infix_general(Node node, int32_t* index, Cell* left);
// MAY RUN KIV CODE. Calls the function-like value at [fn_slot] (an op!
// retyped to its underlying type) with arguments from [source].
Status call_at(Cell* fn_slot, const CallSource& source, bool infix);
// MAY RUN KIV CODE. Runs the body of the function! at [fn_slot], its
// arguments and locals in place.
Status invoke_function(Cell* fn_slot);
// Script expect-arg and no-arg for the call of [fn] named by [source].
[[noreturn]] void refuse_arg(const Cell* fn, const CallSource& source, const Cell* value, int32_t item);
[[noreturn]] void raise_no_arg(const Cell* fn, const CallSource& source, int32_t item);
bool integer_modulo(int32_t x, int32_t y, Cell* out);

// The cell at index [i] of the block [node] into [*out]; false past the tail.
inline bool code_at(Node node, int32_t i, Cell* out) {
  SeriesBuffer* b = series_buffer(node);
  if (i < 0 || uint32_t(i) >= b->cell_count()) return false;
  *out = b->head_cell()[i];
  return true;
}

inline bool code_end_q(Node node, int32_t i) { return i < 0 || uint32_t(i) >= series_cell_count(node); }

// Makes [node] the current code (unless it is library code:
// block_library_code_q) while a block's evaluation runs, and puts the
// current code back when it ends, however it ends.
class CurrentCodeScope {
 public:
  explicit CurrentCodeScope(Node node) : saved_(g_interp.current), library_(block_library_code_q(node)) {
    if (!library_) g_interp.current = {node, 0};
  }
  ~CurrentCodeScope() { g_interp.current = saved_; }
  // The expression at [index] of the block starts.
  void at(int32_t index) const {
    if (!library_) g_interp.current.index = index;
  }

 private:
  CurrentCode saved_;
  bool library_;
};

// Counts one level of nested evaluation; stack-overflow before the native
// stack runs out.
class DepthGuard {
 public:
  DepthGuard() {
    if (native_stack_low(kNativeStackMargin)) raise_error(kErrInternalStackOverflow);
    g_interp.depth++;
  }
  ~DepthGuard() { g_interp.depth--; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
};

inline FrameName body_frame_name(Node block) { return FrameName{g_stack.body_symbol, block}; }

// The word naming a call: [name] when it is a word, else <anon>.
inline Cell call_word(const Cell* name) {
  if (name && is_any_word(name->type())) {
    Cell w = *name;
    w.set_header(kTypeWord);
    return w;
  }
  return runtime_value(kWordAnon);
}

// The frame name of a call named by [name] (call_word's word), without making the word.
inline FrameName call_frame_name(const Cell* name) {
  if (name && is_any_word(name->type())) return frame_name_of(name);
  Cell anon = runtime_value(kWordAnon);
  return frame_name_of(&anon);
}

inline bool function_value_q(TypeId t) {
  return t == kTypeNative || t == kTypeAction || t == kTypeFunction || t == kTypeRoutine;
}

// The value of [word] when its context holds values now, else null. Raises nothing.
[[gnu::always_inline]] inline Cell* peek_word_value(const Cell* word) {
  return context_peek_slot(word_context(word), word_index(word));
}

// The types whose values evaluate to themselves in code: every type but the
// words, paths, parens, functions and issue! (which eval_expr looks at).
constexpr uint64_t kSelfEvaluatingTypes = [] {
  uint64_t bits = ~uint64_t(0);
  for (TypeId t : {kTypeWord, kTypeSetWord, kTypeGetWord, kTypeLitWord, kTypeParen, kTypePath, kTypeGetPath,
                   kTypeSetPath, kTypeLitPath, kTypeOp, kTypeNative, kTypeAction, kTypeFunction, kTypeRoutine,
                   kTypeIssue, kTypeUnset})
    bits &= ~(uint64_t(1) << t);
  return bits;
}();

// The types a word's value may have to be pushed as it is.
constexpr uint64_t kPlainValueTypes = [] {
  uint64_t bits = ~uint64_t(0);
  for (TypeId t : {kTypeOp, kTypeNative, kTypeAction, kTypeFunction, kTypeRoutine, kTypeUnset})
    bits &= ~(uint64_t(1) << t);
  return bits;
}();

// The refinement slots of a call: as many as the native or action with the
// most refinements takes (routines take none; functions keep theirs on the stack).
constexpr int32_t kMaxRefinementSlots = std::max(kNativeMaxRefinements, kActionMaxRefinements);

// Fetches one argument of [mode] from [source] and pushes it; false at the
// end of the code (nothing pushed).
[[gnu::always_inline]] inline bool fetch_argument(ArgMode mode, const CallSource& source, bool infix,
                                                  Status* status) {
  if (!source.block) return false;
  Node node = source.block->node();
  Cell v;
  if (!code_at(node, *source.index, &v)) return false;
  if (source.mode & kCallLiteral) mode = kArgLiteral;
  switch (mode) {
    case kArgEvaluated: *status = eval_expr(node, source.index, infix); return true;
    case kArgLiteral:
      (*source.index)++;
      stack_push_value(v);
      return true;
    case kArgSoftQuoted:
      (*source.index)++;
      if (v.is(kTypeParen)) {
        *status = eval_block(&v, false);
      } else if (v.is(kTypeGetWord)) {
        stack_push_cell(get_word_value(&v));
      } else if (v.is(kTypeGetPath)) {
        *status = eval_path(&v, source.block, source.index, nullptr, true);
      } else {
        stack_push_value(v);
      }
      return true;
  }
  return false;
}

// The arithmetic and comparisons of two integers that the actions and
// natives below compute (integer_builtin), named once for a callee so that
// compiled code computes them without looking at the callee again.
enum IntArith : uint8_t {
  kArithNone,  // not computed here
  kArithAdd,
  kArithSubtract,
  kArithMultiply,
  kArithRemainder,
  kArithDivide,
  kArithEqual,
  kArithNotEqual,
  kArithLesser,
  kArithGreater,
  kArithLesserOrEqual,
  kArithGreaterOrEqual,
};

// The arithmetic the native! or action! [type] with [id] computes on two integers.
constexpr IntArith int_arith_of(TypeId type, uint32_t id) {
  if (type == kTypeAction) {
    switch (id) {
      case kActionAdd: return kArithAdd;
      case kActionSubtract: return kArithSubtract;
      case kActionMultiply: return kArithMultiply;
      case kActionRemainder: return kArithRemainder;
      case kActionDivide: return kArithDivide;
      default: return kArithNone;
    }
  }
  if (type != kTypeNative) return kArithNone;
  switch (id) {
    case kNativeEqualQ:
    case kNativeStrictEqualQ:
    case kNativeSameQ: return kArithEqual;
    case kNativeNotEqualQ: return kArithNotEqual;
    case kNativeLesserQ: return kArithLesser;
    case kNativeGreaterQ: return kArithGreater;
    case kNativeLesserOrEqualQ: return kArithLesserOrEqual;
    case kNativeGreaterOrEqualQ: return kArithGreaterOrEqual;
    default: return kArithNone;
  }
}

// [arith] on two integers done in place into [*out] exactly as the callee's
// entry would: false (nothing written) for kArithNone, and wherever the
// entry gives something else than an integer or a logic (an overflow gives a
// float!, an inexact division a float!) or raises (division by zero).
[[gnu::always_inline]] inline bool int_arith(IntArith arith, int32_t x, int32_t y, Cell* out) {
  int32_t r;
  switch (arith) {
    case kArithNone: return false;
    case kArithAdd:
      if (__builtin_add_overflow(x, y, &r)) return false;
      break;
    case kArithSubtract:
      if (__builtin_sub_overflow(x, y, &r)) return false;
      break;
    case kArithMultiply:
      if (__builtin_mul_overflow(x, y, &r)) return false;
      break;
    case kArithRemainder:
      if (y == 0 || (x == INT32_MIN && y == -1)) return false;
      r = x % y;
      break;
    case kArithDivide:
      if (y == 0 || (x == INT32_MIN && y == -1) || x % y != 0) return false;
      r = x / y;
      break;
    default: {
      bool truth;
      switch (arith) {
        case kArithEqual: truth = x == y; break;
        case kArithNotEqual: truth = x != y; break;
        case kArithLesser: truth = x < y; break;
        case kArithGreater: truth = x > y; break;
        case kArithLesserOrEqual: truth = x <= y; break;
        default: truth = x >= y; break;
      }
      store_cell_whole(out, logic_cell(truth));
      return true;
    }
  }
  store_cell_whole(out, integer_cell(r));
  return true;
}

// The arithmetic and comparisons of two integers that the actions and
// natives of int_arith_of compute, done in place into [*out] exactly as
// their entries would (int_arith): false for any other callee.
[[gnu::always_inline]] inline bool integer_builtin(TypeId type, uint32_t id, int32_t x, int32_t y,
                                                   Cell* out) {
  return int_arith(int_arith_of(type, id), x, y, out);
}

// Runs the C++ entry of the native! or action! at [fn_slot], its arguments in
// place above it and its refinement slots [refs] filled.
[[gnu::always_inline]] inline Status run_builtin_entry(const Cell* fn_slot, const int32_t* refs) {
  if (fn_slot->is(kTypeNative)) {
    NativeEntry entry = native_entry(int32_t(native_id(fn_slot)));
    if (!entry) raise_error(kErrInternalNotDone);
    return entry(false, refs);
  }
  g_actions_table[native_id(fn_slot)].entry(refs);
  return kStatusOk;
}

// Opens the frame of a call of the function! or routine! at [fn_slot] (the
// stack top just above it) named [name]; a function's frame keeps its
// context's values reference to put back.
[[gnu::always_inline]] inline void open_function_call(const Cell* fn_slot, FrameName name) {
  CallFrame* frame = push_frame(name, (kFrameFunction << 24) | kFrameInterpFlag);
  if (fn_slot->is(kTypeFunction)) {
    frame->fn_context = function_context(fn_slot);
    frame->saved_values = context_values(frame->fn_context);
  }
}

// Closes the frame of a function call (stack_unwind_function, the context's
// values put back directly): the result, at the call's arguments base, is
// left as the last pushed value; returns it.
[[gnu::always_inline]] inline Cell* close_function_call() {
  Cell* callee = g_stack.arguments;
  CallFrame* f = pop_frame(false);
  if (f->fn_context) context_set_values(f->fn_context, f->saved_values);
  g_stack.arguments = stack_at(f->prev_args);
  g_stack.top = callee + 1;
  return callee;
}

// Drops the frame of the native or action call at [fn_slot] whose result is
// already in place there, as stack_unwind would.
[[gnu::always_inline]] inline void drop_builtin_call(Cell* fn_slot) {
  CallFrame* f = pop_frame(false);
  g_stack.arguments = stack_at(f->prev_args);
  g_stack.top = fn_slot + 1;
}

// The call of the native or action at [fn_slot] whose arguments are
// fetched, computed on the spot when they are two integers (integer_builtin)
// and nothing traces: its frame closed and its result in place of the
// function value, true. False, having changed nothing, otherwise. Runs no
// code and allocates nothing.
[[gnu::always_inline]] inline bool builtin_in_place(Cell* fn_slot, const CallShape& shape) {
  Cell* args = g_stack.arguments;
  if (shape.params == 2 && args[0].is(kTypeInteger) && args[1].is(kTypeInteger) && !g_interp.tracing &&
      integer_builtin(fn_slot->type(), native_id(fn_slot), integer_get(&args[0]), integer_get(&args[1]),
                      fn_slot)) {
    drop_builtin_call(fn_slot);
    return true;
  }
  return false;
}

// Ends the call of the native or action at [fn_slot] whose arguments are
// fetched and refinement slots [refs] filled by its entry (builtin_in_place
// tried first by the caller). Its frame is closed and its result replaces
// the function value, the last pushed value.
[[gnu::always_inline]] inline Status run_builtin_call(Cell* fn_slot, const int32_t* refs) {
  Cell* args = g_stack.arguments;
  if (g_stack.top == args) stack_push();  // the result slot of a native without arguments
  Status s = run_builtin_entry(fn_slot, refs);
  if (s != kStatusOk) return s;
  stack_unwind();
  *fn_slot = fn_slot[1];
  g_stack.top = fn_slot + 1;
  return kStatusOk;
}

// builtin_in_place, else run_builtin_call.
[[gnu::always_inline]] inline Status finish_builtin_call(Cell* fn_slot, const CallShape& shape,
                                                         const int32_t* refs) {
  if (builtin_in_place(fn_slot, shape)) return kStatusOk;
  return run_builtin_call(fn_slot, refs);
}

// The values of a call's parameters after its leading ones (a list of
// [shape]), pushed when its path names no refinement: none for each
// refinement's argument and, for a function! or routine! ([is_function]),
// false for each refinement in its own slot. A native's or action's
// refinements take no slot, so its nones are counted without reading [list].
[[gnu::always_inline]] inline void push_absent_arguments(Node list, const CallShape& shape,
                                                         bool is_function) {
  if (shape.items == shape.params) return;
  if (!is_function) {
    for (int32_t k = shape.items - shape.params - shape.count; k > 0; k--) stack_push_value(kNoneCell);
    return;
  }
  for (int32_t k = shape.params; k < shape.items; k++)
    stack_push_value(series_cells(list)[k].is(kTypeRefinement) ? kFalseCell : kNoneCell);
}

// The library function whose arguments are in place in the function frame
// on top, run as its native translation when that gives the same result:
// modulo on two integers (integer_modulo). Its result goes to the arguments
// base, the last pushed value; false (nothing written) for every other call,
// and while tracing (the call's events stay those of its body).
[[gnu::always_inline]] inline bool function_translated(const Cell* fn_slot) {
  if (!library_call_maybe_q(LibraryCall::kModulo, fn_slot)) return false;
  Cell* args = g_stack.arguments;
  if (g_stack.top < args + 2 || !args[0].is(kTypeInteger) || !args[1].is(kTypeInteger) || g_interp.tracing)
    return false;
  if (!library_call_q(LibraryCall::kModulo, fn_slot) ||
      !integer_modulo(integer_get(&args[0]), integer_get(&args[1]), args))
    return false;
  g_stack.top = args + 1;
  return true;
}

// An operator on two integers computed in place into [*out], as its callee
// would compute it (integer_builtin; modulo for `//`): false (nothing
// written) otherwise.
[[gnu::always_inline]] inline bool integer_infix(const Cell& op, int32_t x, int32_t y, Cell* out) {
  const TypeId type = op_underlying_type(&op);
  if (type == kTypeFunction) return library_call_q(LibraryCall::kModulo, &op) && integer_modulo(x, y, out);
  return integer_builtin(type, native_id(&op), x, y, out);
}

// The integer an operand cell gives without evaluation with effects: an
// integer! literal, or a word whose context holds an integer! now.
[[gnu::always_inline]] inline const Cell* integer_operand(const Cell* c) {
  if (c->is(kTypeWord)) c = peek_word_value(c);
  return c && c->is(kTypeInteger) ? c : nullptr;
}

// True when the value at [i] of [b] is an operator word.
[[gnu::always_inline]] inline bool op_word_at(SeriesBuffer* b, uint32_t i) {
  if (i >= b->cell_count()) return false;
  const Cell* c = b->head_cell() + i;
  if (!c->is(kTypeWord)) return false;
  const Cell* v = peek_word_value(c);
  return v && v->is(kTypeOp);
}

// The operators after the value at [left], when the next value is an
// operator word (eval_infix_general): most expressions have none, which
// this finds in a few loads, and an integer operator on an integer operand
// that needs no evaluation is computed here.
[[gnu::always_inline]] inline Status eval_infix(Node node, int32_t* index, Cell* left) {
  for (;;) {
    SeriesBuffer* b = series_buffer(node);
    const uint32_t i = uint32_t(*index);
    const uint32_t count = b->cell_count();
    if (i >= count) return kStatusOk;
    const Cell* next = b->head_cell() + i;
    if (!next->is(kTypeWord)) return kStatusOk;
    const Cell* op = peek_word_value(next);
    if (!op || !op->is(kTypeOp)) return kStatusOk;
    if (g_interp.tracing || !left->is(kTypeInteger) || i + 1 >= count) break;
    const Cell* right = next + 1;
    if (right->is(kTypeWord)) {
      right = peek_word_value(right);
      if (!right) break;
    }
    if (!right->is(kTypeInteger) || !integer_infix(*op, integer_get(left), integer_get(right), left)) break;
    *index = int32_t(i + 2);
  }
  return eval_infix_general(node, index, left);
}

}  // namespace kiv::interp
