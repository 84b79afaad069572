// integer!: helpers, arithmetic, conversions and the action handlers.
//
// Every handler works on argument cells on the data stack and leaves its
// result in the first argument slot. Overflow is detected with the compiler's
// checked arithmetic; doubles become integers only through double_to_int32.
// Operations with a non-integer operand are handed over, by op code, to the
// handler the other operand's type registered; while that type has none, the
// operation raises script invalid-type with that operand's datatype.
#include "datatypes/integer.h"

#include <cmath>

#include "datatypes/actions.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/murmur3.h"
#include "runtime/numbers.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv {

// ---------------------------------------------------------------- helpers

int32_t integer_get_arg() { return integer_get(g_stack.arguments); }

int32_t integer_arg_or_zero() {
  const Cell* c = g_stack.arguments;
  return c->is(kTypeInteger) ? integer_get(c) : 0;
}

Cell* integer_box(int32_t value) {
  *g_stack.arguments = integer_cell(value);
  return g_stack.arguments;
}

Cell* integer_set_cell(Cell* cell, int32_t value) {
  cell->set_type(kTypeInteger);
  integer_set(cell, value);
  return cell;
}

Cell* integer_make_at(const Cell* block, int32_t value) {
  Cell* c = block_append_cell(block);
  *c = integer_cell(value);
  return c;
}

Cell* integer_push(int32_t value) { return stack_push_value(integer_cell(value)); }

int32_t integer_abs(int32_t value) {
  if (value == INT32_MIN) raise_error(kErrMathOverflow);
  return value < 0 ? -value : value;
}

const char* integer_to_text(int32_t value) {
  static char buffer[12];
  if (value == INT32_MIN) return "-2147483648";
  char* p = buffer + sizeof buffer - 1;
  *p = 0;
  uint32_t magnitude = value < 0 ? uint32_t(-value) : uint32_t(value);
  do {
    *--p = char('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  if (value < 0) *--p = '-';
  return p;
}

bool integer_float_out_of_range_q(const Cell* cell) {
  double d = float_get(cell);
  return std::isnan(d) || d > 2147483647.0 || d < -2147483648.0;
}

int32_t integer_do_math(int32_t left, int32_t right, int op, Cell* result) {
  int32_t value;
  bool overflow;
  switch (op) {
    case kMathAdd:
      overflow = __builtin_add_overflow(left, right, &value);
      if (overflow && result) {
        *result = float_cell(double(left) + double(right));
        return 0;
      }
      break;
    case kMathSubtract:
      overflow = __builtin_sub_overflow(left, right, &value);
      if (overflow && result) {
        *result = float_cell(double(left) - double(right));
        return 0;
      }
      break;
    case kMathMultiply:
      overflow = __builtin_mul_overflow(left, right, &value);
      if (overflow && result) {
        *result = float_cell(double(left) * double(right));
        return 0;
      }
      break;
    case kMathDivide:
      if (right == 0) raise_error(kErrMathZeroDivide);
      if (left == INT32_MIN && right == -1) raise_error(kErrMathOverflow);
      if (result && left % right != 0) {
        *result = float_cell(double(left) / double(right));
        return 0;
      }
      value = left / right;
      break;
    case kMathRemainder:
      if (right == 0) raise_error(kErrMathZeroDivide);
      if (left == INT32_MIN && right == -1) raise_error(kErrMathOverflow);
      value = left % right;
      break;
    case kMathOr: value = left | right; break;
    case kMathAnd: value = left & right; break;
    case kMathXor: value = left ^ right; break;
    default: fatal_no_switch();
  }
  if (result) integer_set(result, value);
  return value;
}

BinaryFn math_action_handler(TypeId type, int op) {
  const ActionSlots& s = actions_of(type);
  switch (op) {
    case kMathAdd: return s.add;
    case kMathSubtract: return s.subtract;
    case kMathMultiply: return s.multiply;
    case kMathDivide: return s.divide;
    case kMathRemainder: return s.remainder;
    case kMathOr: return s.or_t;
    case kMathAnd: return s.and_t;
    case kMathXor: return s.xor_t;
    default: fatal_no_switch();
  }
}

ActionId math_action_id(int op) {
  static constexpr ActionId kIds[] = {kActionAdd,       kActionSubtract, kActionMultiply, kActionDivide,
                                      kActionRemainder, kActionOrT,      kActionAndT,     kActionXorT};
  if (op < 0 || op > kMathXor) fatal_no_switch();
  return kIds[op];
}

namespace {

// ---------------------------------------------------------------- hand-over to other types

void swap_cells(Cell* a, Cell* b) {
  Cell t = *a;
  *a = *b;
  *b = t;
}

}  // namespace

[[noreturn]] void raise_invalid_type(const Cell* operand) {
  Cell datatype = datatype_cell(operand->type());
  raise_error(kErrScriptInvalidType, &datatype);
}

[[noreturn]] void raise_not_related(ActionId action, TypeId type) {
  Cell word = name_word_cell(g_actions_table[action].word);
  Cell datatype = datatype_cell(type);
  raise_error(kErrScriptNotRelated, &word, &datatype);
}

Cell* run_hand_over(BinaryFn handler, Cell* left, Cell* right, const Cell* offender) {
  if (!handler) raise_invalid_type(offender);
  BinaryArgs args;
  args.value2 = right;
  copy_cell(left, handler(left, args));
  return left;
}

Cell* math_hand_over_swapped(Cell* left, Cell* right, int op) {
  TypeId other = right->type();
  bool negatable = other == kTypePair || other == kTypePoint2D || other == kTypePoint3D;
  if (op == kMathDivide || op == kMathRemainder || (op == kMathSubtract && !negatable))
    raise_not_related(math_action_id(op), left->type());
  BinaryFn handler = math_action_handler(other, op == kMathSubtract ? kMathAdd : op);
  UnaryFn negate = actions_of(other).negate;
  if (!handler || (op == kMathSubtract && !negate)) raise_invalid_type(right);
  swap_cells(left, right);
  if (op == kMathSubtract) copy_cell(left, negate(left, NoneArgs{}));
  return run_hand_over(handler, left, right, left);
}

namespace {

// The arithmetic actions: L is the integer at [left], R the other operand.
Cell* integer_math_op(Cell* left, Cell* right, int op) {
  switch (right->type()) {
    case kTypeInteger:
    case kTypeChar: integer_do_math(integer_get(left), integer_get(right), op, left); return left;
    case kTypeFloat:
    case kTypePercent:
    case kTypeTime:
      // float!'s arithmetic takes an integer left operand.
      return run_hand_over(math_action_handler(kTypeFloat, op), left, right, right);
    case kTypeMoney: return run_hand_over(math_action_handler(kTypeMoney, op), left, right, right);
    case kTypePair:
    case kTypeTuple:
    case kTypePoint2D:
    case kTypePoint3D: return math_hand_over_swapped(left, right, op);
    // vector! takes the number as its left operand itself.
    case kTypeVector: return run_hand_over(math_action_handler(kTypeVector, op), left, right, right);
    case kTypeDate: {
      // Only addition commutes with a date: 3 + a date is that date plus 3 days.
      if (op != kMathAdd) raise_not_related(math_action_id(op), kTypeInteger);
      BinaryFn handler = math_action_handler(kTypeDate, kMathAdd);
      if (!handler) raise_invalid_type(right);
      swap_cells(left, right);
      return run_hand_over(handler, left, right, left);
    }
    default: raise_invalid_type(right);
  }
}

// ---------------------------------------------------------------- unary handlers

Cell* integer_absolute(Cell* value, const NoneArgs& args) {
  integer_set(value, integer_abs(integer_get(value)));
  return value;
}

Cell* integer_negate(Cell* value, const NoneArgs& args) {
  int32_t n = integer_get(value);
  if (n == INT32_MIN) raise_error(kErrMathOverflow);
  integer_set(value, -n);
  return value;
}

Cell* integer_complement(Cell* value, const NoneArgs& args) {
  integer_set(value, ~integer_get(value));
  return value;
}

bool integer_even_q(Cell* value, const NoneArgs& args) { return (integer_get(value) & 1) == 0; }
bool integer_odd_q(Cell* value, const NoneArgs& args) { return (integer_get(value) & 1) == 1; }

// Random keeps the header: a char! stays a char!.
Cell* integer_random(Cell* value, const RandomArgs& args) {
  if (args.seed) {
    random_seed(uint32_t(integer_get(value)));
    *value = kUnsetCell;
    return value;
  }
  int32_t n = integer_get(value);
  if (n != 0) integer_set(value, random_integer(args.secure, n));
  return value;
}

// ---------------------------------------------------------------- text

int32_t integer_form(Cell* value, const FormArgs& args) {
  return args.limit - string_append_c_string(args.buffer, integer_to_text(integer_get(value)));
}

int32_t integer_mold(Cell* value, const MoldArgs& args) {
  return args.limit - string_append_c_string(args.buffer, integer_to_text(integer_get(value)));
}

// ---------------------------------------------------------------- make and to

[[noreturn]] void raise_bad_to_arg(const Cell* spec) {
  Cell datatype = datatype_cell(kTypeInteger);
  raise_error(kErrScriptBadToArg, &datatype, spec);
}

[[noreturn]] void raise_type_limit() {
  Cell datatype = datatype_cell(kTypeInteger);
  raise_error(kErrScriptTypeLimit, &datatype);
}

// The first at most 4 bytes of a binary! from its position, big-endian.
int32_t integer_from_binary(const Cell* spec) {
  SeriesBuffer* b = series_buffer(spec->node());
  int32_t length = int32_t(b->length());
  int32_t head = spec->head() < 0 ? 0 : spec->head();
  uint32_t value = 0;
  const uint8_t* p = b->head_ptr();
  for (int32_t i = head; i < length && i < head + 4; i++) value = value << 8 | p[i];
  return int32_t(value);
}

// A decimal integer from the text of a string-like value, from its position to
// its tail: an optional sign, then digits with apostrophes ignored. False for
// any other character, for no digit at all, or for a value outside int32.
bool scan_decimal(const Cell* spec, int32_t* out) {
  SeriesBuffer* b = series_buffer(spec->node());
  uint32_t unit = b->unit();
  check_text_unit(unit);
  int32_t length = int32_t(b->length());
  int32_t i = spec->head() < 0 ? 0 : spec->head();
  const uint8_t* p = b->head_ptr();
  bool negative = false;
  if (i < length) {
    uint32_t c = unit_get(p + i * unit, unit);
    if (c == '+' || c == '-') {
      negative = c == '-';
      i++;
    }
  }
  int64_t magnitude = 0;
  bool digits = false;
  for (; i < length; i++) {
    uint32_t c = unit_get(p + i * unit, unit);
    if (c == '\'') continue;
    if (c < '0' || c > '9') return false;
    digits = true;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > 2147483648LL) return false;
  }
  if (!digits || magnitude > (negative ? 2147483648LL : 2147483647LL)) return false;
  *out = int32_t(negative ? -magnitude : magnitude);
  return true;
}

// An issue! name read as 1 to 8 hexadecimal digits.
int32_t integer_from_issue(const Cell* spec) {
  std::string_view name = symbol_name(word_symbol(spec));
  if (name.empty() || name.size() > 8) raise_error(kErrScriptInvalidData, spec);
  uint32_t value = 0;
  for (char ch : name) {
    uint8_t c = uint8_t(ch);
    uint32_t digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else
      raise_error(kErrScriptInvalidData, spec);
    value = value << 4 | digit;
  }
  return int32_t(value);
}

Cell* integer_to(Cell* result, const MakeArgs& args) {
  int32_t value;
  // Every text type reads as string!.
  switch (is_any_string(args.spec->type()) ? kTypeString : args.spec->type()) {
    case kTypeInteger: copy_cell(result, args.spec); return result;
    case kTypeChar: value = integer_get(args.spec); break;
    case kTypeFloat:
    case kTypePercent:
      if (integer_float_out_of_range_q(args.spec)) raise_type_limit();
      value = double_to_int32(float_get(args.spec));
      break;
    case kTypeTime: {
      // Rounded half up: 1.5 s gives 2, -1.5 s gives -1, -2 s stays -2 (adding
      // 0.5 and truncating toward zero would give -1; adding 0.5 at all would
      // round 0.49999999999999994 up). The range is that of the rounded
      // seconds, so every time that rounds to an int32 converts.
      double t = float_get(args.spec);
      double seconds = std::floor(t);
      if (t - seconds >= 0.5) seconds += 1;
      if (!(seconds >= -2147483648.0 && seconds <= 2147483647.0)) raise_type_limit();
      value = double_to_int32(seconds);
      break;
    }
    case kTypeDate: {
      // Seconds since the epoch, rounded half up like time!'s: 31-Dec-1969/23:59:59
      // gives -1, not 0.
      double seconds = std::floor(date_to_epoch(args.spec) + 0.5);
      if (!(seconds >= -2147483648.0 && seconds <= 2147483647.0)) raise_type_limit();
      value = double_to_int32(seconds);
      break;
    }
    case kTypeMoney: value = money_to_integer(args.spec); break;
    case kTypeBinary: value = integer_from_binary(args.spec); break;
    case kTypeIssue: value = integer_from_issue(args.spec); break;
    case kTypeString:
      if (!scan_decimal(args.spec, &value)) raise_bad_to_arg(args.spec);
      break;
    default: raise_bad_to_arg(args.spec);
  }
  *result = integer_cell(value);
  return result;
}

Cell* integer_make(Cell* result, const MakeArgs& args) {
  if (args.spec->is(kTypeLogic)) {
    *result = integer_cell(int32_t(logic_get(args.spec)));
    return result;
  }
  return integer_to(result, args);
}

// ---------------------------------------------------------------- compare

int integer_compare(Cell* value, const CompareArgs& args) {
  if ((args.op == kCmpStrictEqual || args.op == kCmpFindEqual) && !args.value2->is(kTypeInteger)) return 1;
  switch (args.value2->type()) {
    case kTypeInteger:
    case kTypeChar: {
      int32_t a = integer_get(value), b = integer_get(args.value2);
      return a < b ? -1 : a > b ? 1 : 0;
    }
    case kTypeMoney: {
      const ActionSlots& money = actions_of(kTypeMoney);
      if (!money.make || !money.compare) return kNotComparable;
      StackSave save;
      Cell* proto = stack_push_value(datatype_cell(kTypeMoney));
      MakeArgs make;
      make.spec = stack_push_value(*value);
      Cell* amount = stack_push_value(*money.make(proto, make));
      return money.compare(amount, args);
    }
    case kTypeFloat:
    case kTypePercent:
    case kTypeTime: {
      CompareFn compare = actions_of(kTypeFloat).compare;
      if (!compare) return kNotComparable;
      StackSave save;
      Cell* number = stack_push();
      *number = float_cell(double(integer_get(value)));
      return compare(number, args);
    }
    default: return kNotComparable;
  }
}

// ---------------------------------------------------------------- power and round

// The base becomes a float! and float!'s power decides.
Cell* power_as_float(Cell* base, const PowerArgs& args) {
  *base = float_cell(double(integer_get(base)));
  return float_power(base, args);
}

Cell* integer_power(Cell* base, const PowerArgs& args) {
  if (!args.exponent->is(kTypeInteger) && !args.exponent->is(kTypeFloat)) {
    Cell argument = running_function_arg_word(1);
    raise_expect_arg(nullptr, args.exponent->type(), &argument);
  }
  if (args.exponent->is(kTypeFloat) || integer_get(args.exponent) < 0) return power_as_float(base, args);
  int32_t b = integer_get(base);
  uint32_t e = uint32_t(integer_get(args.exponent));
  int32_t result = 1;
  while (e != 0) {
    if ((e & 1) && __builtin_mul_overflow(result, b, &result)) return power_as_float(base, args);
    e >>= 1;
    if (e != 0 && __builtin_mul_overflow(b, b, &b)) return power_as_float(base, args);
  }
  *base = integer_cell(result);
  return base;
}

Cell* integer_round(Cell* value, const RoundArgs& args) {
  if (args.to && args.to->is(kTypeMoney)) {
    Cell where = where_word_cell();
    Cell datatype = datatype_cell(kTypeMoney);
    raise_error(kErrScriptNotRelated, &where, &datatype);
  }
  int32_t n = integer_get(value);
  int64_t s = 1;
  if (args.to) {
    if (!args.to->is(kTypeInteger)) {
      RoundFn round = actions_of(kTypeFloat).round;
      if (!round) raise_invalid_type(args.to);
      *value = float_cell(double(n));
      copy_cell(value, round(value, args));
      return value;
    }
    s = integer_abs(integer_get(args.to));
  }
  if (s == 0) return value;
  int64_t a = n < 0 ? -int64_t(n) : n;
  int64_t r = a % s;
  if (r == 0) return value;
  int64_t d = s - r;
  int64_t up = a + d;
  bool positive = n > 0;
  int64_t toward = positive ? a - r : r - a;  // rounded toward zero
  int64_t away = positive ? up : -up;         // rounded away from zero
  int64_t result;
  if (args.down)
    result = toward;
  else if (args.floor)
    result = positive ? toward : -up;
  else if (args.ceiling)
    result = positive ? up : r - a;
  else if (r < d)
    result = toward;
  else if (r > d)
    result = away;
  else if (args.even)
    result = (a / s) % 2 == 0 ? toward : away;
  else if (args.half_down)
    result = toward;
  else if (args.half_ceiling)
    result = positive ? up : r - a;
  else
    result = away;
  // Only the magnitude rounded away from zero can leave the range.
  if (result > INT32_MAX || result < INT32_MIN) raise_error(kErrMathOverflow);
  integer_set(value, int32_t(result));
  return value;
}

}  // namespace

namespace {

// char! shares these through its parent.
constexpr TypeHooks kIntegerHooks{.hash = [](const Cell* v) { return hash_int32(uint32_t(integer_get(v))); }};

}  // namespace

void integer_datatype_init() {
  register_datatype({kTypeInteger,
                     kTypeNil,
                     "integer!",
                     kActionCount,
                     {
                         .make = integer_make,
                         .random = integer_random,
                         .to = integer_to,
                         .form = integer_form,
                         .mold = integer_mold,
                         .compare = integer_compare,
                         .absolute = integer_absolute,
                         .add = math_handler<integer_math_op, kMathAdd>,
                         .divide = math_handler<integer_math_op, kMathDivide>,
                         .multiply = math_handler<integer_math_op, kMathMultiply>,
                         .negate = integer_negate,
                         .power = integer_power,
                         .remainder = math_handler<integer_math_op, kMathRemainder>,
                         .round = integer_round,
                         .subtract = math_handler<integer_math_op, kMathSubtract>,
                         .even_q = integer_even_q,
                         .odd_q = integer_odd_q,
                         .and_t = math_handler<integer_math_op, kMathAnd>,
                         .complement = integer_complement,
                         .or_t = math_handler<integer_math_op, kMathOr>,
                         .xor_t = math_handler<integer_math_op, kMathXor>,
                     },
                     &kIntegerHooks});
}

}  // namespace kiv
