// Function-making natives: func, function, does, has.
//
// Written so far (with the interpreter, which its tests and benchmarks
// need): func, does.
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "evaluator/natives.h"

namespace kiv {

KIV_NATIVE(Func) {
  function_check_spec(a.spec);
  make_function_value(a.spec, a.body, 0, 0, 0, function_check_spec(a.spec));
  return native_result(g_stack.top[-1]);
}

KIV_NATIVE(Does) {
  Cell* spec = stack_push_value(series_cell(kTypeBlock, series_alloc_cells(1)));
  make_function_value(spec, a.body, 0, 0, 0, 0);
  return native_result(g_stack.top[-1]);
}

void natives_function_register() {
  KIV_REGISTER(Func);
  KIV_REGISTER(Does);
}

}  // namespace kiv
