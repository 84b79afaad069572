// char!: make and to, form, mold with the escapes of text literals (string!'s
// string_mold_char), compare, and arithmetic through integer!'s do-math.
#include "datatypes/char.h"

#include <cstring>

#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/numbers.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv {

Cell* char_make_at(const Cell* block, uint32_t code_point) {
  Cell* c = block_append_cell(block);
  *c = char_cell(code_point);
  return c;
}

Cell* push_char(uint32_t code_point) { return stack_push_value(char_cell(code_point)); }

namespace {

inline bool code_point_q(int32_t n) { return n >= 0 && n <= int32_t(kMaxCodePoint); }

[[noreturn]] void raise_bad_to_arg(const Cell* spec) {
  Cell datatype = datatype_cell(kTypeChar);
  raise_error(kErrScriptBadToArg, &datatype, spec);
}

// The first UTF-8 character of a binary! from its position.
int32_t char_from_binary(const Cell* spec) {
  SeriesBuffer* b = series_buffer(spec->node());
  int32_t head = spec->head() < 0 ? 0 : spec->head();
  int32_t available = int32_t(b->length()) - head;
  if (available <= 0) raise_bad_to_arg(spec);
  // A local copy: the decoder's error allocates.
  uint8_t bytes[4];
  uint32_t n = available < 4 ? uint32_t(available) : 4;
  std::memcpy(bytes, b->head_ptr() + head, n);
  uint32_t count = n;
  int32_t cp = utf8_decode_char(bytes, &count);
  if (cp < 0) raise_invalid_utf8(bytes, n);
  return cp;
}

// make and to: the result is written into [result].
Cell* char_make(Cell* result, const MakeArgs& args) {
  int32_t cp;
  // Every text type reads as string!.
  switch (is_any_string(args.spec->type()) ? kTypeString : args.spec->type()) {
    case kTypeChar:
    case kTypeInteger:
      cp = integer_get(args.spec);
      if (!code_point_q(cp)) raise_error(kErrScriptOutOfRange, args.spec);
      break;
    case kTypeFloat:
    case kTypePercent:
      // NaN and values outside int32 come back as INT32_MIN: out of range too.
      cp = double_to_int32(float_get(args.spec));
      if (!code_point_q(cp)) raise_error(kErrScriptOutOfRange, args.spec);
      break;
    case kTypeBinary: cp = char_from_binary(args.spec); break;
    case kTypeString: {
      SeriesBuffer* b = series_buffer(args.spec->node());
      int32_t head = args.spec->head() < 0 ? 0 : args.spec->head();
      if (head >= int32_t(b->length())) raise_bad_to_arg(args.spec);
      uint32_t unit = b->unit();
      check_text_unit(unit);
      cp = int32_t(unit_get(b->head_ptr() + uint32_t(head) * unit, unit));
      break;
    }
    default: raise_bad_to_arg(args.spec);
  }
  *result = char_cell(uint32_t(cp));
  return result;
}

int32_t char_form(Cell* value, const FormArgs& args) {
  append_char(args.buffer->node(), char_get(value));
  return args.limit - 1;
}

int32_t char_mold(Cell* value, const MoldArgs& args) {
  string_append_c_string(args.buffer, "#\"");
  string_mold_char(args.buffer, char_get(value), kMoldCharEscape, args.all);
  string_append_c_string(args.buffer, "\"");
  return args.limit - 4;
}

// Letter case matters: no folding.
int char_compare(Cell* value, const CompareArgs& args) {
  if ((args.op == kCmpStrictEqual || args.op == kCmpFindEqual) && !args.value2->is(kTypeChar)) return 1;
  if (!args.value2->is(kTypeChar) && !args.value2->is(kTypeInteger)) return kNotComparable;
  int32_t a = integer_get(value), b = integer_get(args.value2);
  return a < b ? -1 : a > b ? 1 : 0;
}

// Division truncates; every other op that leaves the integers, and every result
// that is not a code point, is an overflow.
Cell* char_do_math(Cell* left, Cell* right, int op) {
  int32_t operand;
  switch (right->type()) {
    case kTypeChar:
    case kTypeInteger: operand = integer_get(right); break;
    case kTypeFloat:
      if (integer_float_out_of_range_q(right)) raise_error(kErrMathOverflow);
      operand = double_to_int32(float_get(right));
      break;
    case kTypeVector: return run_hand_over(math_action_handler(kTypeVector, op), left, right, right);
    default: {
      Cell datatype = datatype_cell(right->type());
      raise_error(kErrScriptInvalidType, &datatype);
    }
  }
  Cell scratch = integer_cell(0);
  int32_t n = integer_do_math(integer_get(left), operand, op, op == kMathDivide ? nullptr : &scratch);
  if (!scratch.is(kTypeInteger) || !code_point_q(n)) raise_error(kErrMathOverflow);
  char_set(left, uint32_t(n));
  return left;
}

}  // namespace

void char_datatype_init() {
  register_datatype({kTypeChar,
                     kTypeInteger,
                     "char!",
                     kActionCount,
                     {
                         .make = char_make,
                         .random = kInherit,
                         .to = char_make,
                         .form = char_form,
                         .mold = char_mold,
                         .compare = char_compare,
                         .absolute = kInherit,
                         .add = math_handler<char_do_math, kMathAdd>,
                         .divide = math_handler<char_do_math, kMathDivide>,
                         .multiply = math_handler<char_do_math, kMathMultiply>,
                         .remainder = math_handler<char_do_math, kMathRemainder>,
                         .subtract = math_handler<char_do_math, kMathSubtract>,
                         .even_q = kInherit,
                         .odd_q = kInherit,
                         .and_t = math_handler<char_do_math, kMathAnd>,
                         .or_t = math_handler<char_do_math, kMathOr>,
                         .xor_t = math_handler<char_do_math, kMathXor>,
                     }});
}

}  // namespace kiv
