// Control flow and loop natives: if, unless, either, any, all, while, until, loop,
// repeat, forever, foreach, forall, remove-each, switch, case.
#include "evaluator/natives.h"

namespace kiv {

void natives_control_register() {}

}  // namespace kiv
