// The data stack of value cells and the call stack of 20-byte frames.
//
// Every call passes its arguments and its result through the data stack: the
// arguments base is the first argument and also the result slot. Both stacks
// are fixed buffers made once at start-up, each in address space reserved for
// it whole and committed page by page as the stack first reaches it; they
// never grow or move, so a Cell* into the data stack stays valid across
// allocations.
//
// Invariant: bottom <= arguments <= top < end. A push that reaches the end, or
// a frame pushed on a full call stack, raises internal stack-overflow after
// freeing 5 cells of headroom.
//
// A function frame records the values reference its function's context had
// when the call began; every path that pops the frame (return, unwind, a catch
// point taking an exit, a StackSave, break out of it) puts that reference back, so the context
// never keeps pointing at a dead call's slots. The stack reaches the context
// through the context_ops hook (runtime/hooks.h), which context! answers (the
// stack knows no payload layout). The collector reaches both stacks through a mark callback.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/exits.h"
#include "runtime/hooks.h"

namespace kiv {

// Sizes, reserved (not committed) up front. A recursion through the
// interpreter takes per level about 4-8 cells and 3-5 frames against 1.6-2.4 KB
// of native stack, so for ordinary code the native depth check
// (evaluator/interpreter.cpp) ends a runaway recursion first; these bound code
// that holds many values per level.
inline constexpr uint32_t kDataStackCells = 4u << 20;   // 64 MB
inline constexpr uint32_t kCallStackFrames = 2u << 20;  // 40 MB
inline constexpr uint32_t kOverflowHeadroom = 5;

// Frame kinds (header bits 24-27) and header flags.
enum FrameKind : uint32_t {
  kFrameFunction = 1,
  kFrameNative = 2,
  kFrameTry = 4,
  kFrameTryAll = 5,
  kFrameCatch = 6,
  kFrameEvalBlock = 7,
  kFrameLoop = 8,
  kFrameNoUser = 9,  // a frame error reports never name
};
inline constexpr uint32_t kFrameBodyFlag = 0x10000000u;    // target of return and exit
inline constexpr uint32_t kFrameInterpFlag = 0x80000000u;  // pushed by the interpreter

// Who a frame is named for: the naming word's symbol id and the node of its
// context (datatypes/word.h makes one from a word). {} names nothing.
struct FrameName {
  uint32_t symbol = 0;
  Node context = 0;
};

struct CallFrame {
  uint32_t header;        // symbol id << 8 | kind << 24 | flags
  uint32_t prev_args;     // the caller's arguments base, as a data-stack index
  uint32_t word_context;  // context node of the naming word (a block for `self`)
  uint32_t fn_context;    // context node of the called function, or 0
  uint32_t saved_values;  // that context's values reference before the call, or 0

  FrameKind kind() const { return FrameKind((header >> 24) & 0xF); }
  uint32_t symbol() const { return (header >> 8) & 0xFFFF; }
  bool body() const { return header & kFrameBodyFlag; }
};
static_assert(sizeof(CallFrame) == 20);

struct StackState {
  Cell* bottom;
  Cell* end;
  Cell* arguments;
  Cell* top;
  CallFrame* frames_base;
  CallFrame* frames_end;
  CallFrame* frames_top;
  CallFrame* throw_origin;  // frame a throw search started from, or null
  CallFrame* settled;       // frame top a settled exit in flight left (see StackSave), or null
  uint32_t body_symbol;     // frames named <body> or <anon> are never listed
  uint32_t anon_symbol;
};
extern StackState g_stack;

// Makes both stacks (blocks held by the root block), empties them and
// registers their mark callback.
void stack_init();

// ---------------------------------------------------------------- data stack

[[noreturn]] void stack_overflow();

// Reserves the cell at the top and returns it, set to unset! until the caller
// fills it (the collector may look at it before then).
inline Cell* stack_push() {
  Cell* c = g_stack.top++;
  if (g_stack.top >= g_stack.end) stack_overflow();
  c->header = kTypeUnset;
  return c;
}
inline Cell* stack_push_cell(const Cell* cell) {
  Cell* c = stack_push();
  *c = *cell;
  return c;
}
inline Cell* stack_push_value(Cell value) {
  Cell* c = stack_push();
  *c = value;
  return c;
}
void stack_pop(uint32_t n);
Cell* stack_last_value();
inline TypeId stack_last_type() { return stack_last_value()->type(); }
Cell* stack_reset();
Cell* stack_keep_result();
void stack_set_last(const Cell* cell);
Cell* stack_reset_to_value(const Cell* cell);
void stack_collapse_last();

inline Cell* stack_arguments() { return g_stack.arguments; }
inline Cell* stack_arg(uint32_t i) { return g_stack.arguments + i; }
inline uint32_t stack_index(const Cell* c) { return uint32_t(c - g_stack.bottom); }
inline Cell* stack_at(uint32_t index) { return g_stack.bottom + index; }

// ---------------------------------------------------------------- frames

// Pushes a frame with header [flags] (kind and flags) for [name]: the
// arguments base becomes the current top. Inline, with the pop and close
// below: every call and block evaluation opens and closes one.
inline CallFrame* push_frame(FrameName name, uint32_t flags) {
  if (g_stack.frames_top >= g_stack.frames_end) stack_overflow();
  CallFrame* f = g_stack.frames_top++;
  f->header = ((name.symbol & 0xFFFF) << 8) | flags;
  f->prev_args = stack_index(g_stack.arguments);
  f->word_context = name.context;
  f->fn_context = 0;
  f->saved_values = 0;
  g_stack.arguments = g_stack.top;
  return f;
}
// Puts back the values reference a function frame saved.
inline void restore_function_context(const CallFrame* f) {
  if (f->fn_context) g_hooks.context_ops.set_values(f->fn_context, f->saved_values);
}
// Pops the top frame; returns it (its memory stays readable until the next push).
inline CallFrame* pop_frame(bool restore) {
  CallFrame* f = --g_stack.frames_top;
  if (restore) restore_function_context(f);
  return f;
}

// Each opener checks for overflow, fills the frame from the naming word's
// [name] ({} for an anonymous frame) and makes the arguments base the current top.
void open_native_frame(FrameName name);
void open_function_frame(FrameName name, Node fn_context);
void stack_mark_function_body(FrameName name, Node fn_context);
void stack_mark_try(FrameName name);
void stack_mark_try_all(FrameName name);
void stack_mark_catch(FrameName name);
void stack_mark_loop(FrameName name);
inline void stack_mark_eval_block(FrameName name) {
  push_frame(name, (kFrameEvalBlock << 24) | kFrameInterpFlag);
}
inline void stack_mark_interp_native(FrameName name) {
  push_frame(name, (kFrameNative << 24) | kFrameInterpFlag);
}
void stack_mark_interp_function(FrameName name);
void stack_mark_no_user(FrameName name);

void stack_set_body_flag(bool on);
void stack_set_interp_flag();
CallFrame* stack_mark_do_body();
void stack_clear_body_flag(CallFrame* frame);
inline CallFrame* stack_top_frame() { return g_stack.frames_top - 1; }
inline bool stack_frames_empty() { return g_stack.frames_top == g_stack.frames_base; }
void stack_set_call_top(CallFrame* frame);
bool stack_eval_q(CallFrame* frame, bool just_one);
// Renames the frame a throw started from (else the top frame) for [symbol].
void stack_rename_frame(uint32_t symbol);

// Closing frames (see the table in stack.cpp). "function" variants restore the
// values reference of a function frame's context; the others leave it to
// their caller.
// Pops the top frame ([restore]: putting back a function frame's context
// values); the callee's result stays last pushed and, with [copy_result],
// is also copied into the caller's slot.
inline void stack_close_frame(bool restore, bool copy_result) {
  Cell* callee = g_stack.arguments;
  CallFrame* f = pop_frame(restore);
  g_stack.arguments = stack_at(f->prev_args);
  g_stack.top = callee + 1;
  if (copy_result) copy_cell(g_stack.arguments, callee);
}
inline void stack_unwind() { stack_close_frame(false, false); }
void stack_unwind_function();
inline void stack_unwind_last() { stack_close_frame(false, true); }
void stack_unwind_function_last();
void stack_unwind_reset();
void stack_unwind_function_reset();
void stack_unwind_drop();
void stack_unwind_drop_last();
void stack_unwind_to_kind(FrameKind kind, bool keep);
void stack_unwind_to_function();
inline void stack_unwind_to_loop(bool keep) { stack_unwind_to_kind(kFrameLoop, keep); }

// ---------------------------------------------------------------- non-local exits

// break and continue: finds the loop frame (raising throw break/continue when
// there is none or a try/all frame is in the way), leaves the loop frame on top
// with its result slot set, and returns the status code for the caller to pass on.
Status stack_throw_break(bool has_value, bool is_continue);
// return (with a value) and exit: the same for the nearest body frame.
Status stack_throw_return(bool has_value);
// True when a return or exit raised by the top frame's callee would find a
// body frame below the top frame (no try/all frame in the way).
bool stack_return_target_q();
// throw: finds the catch frame, pushes the thrown value and its name there and
// throws [code] as a KivThrow (stack_throw_settled).
[[noreturn]] void stack_throw_value(uint32_t code);
// Throws [code] as a KivThrow for an exit that has already settled the stacks
// on its target: a throw on its catch frame, or a break, continue, return or
// exit on its own target, raised where C++ code that cannot pass a status on
// ran Kiv code. The frame top it left is recorded in g_stack.settled until the
// target takes the exit (stack_exit_taken) or an error starts.
[[noreturn]] void stack_throw_settled(uint32_t code);
[[noreturn]] inline void stack_throw_settled(Status s) { stack_throw_settled(status_code(s)); }
// The target of a settled exit has taken it: guards restore again.
inline void stack_exit_taken() { g_stack.settled = nullptr; }

// At the end of a try: an error! last pushed becomes the call's result.
void stack_try_result();
// Symbol id of the innermost named frame, not named <body> or <anon>, or 0:
// an error's `where`, and the function an argument error names. Searched
// from the throw origin when that is set (which it clears).
uint32_t stack_where_symbol();

// Pops every frame above [frame] (the new top frame, or frames_base for
// none), putting back the values reference of each function frame's context,
// innermost first. The data stack positions are the caller's.
void stack_pop_frames_to(CallFrame* frame);

// The one rule of every guard that puts stack positions back on scope exit:
// an exit that has settled the stacks on its target is never undone on its
// way out. A guard whose saved frame top [frames] is at or above the one
// that exit left was made inside its target, below which the exit has
// already popped and settled everything: it leaves the stacks alone.
inline bool stack_restore_allowed_q(const CallFrame* frames) {
  return !g_stack.settled || frames < g_stack.settled;
}

// Restores the three stack positions on scope exit: the guard of a scope
// that pushes scratch values or frames.
// Frames pushed since are popped through stack_pop_frames_to. Follows
// stack_restore_allowed_q.
class StackSave {
 public:
  StackSave() : arguments_(g_stack.arguments), top_(g_stack.top), frames_(g_stack.frames_top) {}
  ~StackSave() { restore(); }
  void restore() {
    if (!stack_restore_allowed_q(frames_)) return;
    if (g_stack.frames_top > frames_) stack_pop_frames_to(frames_);
    g_stack.frames_top = frames_;
    g_stack.arguments = arguments_;
    g_stack.top = top_;
  }
  Cell* arguments() const { return arguments_; }
  Cell* top() const { return top_; }
  CallFrame* frames() const { return frames_; }

 private:
  Cell* arguments_;
  Cell* top_;
  CallFrame* frames_;
};

}  // namespace kiv
