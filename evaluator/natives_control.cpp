// Control flow and loop natives: if, unless, either, any, all, while, until, loop,
// repeat, forever, foreach, forall, remove-each, switch, case.
//
// Written so far (with the interpreter, which its tests and benchmarks
// need): if, either, while.
#include "evaluator/natives.h"

namespace kiv {

KIV_NATIVE(If) {
  if (!truthy(a.cond)) return native_result(make_cell(kTypeNone));
  return eval_block(a.then_blk, true);
}

KIV_NATIVE(Either) { return eval_block(truthy(a.cond) ? a.true_blk : a.false_blk, true); }

// while: the condition block before each round, the body while it is truthy;
// break leaves with unset! even after break/return, continue starts the next round.
KIV_NATIVE(While) {
  stack_mark_loop({});
  Cell* slot = stack_push();
  Status s = catch_exit_status(kExitTargetLoop, [&]() -> Status {
    for (;;) {
      g_stack.top = slot;
      Status c = eval_block(a.cond, false);
      if (c) return c;
      if (!truthy(g_stack.top - 1)) return kStatusOk;
      g_stack.top = slot;
      Status b = eval_block(a.body, false);
      if (b == kThrowContinue) {
        g_stack.top = g_stack.arguments;
        continue;
      }
      if (b) return b;
    }
  });
  if (s && !loop_status_q(s)) return s;
  g_stack.top = g_stack.arguments;
  stack_unwind_reset();
  return native_result(make_cell(kTypeUnset));
}

void natives_control_register() {
  KIV_REGISTER(If);
  KIV_REGISTER(Either);
  KIV_REGISTER(While);
}

}  // namespace kiv
