// Function-making natives: func, function, does, has.
//
// Only func makes the value; the other three build a spec (and keep the
// body) and hand both to func's worker. The spec checks, the context, the
// locals collection and the value itself belong to function! (datatypes/
// function.h); these natives add no errors of their own. func copies neither
// block (the body's deep copy is the maker's); function and has work on a
// shallow copy of their spec, so the caller's block never changes.
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/runtime_words.h"
#include "evaluator/natives.h"

namespace kiv {

namespace {

// MAY ALLOCATE. Checks [spec] and makes the function of [spec] and [body]
// (both stable), which becomes the call's result.
Status make_function_result(const Cell* spec, const Cell* body) {
  uint32_t flags = function_check_spec(spec);
  make_function_value(spec, body, 0, 0, 0, flags);
  return native_result(g_stack.top[-1]);
}

}  // namespace

KIV_NATIVE(Func) { return make_function_result(a.spec, a.body); }

KIV_NATIVE(Function) {
  // The copy starts at the spec's position (one past its tail reads as the tail).
  Cell* spec = block_clone(a.spec, false, false);
  function_collect_locals(spec, a.body);
  return make_function_result(spec, a.body);
}

KIV_NATIVE(Does) {
  Cell* spec = block_push_only(1);
  return make_function_result(spec, a.body);
}

KIV_NATIVE(Has) {
  Cell* spec = block_clone(a.vars, false, false);
  Cell local = runtime_value(kRefinementLocal);
  block_insert_value(spec, &local, false, true);
  return make_function_result(spec, a.body);
}

void natives_function_register() {
  KIV_REGISTER(Func);
  KIV_REGISTER(Function);
  KIV_REGISTER(Does);
  KIV_REGISTER(Has);
}

}  // namespace kiv
