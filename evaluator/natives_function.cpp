// Function-making natives: func, function, does, has.
#include "evaluator/natives.h"

namespace kiv {

void natives_function_register() {}

}  // namespace kiv
