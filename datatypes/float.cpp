// float!: the 64-bit double, and the handlers percent! and time! inherit.
#include "datatypes/float.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/murmur3.h"
#include "runtime/numbers.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

bool g_float_pretty = true;
bool g_float_full = false;

Cell* float_push(double d) { return stack_push_value(float_cell(d)); }

Cell* float_make_at(const Cell* block, double d) {
  Cell* c = block_append_cell(block);
  *c = float_cell(d);
  return c;
}

// ---------------------------------------------------------------- predicates

bool float_nan_q(double d) { return std::isnan(d); }
bool float32_nan_q(float f) { return std::isnan(f); }
bool float_special_q(double d) { return !std::isfinite(d); }

namespace {

constexpr double kEpsilon = 2.220446049250313e-16;

// The bits of a double mapped to integers in the order of the values.
int64_t ordered_bits(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return (bits >> 63) ? int64_t(~bits + 1) : int64_t(bits | (uint64_t(1) << 63));
}

}  // namespace

bool float_almost_equal(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return false;
  if (a == b) return true;
  if (std::fabs(a - b) < kEpsilon) return true;
  // Unsigned difference: the ordered values may lie far apart.
  uint64_t x = uint64_t(ordered_bits(a)), y = uint64_t(ordered_bits(b));
  return (x > y ? x - y : y - x) <= 10;
}

bool float32_almost_equal(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return false;
  if (a == b) return true;
  constexpr float kMax = std::numeric_limits<float>::max();
  uint32_t ua, ub;
  std::memcpy(&ua, &a, sizeof ua);
  std::memcpy(&ub, &b, sizeof ub);
  if (std::fabs(a) < kMax && std::fabs(b) < kMax) {
    if (a == 0 && b == 0) return true;
    int64_t ia = (ua >> 31) ? -int64_t(ua & 0x7FFFFFFFu) : int64_t(ua);
    int64_t ib = (ub >> 31) ? -int64_t(ub & 0x7FFFFFFFu) : int64_t(ub);
    return (ia > ib ? ia - ib : ib - ia) <= 10;
  }
  if ((ua >> 31) != (ub >> 31)) return false;
  uint32_t ma = ua & 0x7FFFFFFFu, mb = ub & 0x7FFFFFFFu;
  return (ma > mb ? ma - mb : mb - ma) < 0x100000u;
}

int32_t float_to_int(const Cell* value) {
  if (!value->is(kTypeFloat) && !value->is(kTypePercent)) return integer_get(value);
  double d = float_get(value);
  if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0) raise_error(kErrScriptOutOfRange, value);
  return double_to_int32(d);
}

// ---------------------------------------------------------------- text

namespace {

bool percent_kind_q(FloatFormKind kind) { return kind == kFormPercent32 || kind == kFormPercent; }

// The printf precision of [kind], and the shorter one tried once for a text
// that ends in a rounding artefact.
int form_precision(FloatFormKind kind, bool retry) {
  if (retry) return kind == kFormFloat32 || kind == kFormSeconds || kind == kFormPoint ? 5 : 14;
  switch (kind) {
    case kFormFloat32:
    case kFormPercent32:
    case kFormPoint: return 7;
    case kFormPercent: return 13;
    default: return 16;
  }
}

void set_text(FloatText& t, const char* s, size_t n) {
  n = std::min(n, kFloatTextMax);
  std::memcpy(t.text, s, n);
  t.length = uint8_t(n);
}

// A long text that ends (before any exponent) in "01" or "99": the digits of
// a value that decimal cannot hold exactly.
bool artefact_q(const FloatText& t) {
  std::string_view s = t.view();
  size_t e = s.find('e');
  std::string_view mantissa = s.substr(0, e);
  if (e == std::string_view::npos) {
    size_t first = s[0] == '-' ? 1 : 0;
    if (!(s.size() > 16 && (s[first] != '0' || s.size() > 17))) return false;
  } else if (mantissa.size() <= 16) {
    return false;
  }
  std::string_view tail = mantissa.substr(mantissa.size() - 2);
  return tail == "01" || tail == "99";
}

// "1e+020" -> "1e20", "1e-007" -> "1e-7".
void clean_exponent(FloatText& t) {
  std::string_view s = t.view();
  size_t e = s.find('e');
  if (e == std::string_view::npos) return;
  std::string out(s.substr(0, e + 1));
  size_t i = e + 1;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') out += '-';
    i++;
  }
  while (i + 1 < s.size() && s[i] == '0') i++;
  out.append(s.substr(i));
  set_text(t, out.data(), out.size());
}

FloatText printf_text(double d, int precision) {
  char buffer[64];
  int n = std::snprintf(buffer, sizeof buffer, "%.*g", precision, d);
  FloatText t;
  set_text(t, buffer, size_t(n));
  return t;
}

}  // namespace

FloatText float_form(double d, FloatFormKind kind) {
  FloatText t;
  if (std::isnan(d)) {
    set_text(t, "1.#NaN", 6);
    return t;
  }
  if (std::isinf(d)) {
    set_text(t, d < 0 ? "-1.#INF" : "1.#INF", d < 0 ? 7 : 6);
    return t;
  }
  if (g_float_pretty && std::fabs(d) < kEpsilon) {
    const char* zero = percent_kind_q(kind) ? "0%" : kind == kFormPoint ? "0" : "0.0";
    set_text(t, zero, std::strlen(zero));
    return t;
  }
  if (kind == kFormSeconds) {
    t = float_to_text(d, 6, false);
  } else {
    t = printf_text(d, form_precision(kind, false));
  }
  if (g_float_pretty && artefact_q(t))
    t = kind == kFormSeconds ? printf_text(d, 5) : printf_text(d, form_precision(kind, true));
  clean_exponent(t);
  std::string s(t.view());
  if (percent_kind_q(kind)) {
    s += '%';
  } else if (s.find('.') == std::string::npos && kind != kFormSeconds && kind != kFormPoint) {
    size_t e = s.find('e');
    s.insert(e == std::string::npos ? s.size() : e, ".0");
  }
  set_text(t, s.data(), s.size());
  return t;
}

int32_t float_form_action(Cell* value, const FormArgs& args) {
  return args.limit - string_append_c_string(args.buffer, float_form(float_get(value), kFormFloat).view());
}

int32_t float_mold(Cell* value, const MoldArgs& args) {
  return args.limit - string_append_c_string(args.buffer, float_to_text(float_get(value), 0, true).view());
}

// ---------------------------------------------------------------- make and to

namespace {

[[noreturn]] void raise_bad_to(TypeId target, const Cell* spec) {
  Cell datatype = datatype_cell(target);
  raise_error(kErrScriptBadToArg, &datatype, spec);
}

// A number read from the whole of [text]: sign, digits with apostrophes
// between them, "." and digits, exponent. False when anything else is there.
bool scan_float(std::string_view text, int exponent_adjust, double* out) {
  std::string digits;
  digits.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++) {
    char c = text[i];
    bool between_digits = i > 0 && i + 1 < text.size() && std::isdigit(uint8_t(text[i - 1])) &&
                          std::isdigit(uint8_t(text[i + 1]));
    if (c == '\'' && between_digits) continue;
    digits += c == ',' ? '.' : c;  // a decimal comma reads as a point
  }
  bool has_digit = false;
  for (char c : digits) has_digit |= std::isdigit(uint8_t(c)) != 0;
  if (!has_digit) return false;
  size_t remaining = 0;
  *out = decimal_to_float(digits.data(), digits.data() + digits.size(), exponent_adjust, &remaining);
  return remaining == 0;
}

// percent!'s reading of a text: one number, integer ("50": 5000%), decimal
// ("0.5") or percent ("50%"), with blanks around it.
bool scan_percent(std::string_view text, double* out) {
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return false;
  size_t last = text.find_last_not_of(" \t\r\n");
  text = text.substr(first, last - first + 1);
  if (text.back() == '%') return scan_float(text.substr(0, text.size() - 1), -2, out);
  return scan_float(text, 0, out);
}

// The bytes from the position to the tail, at most the last 8, as the bits
// of a double (big-endian; fewer fill the low-order bytes).
double float_from_binary(const Cell* spec) {
  SeriesBuffer* b = series_buffer(spec->node());
  int32_t length = int32_t(b->length());
  int32_t head = std::clamp(spec->head(), 0, length);
  int32_t from = std::max(head, length - 8);
  uint64_t bits = 0;
  const uint8_t* p = b->head_ptr();
  for (int32_t i = from; i < length; i++) bits = bits << 8 | p[i];
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

bool is_float_like(TypeId t) { return t == kTypeFloat || t == kTypePercent || t == kTypeTime; }

double number_of(const Cell* c) { return c->is(kTypeInteger) ? double(integer_get(c)) : float_get(c); }

// [mantissa exponent]: mantissa x 10 ^ exponent, the exponent truncated to an integer.
bool float_from_block(const Cell* spec, double* out) {
  int32_t total = block_total_length(spec);
  int32_t head = series_clamp_head(spec, total);
  if (total - head != 2) return false;
  const Cell* m = block_ks_abs_at(spec, head);
  const Cell* e = block_ks_abs_at(spec, head + 1);
  if (!(m->is(kTypeInteger) || m->is(kTypeFloat)) || !(e->is(kTypeInteger) || e->is(kTypeFloat)))
    return false;
  double exponent = std::trunc(number_of(e));
  double scale = std::pow(10.0, std::fabs(exponent));
  *out = exponent < 0 ? number_of(m) / scale : number_of(m) * scale;
  return true;
}

}  // namespace

Cell* float_make(Cell* proto, const MakeArgs& args) {
  TypeId target = make_target_type(proto);
  const Cell* spec = args.spec;
  double d = 0;
  TypeId from = is_any_string(spec->type()) ? kTypeString : spec->type();
  switch (from) {
    case kTypeChar:
    case kTypeInteger: d = double(integer_get(spec)); break;
    case kTypeFloat:
    case kTypePercent:
    case kTypeTime: d = float_get(spec); break;
    case kTypeMoney: d = money_to_float(spec); break;
    case kTypeString: {
      std::string text = string_to_utf8(spec);
      bool ok = target == kTypePercent ? scan_percent(text, &d) : scan_float(text, 0, &d);
      if (!ok) raise_bad_to(target, spec);
      break;
    }
    case kTypeBinary: d = float_from_binary(spec); break;
    case kTypeBlock:
    case kTypeParen:
    case kTypeHash:
      if (!float_from_block(spec, &d)) raise_bad_to(target, spec);
      break;
    default: raise_bad_to(target, spec);
  }
  *proto = float_cell(d, target);
  return proto;
}

// ---------------------------------------------------------------- compare

int float_compare(Cell* value, const CompareArgs& args) {
  const Cell* other = args.value2;
  if ((args.op == kCmpStrictEqual || args.op == kCmpSame || args.op == kCmpFindEqual) &&
      value->type() != other->type())
    return 1;
  double a = float_get(value), b;
  switch (other->type()) {
    case kTypeInteger: b = double(integer_get(other)); break;
    case kTypeFloat:
    case kTypePercent:
    case kTypeTime: b = float_get(other); break;
    case kTypeMoney: {
      // money! decides, seen from its side: the answer is turned around.
      CompareFn compare = actions_of(kTypeMoney).compare;
      if (!compare) return kNotComparable;
      CompareOp mirrored = args.op;
      switch (args.op) {
        case kCmpLesser: mirrored = kCmpGreater; break;
        case kCmpLesserOrEqual: mirrored = kCmpGreaterOrEqual; break;
        case kCmpGreater: mirrored = kCmpLesser; break;
        case kCmpGreaterOrEqual: mirrored = kCmpLesserOrEqual; break;
        default: break;
      }
      CompareArgs flipped;
      flipped.value2 = value;
      flipped.op = mirrored;
      int answer = compare(const_cast<Cell*>(other), flipped);
      return answer == kNotComparable ? answer : -answer;
    }
    default: return kNotComparable;
  }
  switch (args.op) {
    case kCmpEqual:
    case kCmpNotEqual: return float_almost_equal(a, b) ? 0 : 1;
    case kCmpStrictEqual: return a == b ? 0 : 1;
    case kCmpSame: {
      uint64_t x, y;
      std::memcpy(&x, &a, sizeof x);
      std::memcpy(&y, &b, sizeof y);
      return x == y ? 0 : 1;
    }
    default:
      if (std::isnan(a) || std::isnan(b)) {
        if (args.op == kCmpLesser || args.op == kCmpLesserOrEqual) return 1;
        if (args.op == kCmpGreater || args.op == kCmpGreaterOrEqual) return -1;
        return 0;
      }
      return a < b ? -1 : a > b ? 1 : 0;
  }
}

// ---------------------------------------------------------------- arithmetic

double float_math_op(double a, double b, int op) {
  switch (op) {
    case kMathAdd: return a + b;
    case kMathSubtract: return a - b;
    case kMathMultiply: return a * b;
    case kMathDivide: return a / b;
    case kMathRemainder:
      if (std::isnan(b)) return b;
      if (std::isinf(b)) return std::isfinite(a) ? a : std::numeric_limits<double>::quiet_NaN();
      return std::fmod(a, b);
    default: {
      Cell where = where_word_cell();
      Cell datatype = datatype_cell(kTypeFloat);
      raise_error(kErrScriptCannotUse, &where, &datatype);
    }
  }
}

Cell* float_do_math(Cell* left, Cell* right, int op) {
  TypeId lt = left->type(), rt = right->type();
  switch (rt) {
    case kTypeTuple:
    case kTypeMoney:
    case kTypeVector: return run_hand_over(math_action_handler(rt, op), left, right, right);
    case kTypePair:
    case kTypePoint2D:
    case kTypePoint3D:
      if (lt != kTypeTime) {
        // No swapped form for the operations that do not commute.
        if (op == kMathSubtract || op == kMathDivide || op == kMathRemainder)
          raise_not_related(math_action_id(op), rt);
        return math_hand_over_swapped(left, right, op);
      }
      raise_invalid_type(right);
    case kTypeInteger:
    case kTypeFloat:
    case kTypeTime: break;
    case kTypeChar:
    case kTypePercent:
      if (rt == kTypeChar && (lt == kTypeTime || lt == kTypePercent)) raise_invalid_type(right);
      break;
    default: raise_invalid_type(right);
  }
  double a = lt == kTypeInteger ? double(integer_get(left)) : float_get(left);
  double b = rt == kTypeInteger || rt == kTypeChar ? double(integer_get(right)) : float_get(right);
  TypeId result = lt == kTypeInteger ? kTypeFloat : lt;
  if ((lt == kTypeTime) != (rt == kTypeTime))
    result = kTypeTime;
  else if (lt == kTypePercent && rt != kTypeTime)
    result = kTypePercent;
  *left = float_cell(float_math_op(a, b, op), result);
  return left;
}

Cell* float_absolute(Cell* value, const NoneArgs&) {
  float_set(value, float_abs(float_get(value)));
  return value;
}

Cell* float_negate(Cell* value, const NoneArgs&) {
  float_set(value, 0.0 - float_get(value));
  return value;
}

Cell* float_power(Cell* value, const PowerArgs& args) {
  const Cell* e = args.exponent;
  if (!e->is(kTypeInteger) && !e->is(kTypeFloat)) {
    Cell argument = running_function_arg_word(1);
    raise_expect_arg(nullptr, e->type(), &argument);
  }
  float_set(value, std::pow(float_get(value), number_of(e)));
  return value;
}

bool float_even_q(Cell* value, const NoneArgs&) { return (double_to_int32(float_get(value)) & 1) == 0; }
bool float_odd_q(Cell* value, const NoneArgs&) { return (double_to_int32(float_get(value)) & 1) != 0; }

// ---------------------------------------------------------------- random

double float_random_value(double max, bool secure) {
  if (!secure) return double(uint32_t(random_next()) & 0x7FFFFFFFu) / 2147483647.0 * max;
  double r1 = double(random_next_secure() & 0x7FFFFFFF), r2 = double(random_next_secure() & 0x7FFFFFFF);
  return (r2 + r1 / 2147483647.0) / (2147483648.0 / max);
}

Cell* float_random(Cell* value, const RandomArgs& args) {
  if (args.seed) {
    random_seed(value->data2 ^ value->data3);
    *value = kUnsetCell;
    return value;
  }
  float_set(value, float_random_value(float_get(value), args.secure));
  return value;
}

// ---------------------------------------------------------------- round

Cell* float_round(Cell* value, const RoundArgs& args) {
  if (args.to && args.to->is(kTypeMoney)) raise_not_related(kActionRound, kTypeMoney);
  if (args.to && !args.to->is(kTypeInteger) && !is_float_like(args.to->type())) {
    Cell argument = name_word_cell("scale");
    raise_expect_arg(nullptr, args.to->type(), &argument);
  }
  const bool percent = value->is(kTypePercent);
  double f = float_get(value);
  double sc = percent ? 0.01 : 1.0;
  if (args.to) {
    sc = std::fabs(args.to->is(kTypeInteger) ? double(integer_get(args.to)) : float_get(args.to));
    // A number scale counts in percent; a percent! scale is a fraction already.
    if (percent && !args.to->is(kTypePercent)) sc /= 100.0;
  }
  // A scale too fine to change the value, or none at all: the value as it is.
  if (sc == 0 || sc < std::fabs(f) * 0x1p-53) return value;
  {
    int e = 0;
    double dec;
    if (sc >= 1.0) {
      dec = f / sc;
    } else {
      // A subnormal scale: both sides are scaled up by 2^-e first, so that
      // 1.0 / sc stays finite, and the result scaled back.
      double m = std::frexp(sc, &e);
      if (e <= -1022) {
        sc = m;
        f = std::ldexp(f, -e);
      } else {
        e = 0;
      }
      dec = f * (1.0 / sc);
    }
    double d = std::fabs(dec);
    double h = std::floor(d) + 0.5;
    double c;
    if (args.down)
      c = std::copysign(std::floor(d), dec);
    else if (args.floor)
      c = std::floor(dec);
    else if (args.ceiling)
      c = std::ceil(dec);
    else if (h < d)
      c = std::copysign(std::ceil(d), dec);
    else if (h > d)
      c = std::copysign(std::floor(d), dec);
    else if (args.even)
      c = std::copysign(std::fmod(d, 2.0) >= 1.0 ? std::ceil(d) : std::floor(d), dec);
    else if (args.half_down)
      c = std::copysign(std::floor(d), dec);
    else if (args.half_ceiling)
      c = std::ceil(dec);
    else
      c = std::copysign(std::ceil(d), dec);
    double result;
    if (sc >= 1.0) {
      result = c * sc;
      if (std::fabs(result) == std::numeric_limits<double>::max()) raise_error(kErrMathOverflow);
    } else {
      result = std::ldexp(c / (1.0 / sc), e);
    }
    float_set(value, result);
  }
  if (args.to) {
    if (args.to->is(kTypeInteger))
      *value = integer_cell(double_to_int32(float_get(value)));
    else
      *value = float_cell(float_get(value), args.to->type());
  }
  return value;
}

// ---------------------------------------------------------------- registration

namespace {

// -0.0 hashes as +0.0: they compare equal.
uint32_t float_hash(const Cell* value) {
  uint32_t w[2] = {value->data2, value->data3};
  if (w[0] == 0 && (w[1] << 1) == 0) w[1] = 0;
  return hash_murmur3(w, sizeof w);
}

constexpr TypeHooks kFloatHooks{.hash = float_hash};

}  // namespace

// percent! and time! share the row through their parent.
void float_datatype_init() {
  register_datatype({kTypeFloat,
                     kTypeNil,
                     "float!",
                     kActionCount,
                     {
                         .make = float_make,
                         .random = float_random,
                         .to = float_make,
                         .form = float_form_action,
                         .mold = float_mold,
                         .compare = float_compare,
                         .absolute = float_absolute,
                         .add = math_handler<float_do_math, kMathAdd>,
                         .divide = math_handler<float_do_math, kMathDivide>,
                         .multiply = math_handler<float_do_math, kMathMultiply>,
                         .negate = float_negate,
                         .power = float_power,
                         .remainder = math_handler<float_do_math, kMathRemainder>,
                         .round = float_round,
                         .subtract = math_handler<float_do_math, kMathSubtract>,
                         .even_q = float_even_q,
                         .odd_q = float_odd_q,
                     },
                     &kFloatHooks});
}

}  // namespace kiv
