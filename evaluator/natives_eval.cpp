// Evaluation, context and exit natives: do, reduce, compose, get, set, unset,
// value?, bind, in, context?, construct, apply, try, catch, throw, break,
// continue, exit, return.
//
// Written so far (with the interpreter, which its tests need): break,
// continue, return, exit.
#include "evaluator/natives.h"

namespace kiv {

KIV_NATIVE(Break) { return stack_throw_break(a.return_ != nullptr, false); }
KIV_NATIVE(Continue) { return stack_throw_break(false, true); }
KIV_NATIVE(Return) { return stack_throw_return(true); }
KIV_NATIVE(Exit) { return stack_throw_return(false); }

void natives_eval_register() {
  KIV_REGISTER(Break);
  KIV_REGISTER(Continue);
  KIV_REGISTER(Return);
  KIV_REGISTER(Exit);
}

}  // namespace kiv
