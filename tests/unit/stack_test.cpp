// Data and call stacks: pushes, frames, unwinding, exit searches and overflow.
#include "runtime/stack.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "boot/start.h"
#include "datatypes/context.h"
#include "datatypes/logic.h"
#include "kiv_test.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/root_block.h"

namespace kiv {
namespace {

using test::catch_error;

TEST(Stack, PopAndLastValue) {
  StackSave save;
  g_stack.arguments = g_stack.top = g_stack.bottom;
  EXPECT_EQ(stack_last_value(), g_stack.bottom);  // empty: the bottom cell
  stack_push_value(integer_cell(1));
  stack_push_value(integer_cell(2));
  EXPECT_EQ(integer_get(stack_last_value()), 2);
  EXPECT_EQ(stack_last_type(), kTypeInteger);
  stack_pop(5);  // more than are pushed
  EXPECT_EQ(g_stack.top, g_stack.bottom);
}

TEST(Stack, ResultSlotHelpers) {
  StackSave save;
  open_native_frame({});
  stack_push_value(integer_cell(1));
  stack_push_value(integer_cell(2));
  Cell nine = integer_cell(9);
  stack_reset_to_value(&nine);
  EXPECT_EQ(g_stack.top, g_stack.arguments + 1);
  EXPECT_EQ(integer_get(g_stack.arguments), 9);
  stack_push_value(integer_cell(3));
  stack_collapse_last();
  EXPECT_EQ(integer_get(stack_last_value()), 3);
  EXPECT_EQ(g_stack.top - g_stack.arguments, 1);
  EXPECT_EQ(stack_reset(), g_stack.top);
}

TEST(Stack, FramesAndUnwinding) {
  StackSave save;
  stack_push_value(integer_cell(0));  // the caller's result slot lives below
  Cell* caller = g_stack.arguments;
  open_native_frame({});
  Cell* callee = g_stack.arguments;
  EXPECT_EQ(callee, g_stack.top);
  EXPECT_EQ(stack_top_frame()->kind(), kFrameNative);
  stack_push_value(integer_cell(42));
  stack_push_value(integer_cell(43));
  stack_unwind_last();
  EXPECT_EQ(g_stack.arguments, caller);
  EXPECT_EQ(g_stack.top, callee + 1);
  EXPECT_EQ(integer_get(caller), 42);

  open_native_frame({});
  stack_push_value(integer_cell(7));
  stack_unwind_reset();
  EXPECT_EQ(g_stack.top, g_stack.arguments);

  Cell* before = g_stack.top;
  open_native_frame({});
  stack_push_value(integer_cell(7));
  stack_unwind_drop();
  EXPECT_EQ(g_stack.top, before);
}

TEST(Stack, FunctionFramesRestoreTheirContext) {
  StackSave save;
  // A function context, its values on the data stack, as a running call left it.
  Node ctx = context_create(1, true, false, 0, kContextFunction);
  stack_push_value(context_view(ctx));
  context_set_values(ctx, 1234);
  stack_push_value(integer_cell(0));
  open_function_frame({}, ctx);
  stack_mark_function_body({}, ctx);
  EXPECT_EQ(context_values(ctx), stack_index(g_stack.arguments) + 1);
  EXPECT_TRUE(stack_top_frame()->body());
  stack_unwind();
  stack_unwind_function();
  EXPECT_EQ(context_values(ctx), 1234u);
}

// Runs [body] as a native inside the frames [kinds] (outermost first) and
// returns the status it gave.
Status run_in_frames(std::initializer_list<FrameKind> kinds, const std::function<Status()>& body) {
  for (FrameKind k : kinds) {
    switch (k) {
      case kFrameLoop: stack_mark_loop({}); break;
      case kFrameTryAll: stack_mark_try_all({}); break;
      case kFrameTry: stack_mark_try({}); break;
      case kFrameCatch: stack_mark_catch({}); break;
      case kFrameFunction: stack_mark_interp_function({}); break;
      default: stack_mark_eval_block({}); break;
    }
    stack_push_value(kNoneCell);  // something of this level on the stack
  }
  open_native_frame({});  // the native that asks (break, return, ...)
  return body();
}

TEST(Stack, BreakFindsTheLoop) {
  StackSave save;
  CallFrame* frames = g_stack.frames_top;
  stack_mark_loop({});
  Cell* loop_args = g_stack.arguments;
  Status status = run_in_frames({kFrameEvalBlock}, [] {
    stack_push_value(integer_cell(5));  // break/return 5
    return stack_throw_break(true, false);
  });
  EXPECT_EQ(status, Status::kBreak);
  EXPECT_EQ(g_stack.frames_top, frames + 1);  // the loop frame stays on top
  EXPECT_EQ(g_stack.arguments, loop_args);
  EXPECT_EQ(g_stack.top, loop_args);
  EXPECT_EQ(integer_get(loop_args), 5);
  // continue, and a plain break, leave unset!.
  EXPECT_EQ(run_in_frames({}, [] { return stack_throw_break(false, true); }), Status::kContinue);
  EXPECT_TRUE(loop_args->is(kTypeUnset));
}

TEST(Stack, ReturnFindsTheBody) {
  StackSave save;
  open_native_frame({});
  stack_set_body_flag(true);
  Cell* body_args = g_stack.arguments;
  Status status = run_in_frames({kFrameLoop, kFrameEvalBlock}, [] {
    stack_push_value(integer_cell(8));
    return stack_throw_return(true);
  });
  EXPECT_EQ(status, Status::kReturn);
  EXPECT_EQ(integer_get(body_args), 8);
  EXPECT_EQ(run_in_frames({}, [] { return stack_throw_return(false); }), Status::kExit);
  EXPECT_TRUE(body_args->is(kTypeUnset));
}

TEST(Stack, ExitsWithoutTargetOrAcrossTryAllAreErrors) {
  struct Case {
    std::initializer_list<FrameKind> frames;
    std::function<Status()> exit;
    ErrorId error;
  } cases[] = {
      {{}, [] { return stack_throw_break(false, false); }, kErrThrowBreak},
      {{kFrameLoop, kFrameTryAll}, [] { return stack_throw_break(false, false); }, kErrThrowBreak},
      {{kFrameLoop, kFrameTryAll}, [] { return stack_throw_break(false, true); }, kErrThrowContinue},
      {{kFrameFunction}, [] { return stack_throw_return(true); }, kErrThrowReturn},
      {{kFrameCatch, kFrameTryAll},
       []() -> Status {
         stack_push_value(kNoneCell);
         stack_throw_value(kThrowThrow);
       },
       kErrThrowThrow},
  };
  for (const Case& c : cases) {
    StackSave save;
    // (A function frame without the body flag is no return target.)
    EXPECT_EQ(catch_error([&] { (void)run_in_frames(c.frames, c.exit); }), c.error);
  }
}

TEST(Stack, ThrowReachesTheCatchFrame) {
  StackSave save;
  stack_mark_catch({});
  Cell* catch_args = g_stack.arguments;
  try {
    (void)run_in_frames({kFrameLoop}, []() -> Status {
      stack_push_value(integer_cell(11));
      stack_throw_value(kThrowThrow);
    });
    FAIL() << "no throw";
  } catch (KivThrow& t) {
    EXPECT_EQ(t.code, kThrowThrow);
  }
  EXPECT_EQ(g_stack.arguments, catch_args);
  EXPECT_EQ(integer_get(&catch_args[0]), 11);
  EXPECT_TRUE(catch_args[1].is(kTypeUnset));  // no name
  g_stack.throw_origin = nullptr;
  stack_exit_taken();
}

// A guard made inside the catch (as C++ code that runs a callback holds one)
// does not move the stacks back above where the throw settled them; guards
// made outside the catch, and any guard once the catch took the throw,
// restore as before.
TEST(Stack, GuardsNeverUndoASettledThrow) {
  StackSave outer;
  stack_push_value(integer_cell(1));
  stack_mark_catch({});
  Cell* catch_args = g_stack.arguments;
  CallFrame* catch_top = g_stack.frames_top;
  try {
    StackSave inside_catch;
    open_native_frame({});
    stack_push_value(integer_cell(2));
    StackSave callback_guard;
    open_native_frame({});
    stack_push_value(integer_cell(12));
    stack_throw_value(kThrowThrow);
  } catch (KivThrow& t) {
    EXPECT_EQ(t.code, kThrowThrow);
  }
  EXPECT_EQ(g_stack.settled, catch_top);
  EXPECT_EQ(g_stack.frames_top, catch_top);
  EXPECT_EQ(g_stack.arguments, catch_args);
  EXPECT_EQ(g_stack.top, catch_args + 2);
  EXPECT_EQ(integer_get(&catch_args[0]), 12);
  // The catch takes it: guards restore again.
  stack_exit_taken();
  g_stack.throw_origin = nullptr;
  {
    StackSave again;
    stack_push_value(kNoneCell);
  }
  EXPECT_EQ(g_stack.top, catch_args + 2);
}

TEST(Stack, DataStackOverflowLeavesHeadroom) {
  StackSave save;
  EXPECT_EQ(catch_error([] {
              for (;;) stack_push_value(kNoneCell);
            }),
            kErrInternalStackOverflow);
  // The failing push stopped at the last cell; the top went 5 cells below the end.
  // (The try frame's own restore then put the pointers back.)
}

TEST(Stack, CallStackOverflow) {
  StackSave save;
  CallFrame* top = nullptr;
  EXPECT_EQ(catch_error([&] {
              for (;;) {
                open_native_frame({});
                top = g_stack.frames_top;
              }
            }),
            kErrInternalStackOverflow);
  EXPECT_EQ(top, g_stack.frames_end);  // every frame fits, the next one raised
  EXPECT_EQ(g_stack.frames_end - g_stack.frames_base, kCallStackFrames);
}

TEST(Stack, DataStackHandsOutAllButTheLastCell) {
  StackSave save;
  g_stack.arguments = g_stack.top = g_stack.bottom;
  uint32_t pushed = 0;
  stack_mark_try({});
  try {
    for (;;) {
      stack_push_value(kNoneCell);
      pushed++;
    }
  } catch (KivThrow&) {
    g_last_throw_code = 0;
  }
  EXPECT_EQ(pushed, kDataStackCells - 1);
}

// Both stacks sit in reservations of their own: a collection that moves
// every other buffer leaves them where they are, and what is pushed far up
// the data stack is still marked from there.
TEST(Stack, StacksStayPutAcrossCollections) {
  StackSave save;
  Cell* bottom = g_stack.bottom;
  CallFrame* frames = g_stack.frames_base;
  EXPECT_TRUE(series_buffer(root_slot(kRootDataStack)->node())->flags & kSeriesReserved);
  EXPECT_TRUE(series_buffer(root_slot(kRootCallStack)->node())->flags & kSeriesReserved);
  EXPECT_EQ(g_stack.end - g_stack.bottom, kDataStackCells);
  bool stress = gc_stress_move_q();
  gc_set_stress(true);
  while (g_stack.top < g_stack.bottom + 1000000) stack_push_value(kNoneCell);
  uint32_t at = stack_index(test::push_text("kept"));
  gc_collect();
  gc_collect();
  gc_set_stress(stress);
  EXPECT_EQ(g_stack.bottom, bottom);
  EXPECT_EQ(g_stack.frames_base, frames);
  EXPECT_EQ(series_buffer(root_slot(kRootDataStack)->node())->cells(), bottom);
  EXPECT_EQ(test::text_of(*stack_at(at)), "kept");
}

// Raises an error in a child process under the outermost catch point, with
// an empty call stack (with [frames], one native frame on it) after running
// [prepare], and returns what the child wrote on standard error; the child
// must end with status 254.
std::string uncaught_report(bool frames, void (*prepare)()) {
  int out[2];
  EXPECT_EQ(pipe(out), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 2);
    g_stack.frames_top = g_stack.frames_base;
    if (prepare) prepare();
    run_outermost([frames] {
      if (frames) open_native_frame({});  // frames, but no try frame among them
      Cell arg = kTrueCell;
      raise_error(kErrScriptInvalidArg, &arg);
    });
    _exit(0);
  }
  close(out[1]);
  std::string text;
  char buf[256];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 254);
  return text;
}

// An error no try frame catches reaches the outermost catch point, which
// reports it on standard error and ends the process with -2 as an 8-bit status.
TEST(Stack, UncaughtErrorExits254) {
  std::string text = uncaught_report(true, nullptr);
  EXPECT_EQ(text.rfind("*** Script Error: invalid argument: true\n", 0), 0u) << text;
}

// The report of an uncaught error is guarded: when forming it fails (here the
// error! value cannot even be made), a plain report still says what the
// error was, and the status is still 254.
TEST(Stack, UncaughtErrorWhoseReportFailsStillReports) {
  std::string text = uncaught_report(
      false, [] { g_hooks.make_raised_error = [](const RaisedError&) -> Cell { throw_code(kThrowError); }; });
  EXPECT_EQ(text, "*** Script Error: invalid-arg\n");
}

}  // namespace
}  // namespace kiv
