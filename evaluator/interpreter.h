// The interpreter: blocks of values run as code.
//
// A block runs expression by expression. The interpreter holds the block as
// (series, index) and re-reads the series' tail before every expression and
// every argument, so code that clears, grows or inserts into the block it is
// running never reads past its tail or from a moved buffer. Values go through
// the data stack (runtime/stack.h): arguments are pushed from a call's
// arguments base, and a call's result is its first argument slot.
//
// Statuses. break, continue, return and exit travel as a Status that every
// native entry, block evaluation and call hands back (kStatusOk otherwise).
// The native that raises one (break, return, ...) has already left the
// stacks settled on the exit's target frame (stack_throw_break,
// stack_throw_return); every level in between returns the status at once,
// touching neither stack, up to the target, which acts on it. Errors and
// throw travel as a KivThrow (runtime/exits.h) to catch points, each of
// which restores the interpreter state it saved through one guard (CatchPoint).
//
// Where C++ code that cannot pass a status on runs Kiv code (a sort
// comparator, a change handler), call_value turns a status into a KivThrow
// carrying the same code; the target native, running its Kiv code under
// catch_exit_status, gets it back as a status.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/exits.h"
#include "runtime/stack.h"

namespace kiv {

// ---------------------------------------------------------------- statuses

// Status (runtime/exits.h): how a piece of Kiv code ended.
// True for a status a loop acts on (break or continue).
inline bool loop_status_q(Status s) { return s == Status::kBreak || s == Status::kContinue; }
// True for a status a function body acts on (return or exit).
inline bool return_status_q(Status s) { return s == Status::kReturn || s == Status::kExit; }

// ---------------------------------------------------------------- interpreter state

// The block running now and the position of its current expression: the
// `near` of an error raised there (node 0 outside any). The frame evaluating
// it keeps it alive. Library code does not move it: while library code runs,
// the current code stays the code outside that called it.
struct CurrentCode {
  Node node = 0;
  int32_t index = 0;
};

// The part of the interpreter's state every catch point puts back however
// its body ends (CatchPoint): 16 bytes without padding, saved and restored
// as one copy on every function call.
struct CatchState {
  CurrentCode current{};    // the code running now
  uint32_t trace_mask = 0;  // the events the tracer asked for
  bool tracing = false;     // events are sent
  uint8_t unused[3] = {};   // fills the 16 bytes
};
static_assert(sizeof(CatchState) == 16);

struct InterpState : CatchState {
  uint32_t depth = 0;  // nested evaluations now running (the native depth check)
};
extern InterpState g_interp;

// ---------------------------------------------------------------- catch points

// The interpreter state a catch point restores, saved when it is made: both
// stacks (the arguments base and the frame top; popping the frames pushed
// since puts back the values reference of each running function's context),
// the current code, tracing, and the throw state (no exit in flight).
//
// Tracing and the current code go back when the guard goes, on every path
// (a normal end, a status, an exit passing through or taken here): a
// [no-trace] function that an error leaves switches tracing back on. The
// stacks and the throw state go back only when the exit ends here (take):
// an exit passing on finds the stacks as its own search left them (a throw
// or a settled exit on its target below, an error's frames listed by
// try/keep), so the guard never moves them back above where a settled exit
// left them. Inline and a few words: every function call makes one.
class CatchPoint {
 public:
  CatchPoint() : state_(g_interp), arguments_(g_stack.arguments), frames_(g_stack.frames_top) {}
  ~CatchPoint() { static_cast<CatchState&>(g_interp) = state_; }
  CatchPoint(const CatchPoint&) = delete;
  CatchPoint& operator=(const CatchPoint&) = delete;

  // The data stack as it was, with [kept] cells above the arguments base;
  // the frames stay. Returns the arguments base.
  Cell* data_stack_back(uint32_t kept) {
    g_stack.arguments = arguments_;
    g_stack.top = arguments_ + kept;
    return arguments_;
  }
  // The exit ends here: the frames pushed since are popped, the data stack
  // goes back with [kept] cells above the arguments base, and no exit is in
  // flight any more (the throw code, the throw origin and the settled mark
  // cleared). Returns the arguments base.
  Cell* take(uint32_t kept) {
    stack_exit_taken();
    if (g_stack.frames_top > frames_) stack_pop_frames_to(frames_);
    g_stack.frames_top = frames_;
    g_last_throw_code = 0;
    g_stack.throw_origin = nullptr;
    return data_stack_back(kept);
  }
  // take(1) with [value] as the call's result.
  void resume_with(Cell value) { *take(1) = value; }

 private:
  CatchState state_;
  Cell* arguments_;
  CallFrame* frames_;
};

// Runs [body] (returning a Status) under a catch point and returns its
// status. A break or continue (for a loop [target]), a return or exit (for
// a function body) that arrives as a KivThrow (raised through C++ code that
// could not pass a status on) is taken and returned as its status, with the
// stacks as the exit's target search left them when the top frame at this
// call is its target: that frame on top, the stack top at its arguments
// base, which holds the exit's value. Errors and throw pass on. The targets
// of these exits (loops, function bodies, `do`) run their Kiv code under
// it, with their own frame on top.
enum ExitTarget : uint32_t {
  kExitTargetLoop,      // takes break and continue
  kExitTargetFunction,  // takes return and exit
};
template <class F>
Status catch_exit_status(ExitTarget target, F&& body) {
  CatchPoint point;
  try {
    return body();
  } catch (KivThrow& t) {
    const Status s = status_of(t.code);
    if (target == kExitTargetLoop ? !loop_status_q(s) : !return_status_q(s)) throw;
    // The exit's search settled the target's result into its slot before the
    // throw; the frames above it were popped then, so none is restored here.
    point.take(0);
    return s;
  }
}

// MAY RUN KIV CODE. The catch point of `catch` (and of the routines that
// catch as it does) in the calling native's frame, which it names
// [frame_word]: evaluates [block]; a throw that settles on the frame is taken
// when [names] is null or names it (catch/name's rule), else it goes on. The
// block's value, or the value of the throw taken, is the native's result;
// *[taken_name] (when given) gets the taken throw's name, unset! for a throw
// without one.
Status catch_throws(const Cell* block, const Cell* frame_word, const Cell* names, Cell* taken_name);

// ---------------------------------------------------------------- evaluating

// MAY RUN KIV CODE. Evaluates the block [block] (any block type; a stable
// cell or a copy whose series is held elsewhere) from its index to its tail
// inside a block-evaluation frame. The value of the last expression (unset!
// for an empty block) becomes the caller's last pushed value; with [chain]
// it is also copied into the current call's result slot.
Status eval_block(const Cell* block, bool chain);

// MAY RUN KIV CODE. eval_block without a frame of its own, for a block that
// runs inside a frame that already stands for it: the frame of the native
// running it (if, either, the loops), or none for a paren. [block] must stay
// reachable while it runs (a stack cell or a cell of a rooted series); with
// [chain] its value also goes into the current call's result slot. While
// tracing, exactly eval_block (whose enter and exit events the tracer sees).
Status eval_block_here(const Cell* block, bool chain);

// MAY RUN KIV CODE. Evaluates the block and writes its value into [*out]
// (a stable cell: the data stack or a Root). The stack top is put back.
Status do_block(const Cell* block, Cell* out);

// MAY RUN KIV CODE. Evaluates the one expression of [block] that starts at
// [*index] (an index into the series, as Cell::head() counts), with infix
// operators, inside a native frame named <body>, and sets [*index] past it.
// The value is pushed ([push]) or written into the current call's result
// slot. At or past the tail the value is unset! and [*index] is unchanged.
// Used by reduce, any, all, case and the like.
Status eval_next(const Cell* block, int32_t* index, bool push);

// MAY RUN KIV CODE. do/next: evaluates the expression at the index of
// [block] (unset! at its tail) into the current call's result slot and
// returns the index after it through [*next].
Status eval_next_at(const Cell* block, int32_t* next);

// ---------------------------------------------------------------- calling

// How arguments are taken from the code (apply spreads a block with them).
enum CallMode : uint32_t {
  kCallCode = 0,      // from the code that follows, refinements from a path
  kCallApplyAll = 1,  // apply/all: every spec item in order, refinements as truth values
  kCallApply = 2,     // apply: the plain arguments, refinements from a path
  kCallSafer = 4,     // with apply: one value per refinement argument, inactive ones skipped
  kCallLiteral = 8,   // every argument the next value as it is (call_value)
};

// What a call reads its arguments from and how.
struct CallSource {
  const Cell* block = nullptr;  // the code (a stable cell), or null for no more values
  int32_t* index = nullptr;     // position in it; moved past the last argument
  const Cell* name = nullptr;   // the naming word (frames, errors), or null for <anon>
  const Cell* path = nullptr;   // refinements: path elements after [path_index], or null
  int32_t path_index = 0;
  uint32_t mode = kCallCode;
};

// MAY RUN KIV CODE. Calls the native!, action!, op! (as its underlying
// value), function! or routine! [fn] with arguments fetched from [source]
// (see CallSource) and pushes its result ([push]) or writes it into the
// current call's result slot. [fn] is copied first.
Status eval_call(const Cell* fn, const CallSource& source, bool push);

// MAY RUN KIV CODE. Calls the function-like [fn] with the [argc] values
// [args] as its leading arguments and every refinement absent: the caller
// pushes [args] on the data stack (runtime/gc_root.h rule 4), and [fn],
// [args] and [name] are copied onto it before anything allocates; writes the result into [*result] (a stable
// cell). A break, continue, return or exit escaping the call becomes a KivThrow with its code (see
// catch_exit_status): for C++ code that cannot pass a status on. Script expect-arg for an argument its spec
// refuses, no-arg when [argc] is short. The call's frame is named by the word [name] (null: <anon>). With
// [args_after], the arguments after the first are copied there as the call
// left them (a function may have set its argument words), from index 1; the
// first one's slot held the result.
void call_value(const Cell* fn, const Cell* args, int argc, Cell* result, const Cell* name = nullptr,
                Cell* args_after = nullptr);

// ---------------------------------------------------------------- paths

// MAY RUN KIV CODE. Evaluates the path!, get-path! or set-path! [path] (at
// its index) found at [*index] of [block] (the code a function reached by
// the path fetches its arguments from; may be null): a get-path! never
// calls the function it reaches; a set-path! stores [value]. The result is
// pushed ([push]) or written into the current call's result slot. With
// [case_sensitive] each step selects by key with letter case (get/case and
// set/case).
Status eval_path(const Cell* path, const Cell* block, int32_t* index, const Cell* value, bool push,
                 bool case_sensitive = false);

// ---------------------------------------------------------------- words

// MAY RUN KIV CODE. Evaluates a single value as an expression would (a word
// its value, a function called without arguments, a paren evaluated, ...)
// and pushes the result.
Status eval_value(const Cell* value);

// ---------------------------------------------------------------- tracing

// Trace events, one bit each.
enum TraceEvent : uint32_t {
  kTraceInit = 1,
  kTraceEnd = 2,
  kTraceProlog = 4,
  kTraceEpilog = 8,
  kTraceEnter = 16,
  kTraceExit = 32,
  kTraceOpen = 64,
  kTraceReturn = 128,
  kTraceFetch = 256,
  kTracePush = 512,
  kTraceSet = 1024,
  kTraceCall = 2048,
  kTraceError = 4096,
  kTraceThrow = 8192,
  kTraceCatch = 16384,
  kTraceExpr = 32768,
  kTraceAll = 0x1FFFF,
};

// The mask a tracer function asks for: the event words of the block that
// opens its body, or kTraceAll without one.
uint32_t trace_mask_of(const Cell* tracer);
// MAY ALLOCATE. Makes [tracer] (a function!, or none to stop) the tracer and
// switches tracing on (off for none). Used by do/trace.
void trace_set(const Cell* tracer);
// True while a tracer is installed, whether or not events go out now (a
// library body or a [no-trace] function runs untraced).
bool trace_installed_q();
// The trace mode: on while a tracer is installed and not switched off by
// trace_set_mode (every trace_set switches it back on).
bool trace_mode_q();
void trace_set_mode(bool on);
// A tracer written in C++ that stands in for a Kiv tracer function: it gets
// that function's events with the arguments it would get ([value] and
// [reference] none! where it would get none; [frame_base] and [frame_top]
// its frame pair). The cells may lie in series buffers: it copies what it
// keeps before it allocates. MAY ALLOCATE; runs no Kiv code.
using NativeTracerFn = void (*)(TraceEvent event, const Cell& value, const Cell& reference,
                                int32_t frame_base, int32_t frame_top);
// Start-up: while [tracer] (a function!) is the tracer, [fn] gets its events
// in its place.
void trace_register_native(const Cell* tracer, NativeTracerFn fn);
// The event named [name] (ignoring case), or 0.
uint32_t trace_event_of_name(std::string_view name);
// MAY RUN KIV CODE. Sends the error event for [error], the error! just made
// for the raise in flight, which is left as it was.
void trace_raised_error(const Cell* error);
// MAY RUN KIV CODE. Sends [event] to the tracer when tracing and the mask
// has it: the code block (null: none), the position in it (-1 when
// unknown), the value (null: none) and the reference (null: none). The
// stacks are left exactly as they were.
void trace_event(TraceEvent event, const Cell* code, int32_t position, const Cell* value,
                 const Cell* reference);

// ---------------------------------------------------------------- set-up

// ---------------------------------------------------------------- the core's hooks

// The evaluator's answers to the core's hooks (runtime/hooks.h), which
// start-up installs: current_code, call_value, object_eval_block and
// object_invoke_handler. All but the first MAY RUN KIV CODE.
Cell current_code_cell();
void call_value_hook(const Cell* fn, const Cell* args, int argc, Cell* result);
void object_eval_block_hook(Cell* block);
void object_invoke_handler_hook(Cell* handler, Node object_context, const Cell* name, uint32_t flags);

// MAY ALLOCATE. Makes the interpreter's cells. In start-up, before any Kiv code runs.
void interp_init();

}  // namespace kiv
