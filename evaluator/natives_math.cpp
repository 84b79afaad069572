// Comparison, logic, set and math natives: equal? ... greater-or-equal?, same?,
// not, type?, union, intersect, unique, difference, exclude, complement?,
// negative?, positive?, sign?, zero?, NaN?, max, min, shift, the
// trigonometry, log-2, log-10, log-e, exp, square-root.
#include "evaluator/natives.h"

namespace kiv {

void natives_math_register() {}

}  // namespace kiv
