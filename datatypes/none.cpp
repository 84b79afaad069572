// none!: the empty value. The series actions on none are harmless and answer none.
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv {

Cell* set_result_none() {
  *g_stack.arguments = kNoneCell;
  return g_stack.arguments;
}

Cell* none_make_at(const Cell* block) {
  Cell* c = block_append_cell(block);
  *c = kNoneCell;
  return c;
}

Cell* push_none() { return stack_push_value(kNoneCell); }

namespace {

Cell* none_make(Cell*, const MakeArgs&) { return push_none(); }

int32_t none_form(Cell*, const FormArgs& args) {
  return args.limit - string_append_c_string(args.buffer, "none");
}

int32_t none_mold(Cell*, const MoldArgs& args) {
  return args.limit - string_append_c_string(args.buffer, args.all ? "#(none)" : "none");
}

int none_compare(Cell*, const CompareArgs& args) {
  if (!args.value2->is(kTypeNone)) return kNotComparable;
  if (!equality_or_sort_op_q(args.op)) return kNotComparable;
  return 0;
}

// The series actions on none answer none, whatever their arguments.
template <class Args>
Cell* none_answer(Cell*, const Args&) {
  return set_result_none();
}
int32_t none_length_q(Cell*, const NoneArgs&) { return -1; }

}  // namespace

namespace {

constexpr TypeHooks kNoneHooks{.hash = [](const Cell*) { return uint32_t(-1); }};

}  // namespace

void none_datatype_init() {
  register_datatype({kTypeNone,
                     kTypeNil,
                     "none!",
                     kActionCount,
                     {.make = none_make,
                      .to = none_make,
                      .form = none_form,
                      .mold = none_mold,
                      .compare = none_compare,
                      .clear = none_answer<NoneArgs>,
                      .find = none_answer<FindArgs>,
                      .length_q = none_length_q,
                      .remove = none_answer<RemoveArgs>,
                      .select = none_answer<SelectArgs>,
                      .take = none_answer<TakeArgs>},
                     &kNoneHooks});
}

}  // namespace kiv
