// Comparison, logic, set and math natives: equal? ... greater-or-equal?, same?,
// not, type?, union, intersect, unique, difference, exclude, complement?,
// negative?, positive?, sign?, zero?, NaN?, max, min, shift, the
// trigonometry, log-2, log-10, log-e, exp, square-root.
//
// Written so far (with the interpreter, which its tests and benchmarks
// need): the seven comparisons, through the compare action with the
// operator codes 0..6 only.
#include "datatypes/actions.h"
#include "datatypes/logic.h"
#include "evaluator/natives.h"

namespace kiv {

namespace {
Status compare_result(Cell* value1, Cell* value2, CompareOp op) {
  return native_result(logic_cell(action_compare(value1, value2, op)));
}
}  // namespace

KIV_NATIVE(EqualQ) { return compare_result(a.value1, a.value2, kCmpEqual); }
KIV_NATIVE(NotEqualQ) { return compare_result(a.value1, a.value2, kCmpNotEqual); }
KIV_NATIVE(StrictEqualQ) { return compare_result(a.value1, a.value2, kCmpStrictEqual); }
KIV_NATIVE(LesserQ) { return compare_result(a.value1, a.value2, kCmpLesser); }
KIV_NATIVE(GreaterQ) { return compare_result(a.value1, a.value2, kCmpGreater); }
KIV_NATIVE(LesserOrEqualQ) { return compare_result(a.value1, a.value2, kCmpLesserOrEqual); }
KIV_NATIVE(GreaterOrEqualQ) { return compare_result(a.value1, a.value2, kCmpGreaterOrEqual); }

void natives_math_register() {
  KIV_REGISTER(EqualQ);
  KIV_REGISTER(NotEqualQ);
  KIV_REGISTER(StrictEqualQ);
  KIV_REGISTER(LesserQ);
  KIV_REGISTER(GreaterQ);
  KIV_REGISTER(LesserOrEqualQ);
  KIV_REGISTER(GreaterOrEqualQ);
}

}  // namespace kiv
