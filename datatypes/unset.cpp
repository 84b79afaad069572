// unset!: the absence of a value. make and to give unset; form is empty.
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv {

Cell* set_result_unset() {
  *g_stack.arguments = kUnsetCell;
  return g_stack.arguments;
}

Cell* unset_make_at(const Cell* block) {
  Cell* c = block_append_cell(block);
  *c = kUnsetCell;
  return c;
}

Cell* push_unset() { return stack_push_value(kUnsetCell); }

namespace {

Cell* unset_make(Cell*, const MakeArgs& args) { return push_unset(); }

int32_t unset_form(Cell*, const FormArgs& args) {
  int32_t limit = args.limit;
  return limit;
}

int32_t unset_mold(Cell*, const MoldArgs& args) {
  return args.limit - string_append_c_string(args.buffer, args.all ? "#(unset)" : "unset");
}

int unset_compare(Cell*, const CompareArgs& args) {
  if (!args.value2->is(kTypeUnset)) return kNotComparable;
  if (!equality_or_sort_op_q(args.op)) return kNotComparable;
  return 0;
}

}  // namespace

namespace {

constexpr TypeHooks kUnsetHooks{.hash = [](const Cell*) { return uint32_t(-2); }};

}  // namespace

void unset_datatype_init() {
  register_datatype({kTypeUnset,
                     kTypeNil,
                     "unset!",
                     kActionCount,
                     {.make = unset_make,
                      .to = unset_make,
                      .form = unset_form,
                      .mold = unset_mold,
                      .compare = unset_compare},
                     &kUnsetHooks});
}

}  // namespace kiv
