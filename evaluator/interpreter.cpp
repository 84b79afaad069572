// The interpreter: expressions, calls and argument fetching.
//
// Invariants:
// - A running block is held as (node, index), never as a Cell* into it: the
//   tail is re-read before every expression and every argument, so code that
//   changes the block it runs reads neither past its tail nor a moved buffer.
//   The node is kept alive by the frame evaluating it: block-evaluation
//   frames are named <body> and carry the block's node where other frames
//   carry the naming word's context (the collector marks it as a block; every
//   frame listing skips <body> frames).
// - Every expression's value is pushed; a caller that wants it as its result
//   moves it into its result slot.
// - A call lays out [function value][arguments...] from the function value's
//   cell: the value stays rooted for the call and the result replaces it.
// - A non-zero status returns at once, leaving the stacks as the exit left them.
#include "evaluator/interpreter.h"

#include <algorithm>

#include "datatypes/actions.h"
#include "datatypes/arglist.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/code_cache.h"
#include "evaluator/interp_internal.h"
#include "evaluator/library_calls.h"
#include "evaluator/natives.h"
#include "evaluator/path_fast.h"
#include "evaluator/routines.h"
#include "platform/thread.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/gc_root.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/root_block.h"
#include "runtime/typesets.h"

namespace kiv {

InterpState g_interp{};

namespace interp {

// ---------------------------------------------------------------- reading code

// ---------------------------------------------------------------- depth

// ---------------------------------------------------------------- names and errors

// ---------------------------------------------------------------- tracing

void trace_value_event(TraceEvent event, Node node, int32_t index, const Cell* value) {
  if (!(g_interp.trace_mask & event)) return;
  Cell code = series_cell(kTypeBlock, node);
  trace_event(event, node ? &code : nullptr, index, value, nullptr);
}

// ---------------------------------------------------------------- forward

Status eval_expr_general(Node node, int32_t* index, bool infix_operand, bool whole);

// ---------------------------------------------------------------- simple operands

static_assert(kMaxTypeId < 64);

// ---------------------------------------------------------------- argument fetching

// Script expect-arg: the call of [fn] named by [source] does not take
// [value] for the parameter of list item [item].
[[noreturn]] void refuse_arg(const Cell* fn, const CallSource& source, const Cell* value, int32_t item) {
  Cell word = call_word(source.name);
  Cell param = function_arg_word(fn, item);
  raise_expect_arg(&word, value->type(), &param);
}

[[noreturn]] void raise_no_arg(const Cell* fn, const CallSource& source, int32_t item) {
  Cell word = call_word(source.name);
  Cell param = function_arg_word(fn, item);
  raise_error(kErrScriptNoArg, &word, &param);
}

// Fetches the argument of list item [item] (a typeset) into the stack slot
// [slot]: pushed, checked, moved into place. At the end of the code a
// soft-quoted parameter that takes unset! gets it; else script no-arg.
[[gnu::always_inline]] inline Status fetch_into(const Cell* fn, Node list, int32_t item,
                                                const CallSource& source, bool infix, Cell* slot) {
  const ArgMode mode = arg_mode(&series_cells(list)[item]);
  Status s = kStatusOk;
  Cell* pushed = g_stack.top;
  if (!fetch_argument(mode, source, infix, &s)) {
    if (mode == kArgSoftQuoted && typeset_has_q(&series_cells(list)[item], kTypeUnset)) {
      stack_push();
    } else {
      raise_no_arg(fn, source, item);
    }
  }
  if (s != kStatusOk) return s;
  // Read again: the fetch may have moved the list's buffer.
  if (!typeset_has_q(&series_cells(list)[item], pushed->type())) refuse_arg(fn, source, pushed, item);
  if (slot != pushed) {
    *slot = *pushed;
    g_stack.top = pushed;
  }
  return kStatusOk;
}

// A refinement of a call's list found by a path element: its list item and
// the stack slot (from the arguments base) that item takes.
struct FoundRefinement {
  int32_t item;
  int32_t slot;
};

// The refinement of list [list] that the path element [element] names, with
// the slot it takes counted on the way: parameters one each, refinements one
// each for functions ([is_function]). The refinement of the element's own
// symbol is looked for first, in one walk that resolves no symbol; then the
// first whose symbol resolves to the element's (a list never holds two
// names that resolve alike: making it refuses them). Script no-refine,
// bad-refine as the rules say.
FoundRefinement find_refinement(Node list, int32_t items, const Cell* element, const CallSource& source,
                                bool is_function) {
  if (!element->is(kTypeWord) && !element->is(kTypeRefinement) && !element->is(kTypeGetWord)) {
    Cell word = call_word(source.name);
    raise_error(kErrScriptBadRefine, &word, element);
  }
  const int32_t symbol = word_symbol(element);
  for (int pass = 0; pass < 2; pass++) {
    const int32_t wanted = pass == 0 ? symbol : symbol_resolve(symbol);
    int32_t slot = 0;
    for (int32_t i = 0; i < items; i++) {
      const Cell* item = series_cells(list) + i;
      if (!item->is(kTypeRefinement)) {
        slot++;
        continue;
      }
      const int32_t own = word_symbol(item);
      if (pass == 0 ? own == wanted : symbol_resolve(own) == wanted) return {i, slot};
      if (is_function) slot++;
    }
  }
  Cell word = call_word(source.name);
  Cell ref = *element;
  ref.set_header(kTypeRefinement);
  raise_error(kErrScriptNoRefine, &word, &ref);
}

// The refinements a path names, in the path's order, after every other
// argument of the call of [fn_slot] (frame open, arguments base = fn_slot +
// 1) is in place: each one's state (true, or a get-word's truth) into its
// slot for a function, its slot into [refs] for a native or action, and the
// arguments of each one that is on fetched into their slots.
Status fetch_path_refinements(Cell* fn_slot, Node list, int32_t items, const CallSource& source, bool infix,
                              bool is_function, int32_t* refs) {
  Cell* base = g_stack.arguments;
  Node path = source.path->node();
  uint32_t used[4] = {0, 0, 0, 0};  // bit per refinement ordinal (up to 128)
  for (int32_t p = source.path_index; !code_end_q(path, p); p++) {
    Cell element = series_cells(path)[p];
    const FoundRefinement found = find_refinement(list, items, &element, source, is_function);
    int32_t ordinal = word_index(&series_cells(list)[found.item]) - 1;
    if (ordinal < 128) {
      if (used[ordinal / 32] & (1u << (ordinal % 32))) {
        Cell word = call_word(source.name);
        raise_error(kErrScriptDupRefine, &word, &element);
      }
      used[ordinal / 32] |= 1u << (ordinal % 32);
    }
    bool on = true;
    if (element.is(kTypeGetWord)) {
      Cell* v = get_word_value(&element);
      on = !(v->is(kTypeNone) || (v->is(kTypeLogic) && !logic_get(v)));
    }
    int32_t slot = found.slot;
    if (is_function) {
      base[slot] = logic_cell(on);
      slot++;
    } else if (on) {
      refs[ordinal] = slot;
    }
    if (!on) continue;
    for (int32_t j = found.item + 1; j < items && !series_cells(list)[j].is(kTypeRefinement); j++, slot++) {
      Status s = fetch_into(fn_slot, list, j, source, infix, base + slot);
      if (s != kStatusOk) return s;
    }
  }
  return kStatusOk;
}

// eval-arguments: fetches every argument of [fn] (at fn_slot, frame open,
// arguments base = fn_slot + 1) and fills the refinement slots [refs].
Status fetch_arguments(Cell* fn_slot, Node list, const CallSource& source, bool infix, int32_t* refs) {
  Cell* base = g_stack.arguments;
  const bool is_function = fn_slot->is(kTypeFunction) || fn_slot->is(kTypeRoutine);
  const int32_t items = int32_t(series_cell_count(list)) - 1;
  const bool apply_all = source.mode & kCallApplyAll;
  const bool safer = source.mode & kCallSafer;
  if (!is_function) {
    // A native's or action's spec fits its code's own (arglist_of), so its
    // refinements fit the slots; a list that did not is refused, never written past.
    const int32_t count = integer_get(&series_cells(list)[items]);
    if (count < 0 || count > kMaxRefinementSlots) {
      Cell spec = series_cell(kTypeBlock, native_spec(fn_slot));
      raise_error(kErrScriptBadFuncDef, &spec);
    }
    std::fill(refs, refs + count, -1);
  }
  int32_t refinement = 0;
  bool active = true;
  for (int32_t i = 0; i < items; i++) {
    Cell item = series_cells(list)[i];
    if (item.is(kTypeRefinement)) {
      if (apply_all) {
        // apply/all: the refinement's state is the truth of the next value.
        Cell* pushed = g_stack.top;
        Status s = kStatusOk;
        bool on = false;
        if (fetch_argument(kArgEvaluated, source, false, &s)) {
          if (s != kStatusOk) return s;
          on = !(pushed->is(kTypeNone) || (pushed->is(kTypeLogic) && !logic_get(pushed)));
          g_stack.top = pushed;
        }
        active = on;
        if (is_function)
          stack_push_value(logic_cell(on));
        else if (on)
          refs[refinement] = int32_t(g_stack.top - base);
        refinement++;
        continue;
      }
      active = false;
      if (is_function) stack_push_value(kFalseCell);
      refinement++;
      continue;
    }
    if (!active) {
      // An inactive refinement's parameter: none, and apply/all consumes its value.
      if (apply_all && source.block && !code_end_q(source.block->node(), *source.index)) {
        if (safer) {
          (*source.index)++;
        } else {
          Cell* pushed = g_stack.top;
          Status s = kStatusOk;
          fetch_argument(kArgEvaluated, source, false, &s);
          if (s != kStatusOk) return s;
          g_stack.top = pushed;
        }
      }
      stack_push_value(kNoneCell);
      continue;
    }
    if (infix && i == 0) {
      // The left operand is in place already.
      g_stack.top = base + 1;
      if (!typeset_has_q(&item, base->type())) refuse_arg(fn_slot, source, base, i);
      continue;
    }
    if (apply_all && (!source.block || code_end_q(source.block->node(), *source.index))) {
      stack_push_value(kNoneCell);  // a short apply/all block completes with none
      continue;
    }
    Status s = fetch_into(fn_slot, list, i, source, infix, g_stack.top);
    if (s != kStatusOk) return s;
  }

  // Refinements named by a path, in the path's order.
  if (source.path) return fetch_path_refinements(fn_slot, list, items, source, infix, is_function, refs);
  return kStatusOk;
}

// The common call: arguments from the code that follows (no path, no
// apply) of a function whose leading parameters are all evaluated. Fetches
// them straight into place, one type test each (the left operand of an
// infix call is in place already), then gives every refinement and its
// arguments their absent values: none for each argument, and false for the
// refinement itself when a function! keeps it on the stack. The refinement
// slots of a native or action are the caller's.
[[gnu::always_inline]] inline Status fetch_plain(Cell* fn_slot, Node list, const CallShape& shape,
                                                 const CallSource& source, bool infix, bool is_function) {
  const Node node = source.block->node();
  int32_t i = 0;
  if (infix && shape.params > 0) {
    if (!typeset_has_q(&series_cells(list)[0], g_stack.arguments->type()))
      refuse_arg(fn_slot, source, g_stack.arguments, 0);
    i = 1;
  }
  for (; i < shape.params; i++) {
    SeriesBuffer* b = series_buffer(node);
    const uint32_t at = uint32_t(*source.index);
    if (at >= b->cell_count()) raise_no_arg(fn_slot, source, i);
    Cell* pushed = g_stack.top;
    // A value that evaluates to itself, or a word holding a plain value, is
    // taken here (as eval_expr would take it); the rest goes to eval_expr.
    const Cell* code = b->head_cell() + at;
    const Cell* value = code;
    bool simple = !g_interp.tracing && ((kSelfEvaluatingTypes >> code->type()) & 1);
    if (!simple && code->is(kTypeWord) && !g_interp.tracing) {
      value = peek_word_value(code);
      simple = value && ((kPlainValueTypes >> value->type()) & 1);
    }
    if (simple) {
      stack_push_cell(value);
      *source.index = int32_t(at + 1);
      if (!infix) {
        Status s = eval_infix(node, source.index, pushed);
        if (s != kStatusOk) return s;
      }
    } else {
      Status s = eval_expr(node, source.index, infix);
      if (s != kStatusOk) return s;
    }
    // Read the list again: the evaluation may have moved its buffer.
    if (!typeset_has_q(&series_cells(list)[i], pushed->type())) refuse_arg(fn_slot, source, pushed, i);
  }
  push_absent_arguments(list, shape, is_function);
  return kStatusOk;
}

// The library's modulo on two integers, as its Kiv code computes it, for
// operands whose every intermediate sum fits (the code's own overflow errors
// stay with the code): the remainder of [x] by |[y]|, made non-negative.
bool integer_modulo(int32_t x, int32_t y, Cell* out) {
  constexpr int32_t kLimit = 1 << 29;
  if (y == 0 || x <= -kLimit || x >= kLimit || y <= -kLimit || y >= kLimit) return false;
  const int32_t b = y < 0 ? -y : y;
  int32_t r = x % b;
  if (r < 0) r += b;
  store_cell_whole(out, integer_cell(r));
  return true;
}

// ---------------------------------------------------------------- running a function!

// The open, call and return events of a call from [source]: the value
// called (its result at return), and the word that named the call (for an
// anonymous call, the value itself but at return).
[[gnu::noinline, gnu::cold]] void trace_named_event(TraceEvent event, const CallSource& source,
                                                    const Cell* fn_slot) {
  const Cell* name = source.name ? source.name : event == kTraceReturn ? nullptr : fn_slot;
  int32_t position = event == kTraceOpen && source.index ? *source.index : -1;
  trace_event(event, source.block, position, fn_slot, name);
}

// Tracing, at the start of [fn_slot]'s [body]: library functions, like
// [no-trace] ones, run their bodies untraced; others send prolog.
[[gnu::noinline, gnu::cold]] void trace_body_start(const Cell* fn_slot, const Cell* body) {
  if ((fn_slot->header & kFlagFunctionNoTrace) || block_library_code_q(body->node())) {
    g_interp.tracing = false;
    return;
  }
  trace_event(kTraceProlog, body, 0, nullptr, fn_slot);
}

Status invoke_function(Cell* fn_slot) {
  if (function_translated(fn_slot)) return kStatusOk;
  Node ctx = function_context(fn_slot);
  context_set_values(ctx, stack_index(g_stack.arguments) + 1);
  const Node more = function_more(fn_slot);
  const Cell body = series_length(more) > uint32_t(kFunctionMoreBody) ? series_cells(more)[kFunctionMoreBody]
                                                                      : make_cell(kTypeUnset);
  stack_top_frame()->header |= kFrameBodyFlag;
  if (!body.is(kTypeBlock)) {
    *g_stack.arguments = make_cell(kTypeUnset);
    g_stack.top = g_stack.arguments + 1;
    return kStatusOk;
  }
  // The body's catch point puts tracing back however the body ends.
  Status s = catch_exit_status(kExitTargetFunction, [&] {
    if (fn_slot->header & kFlagFunctionNoTrace) g_interp.tracing = false;
    if (g_interp.tracing) trace_body_start(fn_slot, &body);
    // The function's frame stands for its body: held on the stack, the body
    // runs without a frame of its own.
    return eval_block_here(stack_push_cell(&body), true);
  });
  if (return_status_q(s)) {
    // The result is in the arguments base, where return put it.
    g_stack.top = g_stack.arguments + 1;
    s = kStatusOk;
  }
  if (s != kStatusOk) return s;
  if (g_interp.tracing) trace_event(kTraceEpilog, &body, -1, g_stack.arguments, fn_slot);
  stack_top_frame()->header &= ~kFrameBodyFlag;
  return kStatusOk;
}

// Runs the C++ entry of the routine! at [fn_slot] (its arguments fetched and
// checked); its result goes to the arguments base, the last pushed value.
// Routines take no refinements (library/routines.def): [refs] is not read.
Status invoke_routine(const Cell* fn_slot, const int32_t* refs) {
  Cell code = function_more_cell(fn_slot, kFunctionMoreCode);
  RoutineEntry entry = code.is(kTypeInteger) ? routine_entry(integer_get(&code)) : nullptr;
  if (!entry) raise_error(kErrInternalRoutines, block_push_only(1));
  if (g_stack.top == g_stack.arguments) stack_push();  // the result slot of a routine without arguments
  Status s = entry(false, refs);
  if (s != kStatusOk) return s;
  g_stack.top = g_stack.arguments + 1;
  return kStatusOk;
}

// ---------------------------------------------------------------- calling

// Calls the function-like value at [fn_slot] (an op! already retyped to its
// underlying type); for an infix call its left operand is at fn_slot + 1 and
// the stack top past it. The result replaces the function value and is the
// last pushed value.
Status call_at(Cell* fn_slot, const CallSource& source, bool infix) {
  DepthGuard depth;
  if (g_interp.tracing) trace_named_event(kTraceOpen, source, fn_slot);
  // An infix call's left operand stays below the top: building the list may collect.
  g_stack.top = fn_slot + (infix ? 2 : 1);
  const TypeId type = fn_slot->type();
  const FrameName name = call_frame_name(source.name);
  const Node list = arglist_of(fn_slot);
  g_stack.top = fn_slot + 1;
  const CallShape shape = call_shape(list);
  // From code, with or without refinements named by a path: the leading
  // parameters the plain way, then the path's refinements.
  const bool plain = shape.plain && source.mode == kCallCode && source.block;
  int32_t refs[kMaxRefinementSlots];
  Status s;
  if (type == kTypeFunction || type == kTypeRoutine) {
    open_function_call(fn_slot, name);
    if (infix) g_stack.top = g_stack.arguments + 1;
    if (plain) {
      s = fetch_plain(fn_slot, list, shape, source, infix, true);
      if (s == kStatusOk && source.path)
        s = fetch_path_refinements(fn_slot, list, shape.items, source, infix, true, refs);
    } else {
      s = fetch_arguments(fn_slot, list, source, infix, refs);
    }
    if (s != kStatusOk) return s;
    if (g_interp.tracing) trace_named_event(kTraceCall, source, fn_slot);
    if (type == kTypeRoutine) {
      s = invoke_routine(fn_slot, refs);
      if (s != kStatusOk) return s;
      stack_unwind();
    } else {
      init_locals(shape.count);
      s = invoke_function(fn_slot);
      if (s != kStatusOk) return s;
      close_function_call();
    }
    // The result replaces the function value.
    *fn_slot = fn_slot[1];
    g_stack.top = fn_slot + 1;
  } else if (type == kTypeNative || type == kTypeAction) {
    stack_mark_interp_native(name);
    if (infix) g_stack.top = g_stack.arguments + 1;
    if (plain) {
      // A native's or action's list fits its code's own (arglist_of), so
      // its refinements fit the slots.
      if (shape.count > kMaxRefinementSlots) {
        Cell spec = series_cell(kTypeBlock, native_spec(fn_slot));
        raise_error(kErrScriptBadFuncDef, &spec);
      }
      std::fill(refs, refs + shape.count, -1);
      s = fetch_plain(fn_slot, list, shape, source, infix, false);
      if (s == kStatusOk && source.path)
        s = fetch_path_refinements(fn_slot, list, shape.items, source, infix, false, refs);
    } else {
      s = fetch_arguments(fn_slot, list, source, infix, refs);
    }
    if (s != kStatusOk) return s;
    if (g_interp.tracing) trace_named_event(kTraceCall, source, fn_slot);
    s = finish_builtin_call(fn_slot, shape, refs);
    if (s != kStatusOk) return s;
  } else {
    fatal_no_switch();
  }
  if (g_interp.tracing) trace_named_event(kTraceReturn, source, fn_slot);
  return kStatusOk;
}

// Pushes a copy of [fn] retyped to what it calls and calls it.
Status call_value_at_top(const Cell* fn, const CallSource& source) {
  Cell* slot = stack_push_value(*fn);
  if (slot->is(kTypeOp)) slot->set_header(op_underlying_type(slot));
  return call_at(slot, source, false);
}

// ---------------------------------------------------------------- expressions

// The op! value of the word at [index] of [node] when the next value is an
// operator word; its word into [*word].
bool next_op(Node node, int32_t index, Cell* word, Cell* op) {
  if (!code_at(node, index, word) || !word->is(kTypeWord)) return false;
  Cell* v = peek_word_value(word);
  if (!v || !v->is(kTypeOp)) return false;
  *op = *v;
  return true;
}

// The right operand at [index] of [node] when it is an integer! that takes
// no evaluation with effects to read: an integer literal, or a word! whose
// context holds values now and whose value is an integer.
bool integer_operand_at(Node node, int32_t index, int32_t* out) {
  Cell v;
  if (!code_at(node, index, &v)) return false;
  if (v.is(kTypeInteger)) {
    *out = integer_get(&v);
    return true;
  }
  if (!v.is(kTypeWord)) return false;
  const Cell* value = peek_word_value(&v);
  if (!value || !value->is(kTypeInteger)) return false;
  *out = integer_get(value);
  return true;
}

// The call of the action! or native! [fn] whose word is at [i] of the code
// [b], on the two operands after it, computed into [*out] without a call when integer_builtin computes it:
// both operands integers (integer_operand), no operator after the second (which would make it part of an
// expression), and the callee's argument list already built, plain, with two leading parameters that take
// integer!. False (nothing written) otherwise. Nothing here allocates or raises.
[[gnu::always_inline]] inline bool integer_call(const Cell* fn, SeriesBuffer* b, uint32_t i, Cell* out) {
  const Cell* code = b->head_cell() + i;
  const Cell* x = integer_operand(code + 1);
  if (!x) return false;
  const Cell* y = integer_operand(code + 2);
  if (!y || op_word_at(b, i + 3)) return false;
  const Cell& kept = series_cells(function_like_more(fn))[kArglistCell];
  if (!kept.is(kTypeBlock)) return false;
  const CallShape shape = call_shape(kept.node());
  if (shape.params != 2 || !shape.plain) return false;
  const Cell* params = series_cells(kept.node());
  if (!typeset_has_q(&params[0], kTypeInteger) || !typeset_has_q(&params[1], kTypeInteger)) return false;
  return integer_builtin(fn->type(), native_id(fn), integer_get(x), integer_get(y), out);
}

// The call of the native! or action! at [fn_slot] (the stack top) from the
// code, as call_at makes it when its list is plain and nothing traces, with
// only what that case needs; call_at for everything else.
Status call_builtin_plain(Cell* fn_slot, const CallSource& source) {
  const Cell& kept = series_cells(function_like_more(fn_slot))[kArglistCell];
  if (!kept.is(kTypeBlock) || g_interp.tracing) return call_at(fn_slot, source, false);
  const Node list = kept.node();
  const CallShape shape = call_shape(list);
  if (!shape.plain || shape.count > kMaxRefinementSlots) return call_at(fn_slot, source, false);
  DepthGuard depth;
  stack_mark_interp_native(call_frame_name(source.name));
  int32_t refs[kMaxRefinementSlots];
  std::fill(refs, refs + shape.count, -1);
  Status s = fetch_plain(fn_slot, list, shape, source, false, false);
  if (s != kStatusOk) return s;
  return finish_builtin_call(fn_slot, shape, refs);
}

// The call of the function! at [fn_slot] (the stack top) from the code, as
// call_at makes it when its list is plain and nothing traces; call_at for
// everything else.
Status call_function_plain(Cell* fn_slot, const CallSource& source) {
  const Cell& kept = series_cells(function_like_more(fn_slot))[kArglistCell];
  if (!kept.is(kTypeBlock) || g_interp.tracing) return call_at(fn_slot, source, false);
  const Node list = kept.node();
  const CallShape shape = call_shape(list);
  if (!shape.plain) return call_at(fn_slot, source, false);
  DepthGuard depth;
  open_function_call(fn_slot, call_frame_name(source.name));
  Status s = fetch_plain(fn_slot, list, shape, source, false, true);
  if (s != kStatusOk) return s;
  init_locals(shape.count);
  s = invoke_function(fn_slot);
  if (s != kStatusOk) return s;
  *fn_slot = *close_function_call();
  g_stack.top = fn_slot + 1;
  return kStatusOk;
}

// The infix call of the built-in operator at [fn_slot] (retyped to its
// native! or action!) on the integer left operand at fn_slot + 1 whose right
// operand needs evaluating: the operator's frame is opened and the left
// operand checked as call_at would, the right operand evaluated in that
// frame, and two integers computed on the spot (integer_builtin); for any
// other right operand the call goes on as call_at makes it. Everything else
// (a function behind the operator, a list not plain or not yet built) is
// call_at's.
Status call_integer_op(Cell* fn_slot, const CallSource& source) {
  const TypeId type = fn_slot->type();
  if (type != kTypeNative && type != kTypeAction) return call_at(fn_slot, source, true);
  const Cell& kept = series_cells(function_like_more(fn_slot))[kArglistCell];
  if (!kept.is(kTypeBlock)) return call_at(fn_slot, source, true);
  const Node list = kept.node();
  const CallShape shape = call_shape(list);
  const Node node = source.block->node();
  if (!shape.plain || shape.params != 2 || shape.count > kMaxRefinementSlots ||
      code_end_q(node, *source.index))
    return call_at(fn_slot, source, true);
  DepthGuard depth;
  // The frame as call_at opens it: its arguments from the left operand on.
  g_stack.top = fn_slot + 1;
  stack_mark_interp_native(call_frame_name(source.name));
  Cell* args = g_stack.arguments;
  g_stack.top = args + 1;
  if (!typeset_has_q(&series_cells(list)[0], kTypeInteger)) refuse_arg(fn_slot, source, args, 0);
  Status s = eval_expr(node, source.index, true);
  if (s != kStatusOk) return s;
  if (!typeset_has_q(&series_cells(list)[1], args[1].type())) refuse_arg(fn_slot, source, args + 1, 1);
  push_absent_arguments(list, shape, false);
  if (g_interp.tracing || !args[1].is(kTypeInteger) ||
      !integer_builtin(type, native_id(fn_slot), integer_get(&args[0]), integer_get(&args[1]), fn_slot)) {
    if (g_interp.tracing) trace_named_event(kTraceCall, source, fn_slot);
    int32_t refs[kMaxRefinementSlots];
    std::fill(refs, refs + shape.count, -1);
    s = run_builtin_entry(fn_slot, refs);
    if (s != kStatusOk) return s;
    stack_unwind();
    *fn_slot = fn_slot[1];
    g_stack.top = fn_slot + 1;
    if (g_interp.tracing) trace_named_event(kTraceReturn, source, fn_slot);
    return kStatusOk;
  }
  drop_builtin_call(fn_slot);  // computed in place
  return kStatusOk;
}

Status eval_infix_general(Node node, int32_t* index, Cell* left) {
  Cell word, op;
  Cell code = series_cell(kTypeBlock, node);
  while (next_op(node, *index, &word, &op)) {
    if (g_interp.tracing) trace_value_event(kTraceFetch, node, *index, &word);
    (*index)++;
    int32_t right;
    if (!g_interp.tracing && left->is(kTypeInteger) && integer_operand_at(node, *index, &right) &&
        integer_infix(op, integer_get(left), right, left)) {
      (*index)++;
      continue;
    }
    // [op][left] from the left operand's cell.
    g_stack.top = left + 1;
    stack_push_value(*left);
    *left = op;
    left->set_header(op_underlying_type(&op));
    CallSource source;
    source.block = &code;
    source.index = index;
    source.name = &word;
    Status s = left[1].is(kTypeInteger) && !g_interp.tracing ? call_integer_op(left, source)
                                                             : call_at(left, source, true);
    if (s != kStatusOk) return s;
  }
  return kStatusOk;
}

// Evaluates the expression at [*index] of [node] (not at its end) and pushes
// its value; [infix_operand]: an operator's right operand, no lookahead;
// [whole]: an expression of its own (not an argument or an assigned
// value), which the expr trace event reports.
[[gnu::noinline]] Status eval_expr_general(Node node, int32_t* index, bool infix_operand, bool whole) {
  Cell v;
  if (!code_at(node, *index, &v)) {
    stack_push();
    return kStatusOk;
  }
  const int32_t at = *index;
  (*index)++;
  Cell* start = g_stack.top;
  Status s = kStatusOk;
  if (g_interp.tracing) trace_value_event(kTraceFetch, node, at, &v);
  switch (v.type()) {
    case kTypeWord: {
      // The common case inline; get_word_value raises for the others.
      Cell* value = peek_word_value(&v);
      if (!value) value = get_word_value(&v);
      TypeId t = value->type();
      if (function_value_q(t)) {
        Cell code = series_cell(kTypeBlock, node);
        CallSource source;
        source.block = &code;
        source.index = index;
        source.name = &v;
        s = call_value_at_top(value, source);
      } else if (t == kTypeUnset) {
        raise_error(kErrScriptNoValue, &v);
      } else if (t == kTypeOp) {
        raise_error(kErrScriptNoOpArg, &v);
      } else {
        stack_push_cell(value);
      }
      break;
    }
    case kTypeSetWord: {
      if (code_end_q(node, *index)) raise_error(kErrScriptNeedValue, &v);
      s = eval_expr(node, index, false);
      if (s != kStatusOk) return s;
      if (g_interp.tracing) trace_event(kTraceSet, nullptr, at, start, &v);
      // A plain store in place; set_word_value for the rest (object fields,
      // growth, unbound words and the errors).
      if (Cell* slot = context_plain_store_slot(word_context(&v), word_index(&v))) {
        *slot = *start;
      } else {
        Cell* word = stack_push_value(v);
        set_word_value(word, start);
      }
      g_stack.top = start + 1;
      break;
    }
    case kTypeGetWord: stack_push_cell(get_word_value(&v)); break;
    case kTypeLitWord: {
      Cell* w = stack_push_value(v);
      w->set_type(kTypeWord);
      break;
    }
    case kTypeParen: s = eval_block(&v, false); break;
    case kTypePath:
    case kTypeGetPath: {
      Cell code = series_cell(kTypeBlock, node);
      Cell* path = stack_push_value(v);
      s = eval_path(path, &code, index, nullptr, true);
      if (s != kStatusOk) return s;
      *start = g_stack.top[-1];
      g_stack.top = start + 1;
      break;
    }
    case kTypeSetPath: {
      if (code_end_q(node, *index)) raise_error(kErrScriptNeedValue, &v);
      Cell* path = stack_push_value(v);
      s = eval_expr(node, index, false);
      if (s != kStatusOk) return s;
      if (g_interp.tracing) trace_event(kTraceSet, nullptr, at, path + 1, &v);
      s = eval_path(path, nullptr, nullptr, path + 1, true);
      if (s != kStatusOk) return s;
      *start = path[1];
      g_stack.top = start + 1;
      break;
    }
    case kTypeLitPath: {
      Cell* p = stack_push_value(v);
      p->set_type(kTypePath);
      break;
    }
    case kTypeOp: raise_error(kErrInternalNotDone);
    case kTypeNative:
    case kTypeAction:
    case kTypeFunction:
    case kTypeRoutine: {
      Cell code = series_cell(kTypeBlock, node);
      CallSource source;
      source.block = &code;
      source.index = index;
      s = call_value_at_top(&v, source);
      break;
    }
    case kTypeIssue: {
      Cell next;
      if (code_at(node, *index, &next) && next.is(kTypeBlock)) {
        std::string_view name = symbol_name(word_symbol(&v));
        if (name == "system" || name == "system-global") raise_error(kErrInternalKivSystem);
      }
      stack_push_value(v);
      break;
    }
    default: stack_push_value(v); break;
  }
  if (s != kStatusOk) return s;
  if (g_interp.tracing) trace_value_event(kTracePush, node, *index, start);
  if (!infix_operand) {
    s = eval_infix(node, index, start);
    if (s != kStatusOk) return s;
    if (g_interp.tracing && whole) trace_value_event(kTraceExpr, node, *index, start);
  }
  return kStatusOk;
}

// The call that the path! at [*index] of [node] makes, its first word
// naming the function-like [fn] (nothing traces), as eval_expr_general and
// eval_path make it, the path and its first word held on the stack in their
// places: no field lookup is tried first.
[[gnu::noinline]] Status eval_path_call(Node node, int32_t* index, bool infix_operand, const Cell* fn) {
  const uint32_t i = uint32_t(*index);
  Cell* start = stack_push_cell(series_buffer(node)->head_cell() + i);
  Cell* path = stack_push_cell(start);
  const int32_t head = std::max(path->head(), 0);
  Cell* head_word = stack_push_value(series_cells(path->node())[head]);
  *index = int32_t(i + 1);
  const Cell code = series_cell(kTypeBlock, node);
  CallSource source;
  source.block = &code;
  source.index = index;
  source.name = head_word;
  source.path = path;
  source.path_index = head + 1;
  Status s = call_value_at_top(fn, source);
  if (s != kStatusOk) return s;
  *start = g_stack.top[-1];
  g_stack.top = start + 1;
  return infix_operand ? kStatusOk : eval_infix(node, index, start);
}

// eval_expr for a path!, get-path! or set-path! at [*index] of [node]: a
// function called with refinements (eval_path_call), an object field read or
// stored the quick way (path_fast_try), else as eval_expr_general does it.
// Out of line, so eval_expr stays small.
[[gnu::noinline]] Status eval_path_expr(Node node, int32_t* index, bool infix_operand, bool whole) {
  SeriesBuffer* b = series_buffer(node);
  const uint32_t i = uint32_t(*index);
  const Cell* code = b->head_cell() + i;
  if (code->is(kTypePath) && !g_interp.tracing) {
    SeriesBuffer* p = series_buffer(code->node());
    const uint32_t head = uint32_t(std::max(code->head(), 0));
    const Cell* first = head < p->cell_count() ? p->head_cell() + head : nullptr;
    const Cell* fn = first && first->is(kTypeWord) ? peek_word_value(first) : nullptr;
    if (fn && function_value_q(fn->type())) return eval_path_call(node, index, infix_operand, fn);
  }
  if (code->is(kTypePath) || code->is(kTypeGetPath)) {
    if (path_fast_try(code, nullptr, true)) {
      *index = int32_t(i + 1);
      return infix_operand ? kStatusOk : eval_infix(node, index, g_stack.top - 1);
    }
  } else if (i + 1 < b->cell_count()) {
    // The path held on the stack, then its value, then the store.
    Cell* path = stack_push_cell(code);
    *index = int32_t(i + 1);
    Status s = eval_expr(node, index, false);
    if (s != kStatusOk) return s;
    if (g_interp.tracing) trace_event(kTraceSet, nullptr, int32_t(i), path + 1, path);
    if (!path_fast_try(path, path + 1, true)) {
      s = eval_path(path, nullptr, nullptr, path + 1, true);
      if (s != kStatusOk) return s;
    }
    *path = path[1];
    g_stack.top = path + 1;
    return infix_operand ? kStatusOk : eval_infix(node, index, path);
  }
  return eval_expr_general(node, index, infix_operand, whole);
}

// Evaluates the expression at [*index] of [node] and pushes its value (see
// eval_expr_general), taking the common operands on the spot: a value that
// evaluates to itself, or a word holding a plain value, then the operators
// after it unless [infix_operand]. Everything else, and everything while
// tracing, goes to eval_expr_general.
Status eval_expr(Node node, int32_t* index, bool infix_operand, bool whole) {
  if (!g_interp.tracing) {
    SeriesBuffer* b = series_buffer(node);
    const uint32_t i = uint32_t(*index);
    if (i < b->cell_count()) {
      const Cell* code = b->head_cell() + i;
      const Cell* value = code;
      bool simple = (kSelfEvaluatingTypes >> code->type()) & 1;
      if (!simple && code->is(kTypeWord)) {
        value = peek_word_value(code);
        simple = value && ((kPlainValueTypes >> value->type()) & 1);
      }
      if (simple) {
        Cell* pushed = stack_push_cell(value);
        *index = int32_t(i + 1);
        return infix_operand ? kStatusOk : eval_infix(node, index, pushed);
      }
      if (value && value != code && (value->is(kTypeAction) || value->is(kTypeNative)) &&
          i + 2 < b->cell_count()) {
        // A built-in arithmetic or comparison on two integers that need no
        // evaluation and that no operator follows: computed here when the
        // callee's list (already built) takes integers in both places.
        Cell* out = stack_push();
        if (integer_call(value, b, i, out)) {
          *index = int32_t(i + 3);
          return infix_operand ? kStatusOk : eval_infix(node, index, out);
        }
        g_stack.top = out;
      }
      if (value && value != code && function_value_q(value->type())) {
        // A word naming a function: the call, as eval_expr_general makes it.
        const Cell word = *code;
        const Cell block = series_cell(kTypeBlock, node);
        Cell* start = g_stack.top;
        *index = int32_t(i + 1);
        CallSource source;
        source.block = &block;
        source.index = index;
        source.name = &word;
        Cell* slot = stack_push_cell(value);
        Status s;
        if (slot->is(kTypeNative) || slot->is(kTypeAction))
          s = call_builtin_plain(slot, source);
        else if (slot->is(kTypeFunction))
          s = call_function_plain(slot, source);
        else
          s = call_at(slot, source, false);
        if (s != kStatusOk) return s;
        return infix_operand ? kStatusOk : eval_infix(node, index, start);
      }
      if (code->is(kTypePath) || code->is(kTypeGetPath) || code->is(kTypeSetPath))
        return eval_path_expr(node, index, infix_operand, whole);
      if (code->is(kTypeParen)) {
        // A paren, held on the stack while it runs, its value in its place.
        Cell* held = stack_push_cell(code);
        *index = int32_t(i + 1);
        Status s = eval_block_here(held, false);
        if (s != kStatusOk) return s;
        *held = held[1];
        g_stack.top = held + 1;
        return infix_operand ? kStatusOk : eval_infix(node, index, held);
      }
      if (code->is(kTypeSetWord) && i + 1 < b->cell_count()) {
        // A set-word with its value after it, stored in place as
        // eval_expr_general stores it.
        const Cell word = *code;
        Cell* start = g_stack.top;
        *index = int32_t(i + 1);
        Status s = eval_expr(node, index, false);
        if (s != kStatusOk) return s;
        if (g_interp.tracing) trace_event(kTraceSet, nullptr, int32_t(i), start, &word);
        if (Cell* slot = context_plain_store_slot(word_context(&word), word_index(&word))) {
          *slot = *start;
        } else {
          Cell* w = stack_push_value(word);
          set_word_value(w, start);
        }
        g_stack.top = start + 1;
        return infix_operand ? kStatusOk : eval_infix(node, index, start);
      }
    }
  }
  return eval_expr_general(node, index, infix_operand, whole);
}

// ---------------------------------------------------------------- paths

bool scalar_parent_q(TypeId t) {
  return !(is_series(t) || is_any_object(t) || t == kTypeMap || t == kTypeBitset || t == kTypeTypeset ||
           is_any_function(t) || t == kTypeNone || t == kTypeDatatype);
}

// A step of a path on the stack: the parent value and the element that selected it.
struct PathStep {
  Cell* parent;
  Cell* element;
};

// After a set-path changed the immediate value at step [k] in place, stores
// it back where it came from: the head word, or the step before (an object
// field fires its change handler; a block slot tells the block's owner
// with the word set-path).
void write_back(PathStep* steps, int32_t k, Cell* head_word, const Cell* path, bool case_sensitive) {
  for (; k >= 0; k--) {
    Cell* changed = steps[k].parent;
    if (k == 0) {
      set_word_value(head_word, changed);
      return;
    }
    Cell* holder = steps[k - 1].parent;
    Cell* element = steps[k].element;
    if (is_any_block(holder->type()) && element->is(kTypeInteger)) {
      int32_t total = series_total_cells(holder);
      int32_t at = series_clamp_head(holder, total) + integer_get(element) - 1;
      if (integer_get(element) < 1 || at >= total) return;
      series_cells(holder->node())[at] = *changed;
      if (series_owned_q(holder)) notify_owner(holder, kOwnerSetPath, at, 1, changed);
      return;
    }
    EvalPathArgs a;
    a.element = element;
    a.case_ = case_sensitive;
    a.value = changed;
    a.path = const_cast<Cell*>(path);
    a.index = k;
    action_eval_path(holder, a);
    if (!scalar_parent_q(holder->type())) return;
  }
}

constexpr int32_t kMaxPathSteps = 64;

}  // namespace interp

using namespace interp;

Status eval_path(const Cell* path_arg, const Cell* block, int32_t* index, const Cell* value, bool push,
                 bool case_sensitive) {
  if (path_fast_try(path_arg, value, push)) return kStatusOk;
  Cell* start = g_stack.top;
  Cell* path = stack_push_cell(path_arg);
  const bool set = path->is(kTypeSetPath);
  const bool get = path->is(kTypeGetPath);
  Node node = path->node();
  int32_t head = std::max(path->head(), 0);
  if (code_end_q(node, head)) raise_error(kErrScriptEmptyPath, path);
  if (g_interp.tracing) {
    trace_event(kTraceEnter, path, head, nullptr, nullptr);
    trace_value_event(kTraceFetch, node, head, &series_cells(node)[head]);
  }
  Cell* head_word = stack_push_value(series_cells(node)[head]);
  if (!head_word->is(kTypeWord) && !head_word->is(kTypeGetWord)) raise_error(kErrScriptWordFirst, path);
  head_word->set_type(kTypeWord);
  Cell* v = get_word_value(head_word);
  if (v->is(kTypeUnset)) raise_error(kErrScriptUnsetPath, head_word, path);
  Status s;
  if (function_value_q(v->type())) {
    if (set) raise_error(kErrScriptInvalidPathSet, path);
    if (get) raise_error(kErrScriptInvalidPathGet, path);
    CallSource source;
    source.block = block;
    source.index = index;
    source.name = head_word;
    source.path = path;
    source.path_index = head + 1;
    s = call_value_at_top(v, source);
    if (s != kStatusOk) return s;
  } else {
    PathStep steps[kMaxPathSteps];
    int32_t count = 0;
    Cell* parent = stack_push_cell(v);
    steps[count++] = {parent, head_word};
    if (g_interp.tracing) trace_value_event(kTracePush, node, head, parent);
    for (int32_t i = head + 1; !code_end_q(node, i); i++) {
      Cell el = series_cells(node)[i];
      if (g_interp.tracing) trace_value_event(kTraceFetch, node, i, &el);
      Cell* element;
      if (el.is(kTypeGetWord)) {
        element = stack_push_cell(get_word_value(&el));
      } else if (el.is(kTypeParen)) {
        s = eval_block(&el, false);
        if (s != kStatusOk) return s;
        element = g_stack.top - 1;
      } else {
        element = stack_push_value(el);
      }
      if (element->is(kTypeUnset)) raise_error(kErrScriptInvalidPath, path, &el);
      const bool last = code_end_q(node, i + 1);
      EvalPathArgs a;
      a.element = element;
      a.case_ = case_sensitive;
      a.value = set && last ? const_cast<Cell*>(value) : nullptr;
      a.path = path;
      a.index = i - head;
      Cell* result = action_eval_path(parent, a);
      if (set && last) {
        if (scalar_parent_q(parent->type())) write_back(steps, count - 1, head_word, path, case_sensitive);
        parent = stack_push_cell(value);
        break;
      }
      parent = stack_push_cell(result);
      if (count < kMaxPathSteps) steps[count++] = {parent, element};
      if (g_interp.tracing) trace_value_event(kTracePush, node, i, parent);
      if (!get && !set && function_value_q(parent->type())) {
        CallSource source;
        source.block = block;
        source.index = index;
        source.name = el.is(kTypeWord) ? &el : nullptr;
        source.path = path;
        source.path_index = i + 1;
        Cell fn = *parent;
        s = call_value_at_top(&fn, source);
        if (s != kStatusOk) return s;
        break;
      }
    }
  }
  Cell result = g_stack.top[-1];
  if (g_interp.tracing) trace_event(kTraceExit, path, -1, &result, nullptr);
  g_stack.top = start;
  if (push)
    stack_push_value(result);
  else
    stack_reset_to_value(&result);
  return kStatusOk;
}

// ---------------------------------------------------------------- blocks

Status eval_block(const Cell* block, bool chain) {
  DepthGuard depth;
  const Node node = block->node();
  int32_t index = std::max(block->head(), 0);
  CurrentCodeScope current(node);
  stack_mark_eval_block(body_frame_name(node));
  if (g_interp.tracing) trace_event(kTraceEnter, block, index, nullptr, nullptr);
  stack_push();  // unset! for an empty block
  Status s = code_run(node, index, g_stack.arguments, current);
  if (s != kStatusOk) return s;
  if (g_interp.tracing) trace_event(kTraceExit, block, index, g_stack.arguments, nullptr);
  if (chain)
    stack_unwind_last();
  else
    stack_unwind();
  return kStatusOk;
}

Status eval_block_here(const Cell* block, bool chain) {
  if (g_interp.tracing) return eval_block(block, chain);
  DepthGuard depth;
  const Node node = block->node();
  int32_t index = std::max(block->head(), 0);
  CurrentCodeScope current(node);
  Cell* base = stack_push();  // unset! for an empty block
  Status s = code_run(node, index, base, current);
  if (s != kStatusOk) return s;
  g_stack.top = base + 1;
  if (chain) copy_cell(g_stack.arguments, base);
  return kStatusOk;
}

Status do_block(const Cell* block, Cell* out) {
  Cell* top = g_stack.top;
  Status s = eval_block(block, false);
  if (s != kStatusOk) return s;
  *out = g_stack.top[-1];
  g_stack.top = top;
  return kStatusOk;
}

Status eval_next(const Cell* block, int32_t* index, bool push) {
  Node node = block->node();
  if (code_end_q(node, *index)) {
    Cell unset = make_cell(kTypeUnset);
    if (push)
      stack_push_value(unset);
    else
      stack_set_last(&unset);
    return kStatusOk;
  }
  CurrentCodeScope current(node);
  if (push && !g_interp.tracing) {
    // The caller's frame stands for the block: the value is pushed where a
    // frame of its own would leave it.
    current.at(*index);
    return code_eval_one(node, index);
  }
  open_native_frame(body_frame_name(node));
  current.at(*index);
  Status s = eval_expr(node, index, false, true);
  if (s != kStatusOk) return s;
  stack_unwind();
  if (!push) {
    Cell v = g_stack.top[-1];
    g_stack.top--;
    stack_set_last(&v);
  }
  return kStatusOk;
}

Status eval_next_at(const Cell* block, int32_t* next) {
  int32_t index = std::max(block->head(), 0);
  Status s = eval_next(block, &index, false);
  *next = index;
  return s;
}

Status eval_call(const Cell* fn, const CallSource& source, bool push) {
  Status s = call_value_at_top(fn, source);
  if (s != kStatusOk) return s;
  if (!push) {
    Cell v = g_stack.top[-1];
    g_stack.top--;
    stack_set_last(&v);
  }
  return kStatusOk;
}

void call_value(const Cell* fn, const Cell* args, int argc, Cell* result, const Cell* name_word,
                Cell* args_after) {
  // Everything the call is given is copied onto the data stack before
  // anything allocates: the caller's cells need not stay in place.
  Cell* held = g_stack.top;
  Cell* function = stack_push_cell(fn);
  for (int i = 0; i < argc; i++) stack_push_cell(&args[i]);
  const Cell* copies = function + 1;
  Cell name = name_word ? *name_word : runtime_value(kWordAnon);
  // The arguments become the code the call takes its arguments from, each as it is.
  Cell* code = stack_push_value(series_cell(kTypeBlock, series_alloc_cells(uint32_t(std::max(argc, 1)))));
  for (int i = 0; i < argc; i++) block_append_value(code, &copies[i]);
  int32_t index = 0;
  CallSource source;
  source.block = code;
  source.index = &index;
  source.name = &name;
  source.mode = kCallLiteral;
  // How many arguments the call takes: its parameters before any refinement.
  int taken = 0;
  if (args_after) {
    Node list = arglist_of(function);
    while (taken < std::min(argc, int(series_length(list))) && series_cells(list)[taken].is(kTypeTypeset))
      taken++;
  }
  // Calls made on the runtime's behalf (comparators, change handlers, the
  // lexer's callbacks) run untraced, whichever way they end.
  struct Untraced {
    bool saved = g_interp.tracing;
    Untraced() { g_interp.tracing = false; }
    ~Untraced() { g_interp.tracing = saved; }
  };
  Status s;
  {
    Untraced untraced;
    s = call_value_at_top(function, source);
  }
  if (s != kStatusOk) stack_throw_settled(s);
  // The call closed with its result in its function's slot (code + 1) and
  // left the cells of the parameters it took above it, untouched since (no
  // tracer ran in between).
  for (int i = 1; i < taken; i++) args_after[i] = code[2 + i];
  *result = g_stack.top[-1];
  g_stack.top = held;
}

Status eval_value(const Cell* value) {
  Cell* code = stack_push_value(series_cell(kTypeBlock, series_alloc_cells(1)));
  block_append_value(code, value);
  Status s = eval_block(code, false);
  if (s != kStatusOk) return s;
  *code = g_stack.top[-1];
  g_stack.top = code + 1;
  return kStatusOk;
}

// ---------------------------------------------------------------- tracing

namespace {

// The event words, by bit.
constexpr const char* kTraceEventNames[] = {"init",  "end",    "prolog", "epilog", "enter", "exit",
                                            "open",  "return", "fetch",  "push",   "set",   "call",
                                            "error", "throw",  "catch",  "expr"};

// The trace mode that `trace` with a logic switches off: events wait while a
// tracer stays installed.
bool g_trace_paused = false;

// The C++ tracer registered for the function in the interpreter's cell 1, and
// whether it stands in for the tracer installed now.
NativeTracerFn g_native_tracer_fn = nullptr;
bool g_native_tracer_on = false;

}  // namespace

uint32_t trace_event_of_name(std::string_view name) {
  for (uint32_t b = 0; b < 16; b++)
    if (name.size() == std::char_traits<char>::length(kTraceEventNames[b]) &&
        std::equal(name.begin(), name.end(), kTraceEventNames[b],
                   [](char x, char y) { return (x | 0x20) == y; }))
      return 1u << b;
  return 0;
}

uint32_t trace_mask_of(const Cell* tracer) {
  if (!tracer->is(kTypeFunction)) return 0;
  Cell body = function_body(tracer);
  if (!body.is(kTypeBlock) || code_end_q(body.node(), std::max(body.head(), 0))) return kTraceAll;
  Cell first = series_cells(body.node())[std::max(body.head(), 0)];
  if (!first.is(kTypeBlock)) return kTraceAll;
  uint32_t mask = 0;
  for (int32_t i = std::max(first.head(), 0); !code_end_q(first.node(), i); i++) {
    Cell w = series_cells(first.node())[i];
    if (w.is(kTypeWord)) mask |= trace_event_of_name(symbol_name(word_symbol(&w)));
  }
  return mask;
}

void trace_set(const Cell* tracer) {
  Cell* cells = series_cells(root_slot(kRootInterp)->node());
  cells[0] = tracer->is(kTypeFunction) ? *tracer : kNoneCell;
  g_interp.tracing = tracer->is(kTypeFunction);
  g_interp.trace_mask = trace_mask_of(tracer);
  g_trace_paused = false;
  g_native_tracer_on = g_native_tracer_fn && tracer->is(kTypeFunction) && cells[1].is(kTypeFunction) &&
                       function_more(tracer) == function_more(&cells[1]);
}

void trace_register_native(const Cell* tracer, NativeTracerFn fn) {
  series_cells(root_slot(kRootInterp)->node())[1] = *tracer;
  g_native_tracer_fn = fn;
}

bool trace_installed_q() { return series_cells(root_slot(kRootInterp)->node())[0].is(kTypeFunction); }

bool trace_mode_q() { return trace_installed_q() && !g_trace_paused; }

void trace_set_mode(bool on) { g_trace_paused = !on; }

void trace_raised_error(const Cell* error) {
  if (!g_interp.tracing || g_trace_paused || !(g_interp.trace_mask & kTraceError)) return;
  // The tracer may raise and catch errors of its own: the raise in flight
  // is put back as it was, its cells held on the data stack meanwhile.
  RaisedError saved = last_raised_error();
  Cell* held = stack_push_value(*error);
  stack_push_value(saved.args[0]);
  stack_push_value(saved.args[1]);
  stack_push_value(saved.args[2]);
  stack_push_value(saved.near);
  trace_event(kTraceError, nullptr, -1, held, nullptr);
  saved.error = held[0];
  for (int i = 0; i < 3; i++) saved.args[i] = held[1 + i];
  saved.near = held[4];
  g_stack.top = held;
  raised_error_restore(saved);
}

void trace_event(TraceEvent event, const Cell* code, int32_t position, const Cell* value,
                 const Cell* reference) {
  if (!g_interp.tracing || g_trace_paused || !(g_interp.trace_mask & event)) return;
  Cell tracer = series_cells(root_slot(kRootInterp)->node())[0];
  if (!tracer.is(kTypeFunction)) return;
  constexpr uint32_t kWithReference =
      kTraceSet | kTraceEpilog | kTraceProlog | kTraceReturn | kTraceCall | kTraceOpen;
  if (g_native_tracer_on) {
    Cell v = value && !value->is(kTypeUnset) ? *value : kNoneCell;
    Cell r = reference && (event & kWithReference) ? *reference : kNoneCell;
    // Like a Kiv tracer, it runs with tracing off (an error it raises sends no event).
    struct Untraced {
      Untraced() { g_interp.tracing = false; }
      ~Untraced() { g_interp.tracing = true; }
    } untraced;
    g_native_tracer_fn(event, v, r, int32_t(stack_index(g_stack.arguments)),
                       int32_t(stack_index(g_stack.top)));
    return;
  }
  uint32_t bit = 0;
  while (bit < 16 && (1u << bit) != event) bit++;
  // The tracer runs with tracing off; the stacks come back exactly.
  Cell* top = g_stack.top;
  CallFrame* frames = g_stack.frames_top;
  Cell* arguments = g_stack.arguments;
  g_interp.tracing = false;
  struct Restore {
    Cell* top;
    CallFrame* frames;
    Cell* arguments;
    ~Restore() {
      g_interp.tracing = true;
      if (!stack_restore_allowed_q(frames)) return;
      g_stack.top = top;
      g_stack.frames_top = frames;
      g_stack.arguments = arguments;
    }
  } restore{top, frames, arguments};
  // The arguments go on the data stack, the caller's cells (which may lie in
  // a series buffer) copied before the event word's making can allocate.
  Cell* args = stack_push();
  stack_push_value(code ? *code : kNoneCell);
  stack_push_value(integer_cell(code ? position : -1));
  stack_push_value(value && !value->is(kTypeUnset) ? *value : kNoneCell);
  stack_push_value(reference && (event & kWithReference) ? *reference : kNoneCell);
  stack_push_value(pair_cell(int32_t(stack_index(arguments)), int32_t(stack_index(top))));
  *args = load_word(kTraceEventNames[bit]);
  Cell* result = stack_push();
  call_value(&tracer, args, 6, result);
}

// ---------------------------------------------------------------- the core's hooks

Cell current_code_cell() {
  const CurrentCode& current = g_interp.current;
  if (!current.node) return make_cell(kTypeNone);
  return series_cell(kTypeBlock, current.node, current.index);
}

void call_value_hook(const Cell* fn, const Cell* args, int argc, Cell* result) {
  call_value(fn, args, argc, result);
}

void object_eval_block_hook(Cell* block) {
  Cell* top = g_stack.top;
  Status s = eval_block(block, false);
  if (s != kStatusOk) stack_throw_settled(s);
  g_stack.top = top;
}

void object_invoke_handler_hook(Cell* handler, Node, const Cell*, uint32_t) {
  Status s = invoke_function(handler);
  if (s != kStatusOk) stack_throw_settled(s);
}

// ---------------------------------------------------------------- set-up

void interp_init() {
  register_this_thread_stack();
  if (!root_slot(kRootInterp)->is(kTypeBlock)) {
    Node cells = series_alloc_cells_unset(2);
    SeriesBuffer* b = series_buffer(cells);
    b->tail = b->head + 2 * sizeof(Cell);
    *root_slot(kRootInterp) = series_cell(kTypeBlock, cells);
  }
  g_interp = InterpState{};
  code_cache_init();
}

}  // namespace kiv
