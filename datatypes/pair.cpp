// pair!: make and to, text, compare, arithmetic, rounding, random and access
// to x and y (the payload is laid out in datatypes/pair.h).
//
// Every handler leaves its result in its first argument. Arithmetic computes
// both components before it writes either, so an operation that raises leaves
// the pair as it was; a result that cannot stay integral is handed, with the
// pair made a point2D!, to point2D!'s arithmetic (datatypes/point.cpp).
// Doubles become coordinates only through pair_coordinate.
#include "datatypes/pair.h"

#include <cmath>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/text_load.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/murmur3.h"
#include "runtime/numbers.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

Cell* pair_init(Cell* cell, int32_t x, int32_t y) {
  cell->set_type(kTypePair);
  cell->data1 = 0;
  pair_set_x(cell, x);
  pair_set_y(cell, y);
  return cell;
}

Cell* pair_make_at(const Cell* block, int32_t x, int32_t y) {
  Cell* c = block_append_cell(block);
  *c = pair_cell(x, y);
  return c;
}

Cell* pair_push(int32_t x, int32_t y) { return stack_push_value(pair_cell(x, y)); }

namespace {

// [d] truncated toward zero; script out-of-range with [culprit] when [d] is
// NaN or lies outside int32.
int32_t truncate_coordinate(double d, const Cell* culprit) {
  if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0) raise_error(kErrScriptOutOfRange, culprit);
  return double_to_int32(d);
}

// script not-related with the running function's word and money!: rounding
// to a money! scale.
[[noreturn]] void raise_money_scale() {
  Cell where = where_word_cell();
  Cell datatype = datatype_cell(kTypeMoney);
  raise_error(kErrScriptNotRelated, &where, &datatype);
}

// An integer! or float! (not percent!): what a block spec may hold.
bool coordinate_number_q(const Cell* c) { return c->is(kTypeInteger) || c->is(kTypeFloat); }

// 1 for x, 2 for y: the integer 1 or 2, or the word x or y by its canonical
// symbol; 0 for anything else.
int pair_field_index(const Cell* element) {
  if (element->is(kTypeInteger)) {
    int32_t i = integer_get(element);
    return i == 1 || i == 2 ? i : 0;
  }
  if (is_any_word(element->type())) {
    int32_t symbol = word_symbol(element);
    if (runtime_symbol_q(symbol, kSymX)) return 1;
    if (runtime_symbol_q(symbol, kSymY)) return 2;
  }
  return 0;
}

int32_t pair_field(const Cell* pair, int field) { return field == 1 ? pair_x(pair) : pair_y(pair); }

}  // namespace

int32_t pair_coordinate(const Cell* number) {
  if (number->is(kTypeInteger)) return integer_get(number);
  return truncate_coordinate(float_get(number), number);
}

void pair_to_point2d(Cell* pair) {
  float x = float(pair_x(pair)), y = float(pair_y(pair));
  point2d_init(pair, x, y);
}

// ---------------------------------------------------------------- arithmetic

Cell* pair_do_math(Cell* left, Cell* right, int op) {
  int32_t bx, by;
  switch (right->type()) {
    case kTypePair:
      bx = pair_x(right);
      by = pair_y(right);
      break;
    case kTypeInteger: bx = by = integer_get(right); break;
    case kTypePoint2D: pair_to_point2d(left); return point_do_math(left, right, op);
    case kTypeFloat:
    case kTypePercent: {
      double f = float_get(right);
      if (op == kMathMultiply || op == kMathDivide) {
        // A factor or divisor makes a point; only a divisor may be infinite.
        if (std::isnan(f) || (op == kMathMultiply && std::isinf(f))) raise_error(kErrScriptInvalidArg, right);
        double x = pair_x(left), y = pair_y(left);
        if (op == kMathMultiply)
          point2d_init(left, float(x * f), float(y * f));
        else
          point2d_init(left, float(x / f), float(y / f));
        return left;
      }
      if (!std::isfinite(f)) raise_error(kErrScriptInvalidArg, right);
      bx = by = pair_coordinate(right);
      break;
    }
    default: raise_invalid_type(right);
  }
  // Both components first, so that an error in either leaves the pair alone.
  Cell rx = integer_cell(0), ry = integer_cell(0);
  int32_t x = integer_do_math(pair_x(left), bx, op, &rx);
  int32_t y = integer_do_math(pair_y(left), by, op, &ry);
  if (!rx.is(kTypeInteger) || !ry.is(kTypeInteger)) {
    // Overflow or an uneven division: the whole operation again, as points.
    Cell operand = point2d_cell(float(bx), float(by));
    pair_to_point2d(left);
    return point_do_math(left, &operand, op);
  }
  pair_set_x(left, x);
  pair_set_y(left, y);
  return left;
}

Cell* pair_negate(Cell* pair, const NoneArgs& args) {
  int32_t x = pair_x(pair), y = pair_y(pair);
  if (x == INT32_MIN || y == INT32_MIN) raise_error(kErrMathOverflow);
  pair_set_x(pair, -x);
  pair_set_y(pair, -y);
  return pair;
}

namespace {

Cell* pair_absolute(Cell* pair, const NoneArgs& args) {
  int32_t x = integer_abs(pair_x(pair));
  int32_t y = integer_abs(pair_y(pair));
  pair_set_x(pair, x);
  pair_set_y(pair, y);
  return pair;
}

// MAY ALLOCATE (the where word of an error). Each coordinate rounded by
// integer!'s round with the same refinements; a pair! scale gives its x to x
// and its y to y. A float result (a float! scale) is truncated back.
Cell* pair_round(Cell* pair, const RoundArgs& args) {
  if (args.to && args.to->is(kTypeMoney)) raise_money_scale();
  RoundFn round = actions_of(kTypeInteger).round;
  StackSave save;
  int32_t rounded[2];
  for (int field = 1; field <= 2; field++) {
    Cell* n = stack_push_value(integer_cell(pair_field(pair, field)));
    RoundArgs each = args;
    if (args.to && args.to->is(kTypePair))
      each.to = stack_push_value(integer_cell(pair_field(args.to, field)));
    Cell* r = round(n, each);
    switch (r->type()) {
      case kTypeInteger: rounded[field - 1] = integer_get(r); break;
      case kTypeFloat:
      case kTypePercent:
      case kTypeTime: rounded[field - 1] = truncate_coordinate(float_get(r), r); break;
      default: raise_invalid_type(r);
    }
  }
  pair_set_x(pair, rounded[0]);
  pair_set_y(pair, rounded[1]);
  return pair;
}

Cell* pair_random(Cell* pair, const RandomArgs& args) {
  int32_t x = pair_x(pair), y = pair_y(pair);
  if (args.seed) {
    random_seed(uint32_t(x ^ y));
    *pair = kUnsetCell;
    return pair;
  }
  // A zero coordinate stays 0.
  if (x != 0) pair_set_x(pair, random_integer(args.secure, x));
  if (y != 0) pair_set_y(pair, random_integer(args.secure, y));
  return pair;
}

Cell* pair_reverse(Cell* pair, const ReverseArgs& args) {
  int32_t x = pair_x(pair);
  pair_set_x(pair, pair_y(pair));
  pair_set_y(pair, x);
  return pair;
}

// ---------------------------------------------------------------- text

int32_t pair_form(Cell* pair, const FormArgs& args) {
  int32_t n = string_append_c_string(args.buffer, integer_to_text(pair_x(pair)));
  n += string_append_c_string(args.buffer, "x");
  n += string_append_c_string(args.buffer, integer_to_text(pair_y(pair)));
  return args.limit - n;
}

int32_t pair_mold(Cell* pair, const MoldArgs& args) { return pair_form(pair, form_args_of(args)); }

// ---------------------------------------------------------------- make and to

// x and y from the first two values of a block from its position.
Cell pair_from_block(const Cell* spec) {
  Cell block = *spec;
  if (block_ks_length_q(&block) < 2) raise_error(kErrSyntaxMalconstruct, spec);
  const Cell* head = block_ks_head(&block);
  Cell first = head[0], second = head[1];
  if (!coordinate_number_q(&first) || !coordinate_number_q(&second))
    raise_error(kErrSyntaxMalconstruct, spec);
  int32_t x = pair_coordinate(&first);
  return pair_cell(x, pair_coordinate(&second));
}

Cell* pair_make(Cell* proto, const MakeArgs& args) {
  const Cell* spec = args.spec;
  switch (spec->type()) {
    case kTypePair: copy_cell(proto, spec); return proto;
    case kTypeInteger: *proto = pair_cell(integer_get(spec), integer_get(spec)); return proto;
    case kTypeFloat: {
      int32_t n = pair_coordinate(spec);
      *proto = pair_cell(n, n);
      return proto;
    }
    case kTypePoint2D: {
      double x = point_x(spec), y = point_y(spec);
      if (!std::isfinite(x) || !std::isfinite(y)) raise_error(kErrScriptInvalidArg, spec);
      int32_t ix = truncate_coordinate(x, spec);
      *proto = pair_cell(ix, truncate_coordinate(y, spec));
      return proto;
    }
    case kTypeBlock: *proto = pair_from_block(spec); return proto;
    case kTypeString: {
      // The text read as one value, which must be a pair!.
      StackSave save;
      Cell* text = stack_push_cell(spec);
      Cell* value = stack_push();
      transcode_one_value_into(text, value);
      if (!value->is(kTypePair)) {
        Cell datatype = datatype_cell(kTypePair);
        raise_error(kErrScriptBadToArg, &datatype, text);
      }
      *proto = *value;
      proto->clear_new_line();
      return proto;
    }
    default: {
      Cell datatype = datatype_cell(kTypePair);
      raise_error(kErrScriptBadToArg, &datatype, spec);
    }
  }
}

// ---------------------------------------------------------------- compare

// Pairs order by x, then by y; the one answer serves every operator. A
// point2D! is compared with the pair made a point2D! (a copy: the argument is
// left as it was).
int pair_compare(Cell* pair, const CompareArgs& args) {
  const Cell* other = args.value2;
  if (other->is(kTypePoint2D)) {
    CompareFn compare = actions_of(kTypePoint2D).compare;
    if (!compare) return kNotComparable;
    Cell point = *pair;
    pair_to_point2d(&point);
    return compare(&point, args);
  }
  if (!other->is(kTypePair)) return kNotComparable;
  int32_t a = pair_x(pair), b = pair_x(other);
  if (a == b) {
    a = pair_y(pair);
    b = pair_y(other);
  }
  return a < b ? -1 : a > b ? 1 : 0;
}

// ---------------------------------------------------------------- pick and path

// An integer 1 or 2, or the word x or y; another word raises script
// cannot-use with the word and the pair, anything else script out-of-range.
Cell* pair_pick(Cell* pair, const PickArgs& args) {
  int field = pair_field_index(args.index);
  if (field == 0) {
    if (is_any_word(args.index->type())) raise_error(kErrScriptCannotUse, args.index, pair);
    raise_error(kErrScriptOutOfRange, args.index);
  }
  *pair = integer_cell(pair_field(pair, field));
  return pair;
}

// Reads x or y as an integer!, or sets it from an integer! in place and
// returns that value.
Cell* pair_eval_path(Cell* pair, const EvalPathArgs& args) {
  int field = pair_field_index(args.element);
  if (field == 0) raise_error(kErrScriptInvalidPath, args.path ? args.path : pair, args.element);
  if (!args.value) return stack_push_value(integer_cell(pair_field(pair, field)));
  if (!args.value->is(kTypeInteger)) raise_invalid_type(args.value);
  if (field == 1)
    pair_set_x(pair, integer_get(args.value));
  else
    pair_set_y(pair, integer_get(args.value));
  return args.value;
}

// x and y, the two words in memory order.
uint32_t pair_hash(const Cell* v) { return hash_murmur3(&v->data2, 8); }

constexpr TypeHooks kPairHooks{.hash = pair_hash};

}  // namespace

void pair_datatype_init() {
  register_datatype({kTypePair,
                     kTypeNil,
                     "pair!",
                     kActionCount,
                     {
                         .make = pair_make,
                         .random = pair_random,
                         .to = pair_make,
                         .form = pair_form,
                         .mold = pair_mold,
                         .eval_path = pair_eval_path,
                         .compare = pair_compare,
                         .absolute = pair_absolute,
                         .add = math_handler<pair_do_math, kMathAdd>,
                         .divide = math_handler<pair_do_math, kMathDivide>,
                         .multiply = math_handler<pair_do_math, kMathMultiply>,
                         .negate = pair_negate,
                         .remainder = math_handler<pair_do_math, kMathRemainder>,
                         .round = pair_round,
                         .subtract = math_handler<pair_do_math, kMathSubtract>,
                         .and_t = math_handler<pair_do_math, kMathAnd>,
                         .or_t = math_handler<pair_do_math, kMathOr>,
                         .xor_t = math_handler<pair_do_math, kMathXor>,
                         .pick = pair_pick,
                         .reverse = pair_reverse,
                     },
                     &kPairHooks});
}

}  // namespace kiv
