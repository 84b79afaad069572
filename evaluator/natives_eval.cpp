// Evaluation, context and exit natives: do, reduce, compose, get, set, unset,
// value?, bind, in, context?, construct, apply, try, catch, throw, break,
// continue, exit, return.
#include "evaluator/natives.h"

namespace kiv {

void natives_eval_register() {}

}  // namespace kiv
