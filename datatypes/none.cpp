// none!: the empty value. The series actions on none are harmless and answer none.
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/memory.h"

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

Cell* none_make(Cell*, Cell*, TypeId) { return push_none(); }

int32_t none_form(Cell*, Cell* buffer, Cell*, int32_t limit) {
  return limit - string_append_c_string(buffer, "none");
}

int32_t none_mold(Cell*, Cell* buffer, bool, bool all, bool, Cell*, int32_t limit, int32_t) {
  return limit - string_append_c_string(buffer, all ? "#(none)" : "none");
}

int none_compare(Cell*, Cell* other, CompareOp op) {
  if (!other->is(kTypeNone)) return kNotComparable;
  switch (op) {
    case kCmpEqual: case kCmpNotEqual: case kCmpStrictEqual: case kCmpSort: case kCmpCaseSort:
    case kCmpSame: case kCmpFindEqual:
      return 0;
    default:
      return kNotComparable;
  }
}

Cell* none_to_none(Cell*) { return set_result_none(); }
Cell* none_find(Cell*, Cell*, const FindArgs&) { return set_result_none(); }
Cell* none_remove(Cell*, Cell*, Cell*) { return set_result_none(); }
Cell* none_take(Cell*, Cell*, bool, bool) { return set_result_none(); }
int32_t none_length_q(Cell*) { return -1; }

}  // namespace

namespace {

constexpr TypeHooks kNoneHooks{.hash = [](const Cell*) { return uint32_t(-1); }};

}  // namespace

void none_datatype_init() {
  register_datatype({kTypeNone, kTypeNil, "none!", kActionCount,
                     {.make = none_make, .to = none_make, .form = none_form, .mold = none_mold,
                      .compare = none_compare, .clear = none_to_none, .find = none_find,
                      .length_q = none_length_q, .remove = none_remove, .select = none_find,
                      .take = none_take}, &kNoneHooks});
}

}  // namespace kiv
