// tuple!: making and converting, text, compare, byte access, the saturating
// arithmetic and the handlers of the tuple! row.
//
// A tuple never refers to a series, so nothing here needs collector care
// beyond the usual: the bytes are read into locals before anything that may
// allocate (text appends, errors). Handlers change their first argument in
// place. Bytes past the count stay 0: every writer that shortens a tuple
// clears them, and one that lengthens it clears the new bytes first.
#include "datatypes/tuple.h"

#include <algorithm>
#include <cstring>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/text_load.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/murmur3.h"
#include "runtime/numbers.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

// Header bits 19-22: the count; bits 29-31: cleared when the count changes in place.
constexpr uint32_t kCountShift = 19;
constexpr uint32_t kCountMask = 0xFu << kCountShift;
constexpr uint32_t kClearedOnResize = 0x7u << 29;

uint8_t* tuple_bytes_mut(Cell* tuple) { return reinterpret_cast<uint8_t*>(&tuple->data1); }

// A tuple! of [count] bytes (at most 12) from [bytes].
Cell tuple_of_bytes(const uint8_t* bytes, uint32_t count) {
  Cell t = tuple_cell(std::max(count, kTupleMinLength), 0);
  std::memcpy(tuple_bytes_mut(&t), bytes, std::min(count, kTupleMaxLength));
  return t;
}

// Sets the count of [tuple] in place; bytes past it become 0.
void tuple_set_count(Cell* tuple, uint32_t count) {
  uint8_t* b = tuple_bytes_mut(tuple);
  std::fill(b + count, b + kTupleMaxLength, uint8_t(0));
  if ((tuple->header & kCountMask) != count << kCountShift)
    tuple->header = (tuple->header & ~kCountMask & ~kClearedOnResize) | count << kCountShift;
}

inline uint8_t clamp_byte(int32_t n) { return uint8_t(std::clamp(n, 0, 255)); }

[[noreturn]] void raise_bad_to_arg(const Cell* spec) {
  Cell datatype = datatype_cell(kTypeTuple);
  raise_error(kErrScriptBadToArg, &datatype, spec);
}

// ---------------------------------------------------------------- arithmetic

// One byte [x] under [op] with the integer [y], saturated to 0..255. Division
// truncates; a result past the 32-bit range counts as 255 when positive.
uint8_t byte_integer_math(int32_t x, int32_t y, int op) {
  if (op == kMathDivide) return clamp_byte(integer_do_math(x, y, op, nullptr));
  Cell wide = integer_cell(0);
  int32_t r = integer_do_math(x, y, op, &wide);
  if (wide.is(kTypeFloat)) return float_get(&wide) > 0 ? 255 : 0;
  return clamp_byte(r);
}

// One byte [x] under [op] with the double [f], truncated toward zero and
// saturated to 0..255; NaN gives 0.
uint8_t byte_float_math(uint8_t x, double f, int op) {
  double r = float_math_op(double(x), f, op);
  if (!(r > 0)) return 0;
  if (r >= 255) return 255;
  return uint8_t(double_to_int32(r));
}

// T [op] B in place for an integer! or tuple! B (a copy).
void tuple_integer_math(Cell* t, const Cell& b, int op) {
  uint32_t count = tuple_length(t);
  uint32_t b_count = b.is(kTypeTuple) ? tuple_length(&b) : 0;
  if (b_count > count) {
    tuple_set_count(t, b_count);
    count = b_count;
  }
  uint8_t* bytes = tuple_bytes_mut(t);
  for (uint32_t i = 0; i < count; i++) {
    int32_t y = b.is(kTypeInteger) ? integer_get(&b) : i < b_count ? tuple_bytes(&b)[i] : 0;
    bytes[i] = byte_integer_math(bytes[i], y, op);
  }
}

void tuple_float_math(Cell* t, double f, int op) {
  uint8_t* bytes = tuple_bytes_mut(t);
  for (uint32_t i = 0, n = tuple_length(t); i < n; i++) bytes[i] = byte_float_math(bytes[i], f, op);
}

}  // namespace

Cell* tuple_do_math(Cell* left, Cell* right, int op) {
  if (op < kMathAdd || op > kMathXor) fatal_no_switch();
  Cell* t = left;
  Cell b = *right;
  if (!left->is(kTypeTuple)) {
    if (!right->is(kTypeTuple)) raise_invalid_type(left);
    // A number first: only the operations that commute have a swapped form.
    if (op == kMathSubtract || op == kMathDivide || op == kMathRemainder)
      raise_not_related(math_action_id(op), left->type());
    t = right;
    b = *left;
  }
  switch (b.type()) {
    case kTypeInteger:
    case kTypeTuple: tuple_integer_math(t, b, op); break;
    case kTypeFloat:
    case kTypePercent: tuple_float_math(t, float_get(&b), op); break;
    default: raise_invalid_type(&b);
  }
  copy_cell(left, t);
  return left;
}

// ---------------------------------------------------------------- making

Cell* tuple_push(uint32_t count, uint32_t w1, uint32_t w2, uint32_t w3) {
  return stack_push_value(tuple_cell(count, w1, w2, w3));
}

Cell* tuple_from_bytes(std::span<const int32_t> values) {
  uint8_t bytes[kTupleMaxLength] = {};
  uint32_t count = uint32_t(std::min<size_t>(values.size(), kTupleMaxLength));
  for (uint32_t i = 0; i < count; i++) bytes[i] = uint8_t(values[i]);
  return stack_push_value(tuple_of_bytes(bytes, count));
}

void tuple_set_rgba(Cell* cell, uint8_t r, uint8_t g, uint8_t b, int32_t a) {
  uint8_t bytes[4] = {r, g, b, uint8_t(a)};
  *cell = tuple_of_bytes(bytes, a == -1 ? 3 : 4);
}

void tuple_from_binary(const Cell* binary, Cell* result) {
  int32_t total = series_total_length(binary);
  int32_t head = series_clamp_head(binary, total);
  uint32_t count = uint32_t(std::min<int32_t>(total - head, kTupleMaxLength));
  *result = tuple_of_bytes(series_unit_at(series_buffer_of(binary), head), count);
}

void tuple_from_issue(const Cell* issue, Cell* result) {
  std::string_view name = symbol_name(word_symbol(issue));
  uint8_t digits[8];
  if (name.size() != 3 && name.size() != 6 && name.size() != 8) raise_error(kErrScriptInvalidData, issue);
  for (size_t i = 0; i < name.size(); i++) {
    char c = name[i];
    if (c >= '0' && c <= '9')
      digits[i] = uint8_t(c - '0');
    else if (c >= 'A' && c <= 'F')
      digits[i] = uint8_t(c - 'A' + 10);
    else if (c >= 'a' && c <= 'f')
      digits[i] = uint8_t(c - 'a' + 10);
    else
      raise_error(kErrScriptInvalidData, issue);
  }
  uint8_t bytes[4];
  uint32_t count;
  if (name.size() == 3) {
    // #F80: each digit doubled, F -> FF.
    for (int i = 0; i < 3; i++) bytes[i] = uint8_t(digits[i] * 17);
    count = 3;
  } else {
    count = uint32_t(name.size() / 2);
    for (uint32_t i = 0; i < count; i++) bytes[i] = uint8_t(digits[2 * i] << 4 | digits[2 * i + 1]);
  }
  *result = tuple_of_bytes(bytes, count);
}

namespace {

// At most 12 integer!, char! or float! values from the position of a block,
// each 0..255 (a float truncated toward zero).
Cell tuple_from_block(const Cell* spec) {
  int32_t total = block_total_length(spec);
  int32_t head = series_clamp_head(spec, total);
  if (total - head > int32_t(kTupleMaxLength)) raise_bad_to_arg(spec);
  uint8_t bytes[kTupleMaxLength] = {};
  uint32_t count = uint32_t(total - head);
  for (uint32_t i = 0; i < count; i++) {
    const Cell* v = block_ks_abs_at(spec, head + int32_t(i));
    int64_t n;
    switch (v->type()) {
      case kTypeInteger: n = integer_get(v); break;
      case kTypeChar: n = char_get(v); break;
      case kTypeFloat: {
        double d = float_get(v);
        if (!(d > -1.0 && d < 256.0)) raise_bad_to_arg(spec);
        n = double_to_int32(d);
        break;
      }
      default: raise_bad_to_arg(spec);
    }
    if (n < 0 || n > 255) raise_bad_to_arg(spec);
    bytes[i] = uint8_t(n);
  }
  return tuple_of_bytes(bytes, count);
}

// make and to: the result is written into [result].
Cell* tuple_to(Cell* result, const MakeArgs& args) {
  const Cell* spec = args.spec;
  Cell t;
  if (is_any_string(spec->type())) {
    // The text read as one value, which must be a tuple!.
    StackSave save;
    Cell* text = stack_push_cell(spec);
    Cell* value = stack_push();
    transcode_one_value_into(text, value);
    if (!value->is(kTypeTuple)) raise_bad_to_arg(text);
    *result = *value;
    result->clear_new_line();
    return result;
  }
  switch (spec->type()) {
    case kTypeTuple: t = *spec; break;
    case kTypeBlock:
    case kTypeParen:
    case kTypeHash: t = tuple_from_block(spec); break;
    case kTypeBinary: tuple_from_binary(spec, &t); break;
    case kTypeIssue: tuple_from_issue(spec, &t); break;
    default: raise_bad_to_arg(spec);
  }
  *result = t;
  return result;
}

// ---------------------------------------------------------------- text

int32_t tuple_form(Cell* value, const FormArgs& args) {
  char text[kTupleMaxLength * 4];
  char* p = text;
  const uint8_t* bytes = tuple_bytes(value);
  for (uint32_t i = 0, n = tuple_length(value); i < n; i++) {
    if (i) *p++ = '.';
    const char* digits = integer_to_text(bytes[i]);
    size_t len = std::strlen(digits);
    std::memcpy(p, digits, len);
    p += len;
  }
  return args.limit - string_append_c_string(args.buffer, std::string_view(text, size_t(p - text)));
}

int32_t tuple_mold(Cell* value, const MoldArgs& args) { return tuple_form(value, form_args_of(args)); }

}  // namespace

// ---------------------------------------------------------------- compare and bytes

int tuple_compare(Cell* value, const CompareArgs& args) {
  const Cell* other = args.value2;
  if (!other->is(kTypeTuple)) return kNotComparable;
  uint32_t na = tuple_length(value), nb = tuple_length(other);
  const uint8_t *a = tuple_bytes(value), *b = tuple_bytes(other);
  for (uint32_t i = 0, n = std::max(na, nb); i < n; i++) {
    uint8_t x = i < na ? a[i] : 0, y = i < nb ? b[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

bool tuple_zero_q(const Cell* tuple) {
  const uint8_t* b = tuple_bytes(tuple);
  return std::all_of(b, b + tuple_length(tuple), [](uint8_t x) { return x == 0; });
}

namespace {

// The 0-based byte an [index] names, raising script out-of-range outside 1..count.
uint32_t byte_index(const Cell* tuple, const Cell* index) {
  int32_t i = action_index_arg(index);
  if (i < 1 || uint32_t(i) > tuple_length(tuple)) raise_error(kErrScriptOutOfRange, index);
  return uint32_t(i - 1);
}

}  // namespace

int32_t tuple_pick_byte(const Cell* tuple, const Cell* index) {
  return tuple_bytes(tuple)[byte_index(tuple, index)];
}

void tuple_poke_byte(Cell* tuple, const Cell* index, const Cell* value) {
  uint32_t i = byte_index(tuple, index);
  if (value->is(kTypeNone)) {
    // The count never drops below 3: within the first three bytes they are cleared.
    tuple_set_count(tuple, std::max(i, kTupleMinLength));
    std::fill(tuple_bytes_mut(tuple) + i, tuple_bytes_mut(tuple) + kTupleMaxLength, uint8_t(0));
    return;
  }
  tuple_bytes_mut(tuple)[i] = clamp_byte(integer_get(value));
}

namespace {

// ---------------------------------------------------------------- handlers

Cell* tuple_random(Cell* value, const RandomArgs& args) {
  if (args.seed) {
    random_seed(value->data1 ^ value->data2 ^ value->data3);
    *value = kUnsetCell;
    return value;
  }
  uint8_t* bytes = tuple_bytes_mut(value);
  for (uint32_t i = 0, n = tuple_length(value); i < n; i++)
    bytes[i] = uint8_t(random_integer(args.secure, bytes[i] + 1) - 1);
  return value;
}

Cell* tuple_eval_path(Cell* parent, const EvalPathArgs& args) {
  if (!args.element->is(kTypeInteger)) raise_invalid_type(args.element);
  if (!args.value) return integer_push(tuple_pick_byte(parent, args.element));
  if (!args.value->is(kTypeInteger) && !args.value->is(kTypeNone)) raise_invalid_type(args.value);
  tuple_poke_byte(parent, args.element, args.value);
  return args.value;
}

Cell* tuple_complement(Cell* value, const NoneArgs&) {
  uint8_t* bytes = tuple_bytes_mut(value);
  for (uint32_t i = 0, n = tuple_length(value); i < n; i++) bytes[i] = uint8_t(~bytes[i]);
  return value;
}

int32_t tuple_length_q(Cell* value, const NoneArgs&) { return int32_t(tuple_length(value)); }

Cell* tuple_pick(Cell* value, const PickArgs& args) {
  *value = integer_cell(tuple_pick_byte(value, args.index));
  return value;
}

// In place: the first min(/part, count) bytes, one by one or in groups of /skip.
Cell* tuple_reverse(Cell* value, const ReverseArgs& args) {
  int64_t n = tuple_length(value);
  if (args.part) {
    const Cell* part = args.part.arg;
    if (!part->is(kTypeInteger)) raise_refine_arg("part", part);
    if (integer_get(part) < 0) raise_error(kErrScriptOutOfRange, part);
    n = std::min<int64_t>(n, integer_get(part));
  }
  uint8_t* bytes = tuple_bytes_mut(value);
  if (!args.skip) {
    std::reverse(bytes, bytes + n);
    return value;
  }
  int64_t skip = args.skip.size;
  if (skip == n) return value;
  if (skip < 1) raise_error(kErrScriptOutOfRange, args.skip.arg);
  if (n < skip || n % skip != 0) raise_refine_arg("skip", args.skip.arg);
  for (int64_t lo = 0, hi = n - skip; lo < hi; lo += skip, hi -= skip)
    std::swap_ranges(bytes + lo, bytes + lo + skip, bytes + hi);
  return value;
}

// The bytes in use; the rest of the payload does not count.
// Trailing zero bytes are left out: 1.2.3 and 1.2.3.0 are equal, so they
// must hash alike.
uint32_t tuple_hash(const Cell* value) {
  const uint8_t* bytes = tuple_bytes(value);
  size_t n = tuple_length(value);
  while (n > 0 && bytes[n - 1] == 0) n--;
  return hash_murmur3(bytes, n);
}

constexpr TypeHooks kTupleHooks{.hash = tuple_hash};

}  // namespace

void tuple_datatype_init() {
  register_datatype({kTypeTuple,
                     kTypeNil,
                     "tuple!",
                     kActionCount,
                     {
                         .make = tuple_to,
                         .random = tuple_random,
                         .to = tuple_to,
                         .form = tuple_form,
                         .mold = tuple_mold,
                         .eval_path = tuple_eval_path,
                         .compare = tuple_compare,
                         .add = math_handler<tuple_do_math, kMathAdd>,
                         .divide = math_handler<tuple_do_math, kMathDivide>,
                         .multiply = math_handler<tuple_do_math, kMathMultiply>,
                         .remainder = math_handler<tuple_do_math, kMathRemainder>,
                         .subtract = math_handler<tuple_do_math, kMathSubtract>,
                         .and_t = math_handler<tuple_do_math, kMathAnd>,
                         .complement = tuple_complement,
                         .or_t = math_handler<tuple_do_math, kMathOr>,
                         .xor_t = math_handler<tuple_do_math, kMathXor>,
                         .length_q = tuple_length_q,
                         .pick = tuple_pick,
                         .reverse = tuple_reverse,
                     },
                     &kTupleHooks});
}

}  // namespace kiv
