// logic!: make, to, random, form, mold, compare and the bitwise actions; the truth tests.
#include "datatypes/logic.h"

#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/murmur3.h"
#include "runtime/random.h"
#include "runtime/stack.h"

namespace kiv {

Cell* logic_box(uint32_t flag) {
  *g_stack.arguments = make_cell(kTypeLogic, flag);
  return g_stack.arguments;
}

Cell* logic_make_at(const Cell* block, uint32_t flag) {
  Cell* c = block_append_cell(block);
  *c = make_cell(kTypeLogic, flag);
  return c;
}

Cell* logic_push(uint32_t flag) { return stack_push_value(make_cell(kTypeLogic, flag)); }

bool true_value_q() {
  const Cell* c = g_stack.arguments;
  if (c->is(kTypeUnset)) raise_error(kErrScriptNoReturn);
  return !cell_false(c);
}

bool false_value_q() { return cell_false(g_stack.arguments); }

bool logic_cell_true_q(const Cell* cell, bool check, const Cell* word) {
  if (check && cell->is(kTypeUnset)) raise_error(kErrScriptNoValue, word);
  return !cell_false(cell);
}

bool logic_top_false_q() { return cell_false(stack_last_value()); }
bool logic_top_true_q() { return !logic_top_false_q(); }

namespace {

Cell* logic_to(Cell*, const MakeArgs& args) {
  if (args.spec->is(kTypeLogic)) return args.spec;
  return stack_push_value(args.spec->is(kTypeNone) ? kFalseCell : kTrueCell);
}

Cell* logic_make(Cell* proto, const MakeArgs& args) {
  switch (args.spec->type()) {
    case kTypeInteger: return stack_push_value(logic_cell(integer_get(args.spec) != 0));
    case kTypeFloat:
    case kTypePercent:
      // A NaN is not equal to 0.0, so it gives true.
      return stack_push_value(logic_cell(!(float_get(args.spec) == 0.0)));
    default: return logic_to(proto, args);
  }
}

Cell* logic_random(Cell* value, const RandomArgs& args) {
  if (args.seed) {
    random_seed(value->data1);
    *value = kUnsetCell;
    return value;
  }
  int32_t draw = args.secure ? random_next_secure() : random_next();
  *value = logic_cell(draw > 0x3FFFFFFF);
  return value;
}

int32_t logic_form(Cell* value, const FormArgs& args) {
  return args.limit - string_append_c_string(args.buffer, value->data1 == 1 ? "true" : "false");
}

int32_t logic_mold(Cell* value, const MoldArgs& args) {
  bool t = value->data1 == 1;
  return args.limit - string_append_c_string(
                          args.buffer, args.all ? (t ? "#(true)" : "#(false)") : (t ? "true" : "false"));
}

int logic_compare(Cell* value, const CompareArgs& args) {
  if (!args.value2->is(kTypeLogic)) return kNotComparable;
  if (!equality_or_sort_op_q(args.op)) return kNotComparable;
  int d = int(value->data1) - int(args.value2->data1);
  return d < 0 ? -1 : d > 0 ? 1 : 0;
}

Cell* logic_complement(Cell* value, const NoneArgs& args) {
  value->data1 ^= 1;
  return value;
}

// Operation codes: 5 or, 6 and, 7 xor.
Cell* logic_bitwise_op(Cell* value, Cell* other, int op) {
  if (!other->is(kTypeLogic)) {
    Cell argument = name_word_cell("value2");
    raise_expect_arg(nullptr, other->type(), &argument);
  }
  switch (op) {
    case 5: value->data1 |= other->data1; break;
    case 6: value->data1 &= other->data1; break;
    default: value->data1 ^= other->data1; break;
  }
  return value;
}

Cell* logic_or(Cell* a, const BinaryArgs& args) { return logic_bitwise_op(a, args.value2, 5); }
Cell* logic_and(Cell* a, const BinaryArgs& args) { return logic_bitwise_op(a, args.value2, 6); }
Cell* logic_xor(Cell* a, const BinaryArgs& args) { return logic_bitwise_op(a, args.value2, 7); }

}  // namespace

namespace {

constexpr TypeHooks kLogicHooks{.hash = [](const Cell* v) { return hash_int32(logic_get(v)); }};

}  // namespace

void logic_datatype_init() {
  register_datatype({kTypeLogic,
                     kTypeNil,
                     "logic!",
                     kActionCount,
                     {.make = logic_make,
                      .random = logic_random,
                      .to = logic_to,
                      .form = logic_form,
                      .mold = logic_mold,
                      .compare = logic_compare,
                      .and_t = logic_and,
                      .complement = logic_complement,
                      .or_t = logic_or,
                      .xor_t = logic_xor},
                     &kLogicHooks});
}

}  // namespace kiv
