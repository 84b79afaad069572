// Data and call stacks: pushes, frames, unwinding and the target searches of
// the non-local exits.
//
// break, continue, return and exit leave the target frame on top with its
// result slot filled and hand back a status code: every level between passes
// the status on without touching the stacks, and the target (loop or function
// body) continues from the state left here. Errors travel as a KivThrow; the
// catch point that takes one puts its saved positions back (the evaluator's
// CatchPoint), and scratch scopes theirs on the way (StackSave). A throw settles
// on its catch frame first and then travels as a KivThrow, as do the status
// exits out of Kiv code that C++ code ran (stack_throw_settled): no guard on
// the way out moves the stacks back above where such an exit left them.
#include "runtime/stack.h"

#include "runtime/collector.h"
#include "runtime/cycle.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/root_block.h"

namespace kiv {

StackState g_stack{};

namespace {

// The arguments base that was current while [f] was the top frame.
Cell* own_arguments(const CallFrame* f) {
  return f + 1 < g_stack.frames_top ? stack_at(f[1].prev_args) : g_stack.arguments;
}

// Searches for a frame of [kind] (or, with kind 0, one with the body flag)
// below the topmost frame; the topmost is examined only for try/all.
// Returns null when none is found or a try/all frame is in the way.
CallFrame* find_target(uint32_t kind) {
  CallFrame* top = g_stack.frames_top;
  if (top == g_stack.frames_base) return nullptr;
  if (top[-1].kind() == kFrameTryAll) return nullptr;
  for (CallFrame* f = top - 2; f >= g_stack.frames_base; f--) {
    if (f->kind() == kFrameTryAll) return nullptr;
    if (kind ? f->kind() == kind : f->body()) return f;
  }
  return nullptr;
}

// Leaves [target] as the top frame with its own arguments base current and empty.
Cell* settle_on(CallFrame* target) {
  Cell* own = own_arguments(target);
  stack_pop_frames_to(target + 1);
  g_stack.arguments = own;
  g_stack.top = own;
  return own;
}

// The stacks as roots: the live data-stack cells and what the frames name.
void mark_stacks() {
  if (!g_stack.bottom) return;
  gc_mark_cells(g_stack.bottom, g_stack.top);
  for (CallFrame* f = g_stack.frames_base; f < g_stack.frames_top; f++) {
    // The naming word's context: a context series, or an object's block for `self`.
    gc_mark_block(f->word_context);
    if (f->fn_context) {
      gc_mark_block(f->fn_context);
      if (f->saved_values && g_hooks.context_ops.heap_values_q(f->fn_context)) gc_mark_block(f->saved_values);
    }
  }
}

}  // namespace

void stack_pop_frames_to(CallFrame* frame) {
  while (g_stack.frames_top > frame && g_stack.frames_top > g_stack.frames_base) pop_frame(true);
}

// The call stack's frames fill a block of whole cells.
constexpr uint32_t kCallStackCells = kCallStackFrames * sizeof(CallFrame) / sizeof(Cell);
static_assert(kCallStackFrames * sizeof(CallFrame) % sizeof(Cell) == 0);

void stack_init() {
  Cell* data = root_slot(kRootDataStack);
  *data = series_cell(kTypeBlock, series_alloc_reserved(kDataStackCells, sizeof(Cell)));
  Cell* calls = root_slot(kRootCallStack);
  *calls = series_cell(kTypeBlock, series_alloc_reserved(kCallStackCells, sizeof(Cell)));
  SeriesBuffer* d = series_buffer(root_slot(kRootDataStack)->node());
  SeriesBuffer* c = series_buffer(root_slot(kRootCallStack)->node());
  g_stack.bottom = d->cells();
  g_stack.end = d->cells() + d->capacity / sizeof(Cell);
  g_stack.arguments = g_stack.top = g_stack.bottom;
  g_stack.frames_base = reinterpret_cast<CallFrame*>(c->data());
  g_stack.frames_end = g_stack.frames_base + c->capacity / sizeof(CallFrame);
  g_stack.frames_top = g_stack.frames_base;
  g_stack.throw_origin = nullptr;
  g_stack.settled = nullptr;
  add_mark_callback(mark_stacks);
}

// ---------------------------------------------------------------- data stack

void stack_overflow() {
  g_stack.top =
      g_stack.top - kOverflowHeadroom > g_stack.bottom ? g_stack.top - kOverflowHeadroom : g_stack.bottom;
  if (g_stack.arguments > g_stack.top) g_stack.arguments = g_stack.top;
  cycle_stack_reset();
  raise_error(kErrInternalStackOverflow);
}

void stack_pop(uint32_t n) {
  g_stack.top = uint32_t(g_stack.top - g_stack.bottom) > n ? g_stack.top - n : g_stack.bottom;
}

Cell* stack_last_value() { return g_stack.top > g_stack.bottom ? g_stack.top - 1 : g_stack.bottom; }

Cell* stack_reset() {
  g_stack.top = g_stack.arguments;
  return g_stack.arguments;
}

Cell* stack_keep_result() {
  g_stack.top = g_stack.arguments + 1;
  return g_stack.arguments;
}

void stack_set_last(const Cell* cell) { copy_cell(g_stack.arguments, cell); }

Cell* stack_reset_to_value(const Cell* cell) {
  g_stack.top = g_stack.arguments + 1;
  copy_cell(g_stack.arguments, cell);
  return g_stack.arguments;
}

void stack_collapse_last() {
  if (g_stack.top - g_stack.bottom < 2) return;
  g_stack.top[-2] = g_stack.top[-1];
  g_stack.top--;
}

// ---------------------------------------------------------------- frames

void open_native_frame(FrameName name) { push_frame(name, kFrameNative << 24); }

void open_function_frame(FrameName name, Node fn_context) {
  CallFrame* f = push_frame(name, kFrameFunction << 24);
  f->fn_context = fn_context;
  f->saved_values = fn_context ? g_hooks.context_ops.values(fn_context) : 0;
}

void stack_mark_function_body(FrameName name, Node fn_context) {
  g_hooks.context_ops.set_values(fn_context, stack_index(g_stack.arguments) + 1);
  push_frame(name, (kFrameNative << 24) | kFrameBodyFlag);
}

void stack_mark_try(FrameName name) { push_frame(name, kFrameTry << 24); }
void stack_mark_try_all(FrameName name) { push_frame(name, kFrameTryAll << 24); }
void stack_mark_catch(FrameName name) { push_frame(name, kFrameCatch << 24); }
void stack_mark_loop(FrameName name) { push_frame(name, kFrameLoop << 24); }
void stack_mark_interp_function(FrameName name) {
  push_frame(name, (kFrameFunction << 24) | kFrameInterpFlag);
}
void stack_mark_no_user(FrameName name) { push_frame(name, kFrameNoUser << 24); }

void stack_set_body_flag(bool on) {
  CallFrame* f = stack_top_frame();
  f->header = on ? f->header | kFrameBodyFlag : f->header & ~kFrameBodyFlag;
}

void stack_set_interp_flag() { stack_top_frame()->header |= kFrameInterpFlag; }

CallFrame* stack_mark_do_body() {
  if (g_stack.frames_top - g_stack.frames_base < 2) return nullptr;
  CallFrame* f = g_stack.frames_top - 2;
  if (f->body()) return nullptr;
  f->header |= kFrameBodyFlag;
  return f;
}

void stack_clear_body_flag(CallFrame* frame) { frame->header &= ~kFrameBodyFlag; }

void stack_set_call_top(CallFrame* frame) { g_stack.frames_top = frame; }

bool stack_eval_q(CallFrame* frame, bool just_one) {
  CallFrame* f = frame ? frame : g_stack.frames_top - 1;
  if (just_one) f--;
  for (; f >= g_stack.frames_base; f--) {
    if (f->header & kFrameInterpFlag) return true;
    if (just_one) break;
  }
  return false;
}

void stack_rename_frame(uint32_t symbol) {
  CallFrame* f = g_stack.throw_origin ? g_stack.throw_origin : g_stack.frames_top - 1;
  if (f < g_stack.frames_base) return;
  f->header = (f->header & ~0x00FFFF00u) | ((symbol & 0xFFFF) << 8);
}

// ---------------------------------------------------------------- closing frames
//
// | variant            | restore      | top afterwards           | result                      |
// | unwind             | no           | callee's base + 1        | stays as last pushed value  |
// | unwind_function    | yes          | callee's base + 1        | as unwind                   |
// | unwind_last        | no           | callee's base + 1        | also copied to caller slot  |
// | unwind_reset       | no           | caller's base            | none kept                   |
// | unwind_drop        | kind 1 only  | callee's base            | none kept                   |
// | unwind_drop_last   | kind 1 only  | callee's base - 1        | none kept                   |

namespace {

void drop_frame(int below) {
  Cell* callee = g_stack.arguments;
  CallFrame* f = g_stack.frames_top - 1;
  pop_frame(f->kind() == kFrameFunction);
  if (stack_frames_empty()) {
    g_stack.arguments = g_stack.top = g_stack.bottom;
    return;
  }
  g_stack.arguments = stack_at(f->prev_args);
  g_stack.top = callee - below >= g_stack.bottom ? callee - below : g_stack.bottom;
}

}  // namespace

void stack_unwind_function() { stack_close_frame(true, false); }
void stack_unwind_function_last() { stack_close_frame(true, true); }

void stack_unwind_reset() {
  CallFrame* f = pop_frame(false);
  g_stack.arguments = stack_at(f->prev_args);
  g_stack.top = g_stack.arguments;
}

void stack_unwind_function_reset() {
  CallFrame* f = pop_frame(true);
  g_stack.arguments = stack_at(f->prev_args);
  g_stack.top = g_stack.arguments;
}

void stack_unwind_drop() { drop_frame(0); }
void stack_unwind_drop_last() { drop_frame(1); }

void stack_unwind_to_kind(FrameKind kind, bool keep) {
  Cell* innermost = g_stack.arguments;
  Cell* own = g_stack.arguments;
  bool popped = false;
  while (!stack_frames_empty()) {
    CallFrame* f = g_stack.frames_top - 1;
    if (f->kind() == kind || f->kind() == kFrameTryAll) {
      g_stack.arguments = keep ? own : stack_at(f->prev_args);
      g_stack.top = innermost + 1;
      (void)popped;
      return;
    }
    own = stack_at(f->prev_args);
    pop_frame(f->kind() == kFrameFunction);
    popped = true;
  }
  g_stack.arguments = g_stack.top = g_stack.bottom;
}

void stack_unwind_to_function() {
  Cell* innermost = g_stack.arguments;
  Cell* own = g_stack.arguments;
  while (!stack_frames_empty()) {
    CallFrame* f = g_stack.frames_top - 1;
    if (f->kind() == kFrameFunction) {
      copy_cell(own, innermost);
      g_stack.arguments = own;
      g_stack.top = own + 1;
      return;
    }
    own = stack_at(f->prev_args);
    pop_frame(true);
  }
  g_stack.arguments = g_stack.top = g_stack.bottom;
}

// ---------------------------------------------------------------- non-local exits

Status stack_throw_break(bool has_value, bool is_continue) {
  CallFrame* loop = find_target(kFrameLoop);
  if (!loop) raise_error(is_continue ? kErrThrowContinue : kErrThrowBreak);
  Cell value = has_value && !is_continue ? *g_stack.arguments : make_cell(kTypeUnset);
  Cell* slot = settle_on(loop);
  *slot = value;
  return is_continue ? Status::kContinue : Status::kBreak;
}

Status stack_throw_return(bool has_value) {
  CallFrame* body = find_target(0);
  if (!body) raise_error(kErrThrowReturn);
  Cell value = has_value ? *g_stack.arguments : make_cell(kTypeUnset);
  Cell* slot = settle_on(body);
  *slot = value;
  return has_value ? Status::kReturn : Status::kExit;
}

bool stack_return_target_q() { return find_target(0) != nullptr; }

void stack_throw_value(uint32_t code) {
  if (!g_stack.throw_origin && !stack_frames_empty()) {
    raised_error_note_throw_start(stack_where_symbol());
    g_stack.throw_origin = g_stack.frames_top - 1;
  }
  Cell value = *g_stack.arguments;
  Cell name = g_stack.top - g_stack.arguments > 1 ? g_stack.arguments[1] : make_cell(kTypeUnset);
  CallFrame* target = find_target(kFrameCatch);
  if (!target) raise_error(kErrThrowThrow, &value);
  settle_on(target);
  stack_push_value(value);
  stack_push_value(name);
  stack_throw_settled(code);
}

void stack_throw_settled(uint32_t code) {
  g_stack.settled = g_stack.frames_top;
  throw_code(code);
}

void stack_try_result() {
  if (stack_last_type() == kTypeError) copy_cell(g_stack.arguments, stack_last_value());
  g_stack.top = g_stack.arguments + 1;
}

namespace {

// The frame the where searches start from: the throw origin when set (and
// not popped since), else the top frame. Clears the origin.
CallFrame* where_search_start() {
  // An origin at or above the top names a frame popped since: ignored.
  CallFrame* origin =
      g_stack.throw_origin && g_stack.throw_origin < g_stack.frames_top ? g_stack.throw_origin : nullptr;
  g_stack.throw_origin = nullptr;
  return origin ? origin : g_stack.frames_top - 1;
}

bool named_frame_q(const CallFrame* f) {
  uint32_t s = f->symbol();
  return s != 0 && s != g_stack.body_symbol && s != g_stack.anon_symbol;
}

}  // namespace

uint32_t stack_where_symbol() {
  for (CallFrame* f = where_search_start(); f >= g_stack.frames_base; f--)
    if (named_frame_q(f)) return f->symbol();
  return 0;
}

}  // namespace kiv
