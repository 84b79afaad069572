// Loaders of the number literals: integers (with "'" groups), hexadecimal
// integers "0FFh", floats and percents (with "," as a decimal mark), the
// special floats "1.#INF" and "1.#NaN", tuples, pairs, points "(x, y)" and
// "(x, y, z)", times and money. They read only the token's bytes and
// allocate nothing.
#include <cmath>
#include <string>

#include "datatypes/float.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "evaluator/lexer_load_internal.h"
#include "runtime/float_text.h"

namespace kiv::lexload {

namespace {

// The longest float text read.
constexpr ptrdiff_t kFloatTextLimit = 312;

bool letter_q(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A "'" separator stands between two digits.
bool separator_ok_q(const uint8_t* start, const uint8_t* q, const uint8_t* end) {
  return q > start && digit_q(q[-1]) && q + 1 < end && digit_q(q[1]);
}

}  // namespace

int32_t scan_integer(const uint8_t* p, const uint8_t* end, bool* ok, bool* overflow) {
  *ok = false;
  if (overflow) *overflow = false;
  const uint8_t* q = p;
  bool negative = false;
  if (q < end && (*q == '+' || *q == '-')) negative = *q++ == '-';
  if (q >= end || !digit_q(*q)) return 0;
  const uint8_t* digits_start = q;
  int64_t value = 0;
  int digits = 0;
  for (; q < end; q++) {
    if (digit_q(*q)) {
      if (digits < 12) value = value * 10 + (*q - '0');
      digits++;
    } else if (*q != '\'' || !separator_ok_q(digits_start, q, end)) {
      return 0;
    }
  }
  if (negative) value = -value;
  if (digits > 10 || value > INT32_MAX || value < INT32_MIN) {
    if (overflow) *overflow = true;
    return 0;
  }
  *ok = true;
  return int32_t(value);
}

bool float_syntax_check(const uint8_t* p, const uint8_t* end) {
  const uint8_t* q = p;
  if (q < end && (*q == '+' || *q == '-')) q++;
  const uint8_t* body = q;
  int digits = 0;
  bool mark = false;
  for (; q < end; q++) {
    uint8_t c = *q;
    if (digit_q(c)) {
      digits++;
    } else if (c == '\'') {
      if (!separator_ok_q(body, q, end)) return false;
    } else if (c == '.' || c == ',') {
      if (mark) return false;
      mark = true;
    } else if (c == 'e' || c == 'E') {
      break;
    } else {
      return false;
    }
  }
  if (digits == 0) return false;
  if (q == end) return true;
  q++;
  if (q < end && (*q == '+' || *q == '-')) q++;
  if (q >= end) return false;
  for (; q < end; q++)
    if (!digit_q(*q)) return false;
  return true;
}

double scan_float(const uint8_t* p, const uint8_t* end, bool* ok, int exponent_adjust) {
  *ok = false;
  if (end - p > kFloatTextLimit || !float_syntax_check(p, end)) return 0;
  // The text as the converter reads it: "'" dropped, "," made ".", and a
  // digit on each side of a bare decimal mark ("1." and ".5").
  std::string text;
  text.reserve(size_t(end - p) + 2);
  for (const uint8_t* q = p; q < end; q++) {
    uint8_t c = *q;
    if (c == '\'') continue;
    if (c == '.' || c == ',') {
      if (text.empty() || !digit_q(uint8_t(text.back()))) text.push_back('0');
      text.push_back('.');
      if (q + 1 >= end || !digit_q(q[1])) text.push_back('0');
      continue;
    }
    text.push_back(char(c));
  }
  size_t remaining = 0;
  double d = decimal_to_float(text.data(), text.data() + text.size(), exponent_adjust, &remaining);
  if (remaining != 0 || std::isinf(d) || std::isnan(d)) return 0;
  *ok = true;
  return d;
}

bool scan_special_float(const uint8_t* p, const uint8_t* end, double* out) {
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (end - p != 6 || p[0] != '1' || p[1] != '.' || p[2] != '#') return false;
  auto upper = [](uint8_t c) { return c >= 'a' && c <= 'z' ? uint8_t(c - 32) : c; };
  uint8_t a = upper(p[3]), b = upper(p[4]), c = upper(p[5]);
  if (a == 'I' && b == 'N' && c == 'F') {
    *out = negative ? -HUGE_VAL : HUGE_VAL;
    return true;
  }
  if (a == 'N' && b == 'A' && c == 'N') {
    *out = std::nan("");
    return true;
  }
  return false;
}

// ---------------------------------------------------------------- integers and floats

bool load_float(LexToken& token, bool load, Cell* out) {
  bool ok;
  double d = scan_float(token.start, token.end, &ok);
  if (!ok) return fail(token, kTypeFloat);
  if (load) put(out, float_cell(d));
  return true;
}

// More than 10 digits, or a value outside 32 bits, reads as a float!.
bool load_integer(LexToken& token, bool load, Cell* out) {
  bool ok, overflow;
  int32_t n = scan_integer(token.start, token.end, &ok, &overflow);
  if (overflow) {
    token.type = kTypeFloat;
    return load_float(token, load, out);
  }
  if (!ok) return fail(token, kTypeInteger);
  if (load) put(out, make_cell(kTypeInteger, 0, uint32_t(n)));
  return true;
}

// 2 to 8 digits "0"-"9", "A"-"F" and an "h": the 32-bit pattern of the digits.
bool load_hex(LexToken& token, bool load, Cell* out) {
  const uint8_t* p = token.start;
  const uint8_t* end = token.end;
  if (p >= end || end[-1] != 'h') return fail(token, kTypeInteger);
  ptrdiff_t n = end - 1 - p;
  if (n < 2 && letter_q(*p)) return fail(token, kTypeWord);
  if (n < 2 || n > 8) return fail(token, kTypeInteger);
  uint32_t value = 0;
  for (const uint8_t* q = p; q < end - 1; q++) {
    uint8_t c = *q;
    if (!digit_q(c) && !(c >= 'A' && c <= 'F')) return fail(token, kTypeInteger);
    value = value << 4 | uint32_t(hex_value(c));
  }
  if (load) put(out, make_cell(kTypeInteger, 0, value));
  return true;
}

// A number and "%": the number divided by 100, read as one decimal (the
// exponent moved by two) so that it is rounded once, as mold/all wrote it.
bool load_percent(LexToken& token, bool load, Cell* out) {
  if (token.end - token.start < 2 || token.end[-1] != '%') return fail(token, kTypePercent);
  bool ok;
  double d = scan_float(token.start, token.end - 1, &ok, -2);
  if (!ok) return fail(token, kTypePercent);
  if (load) put(out, float_cell(d, kTypePercent));
  return true;
}

bool load_special_float(LexToken& token, bool load, Cell* out) {
  double d;
  if (!scan_special_float(token.start, token.end, &d)) return fail(token, kTypeFloat);
  if (load) put(out, float_cell(d));
  return true;
}

// ---------------------------------------------------------------- tuples, pairs, points

// 3 to 12 components 0-255, separated by single dots.
bool load_tuple(LexToken& token, bool load, Cell* out) {
  uint8_t bytes[kTupleMaxLength] = {};
  uint32_t count = 0;
  const uint8_t* q = token.start;
  const uint8_t* end = token.end;
  while (true) {
    if (count == kTupleMaxLength || q >= end || !digit_q(*q)) return fail(token, kTypeTuple);
    int value = 0;
    for (; q < end && digit_q(*q); q++) {
      value = value * 10 + (*q - '0');
      if (value > 255) return fail(token, kTypeTuple);
    }
    bytes[count++] = uint8_t(value);
    if (q == end) break;
    if (*q++ != '.') return fail(token, kTypeTuple);
  }
  if (count < kTupleMinLength) return fail(token, kTypeTuple);
  if (load) {
    uint32_t w[3] = {};
    for (uint32_t i = 0; i < kTupleMaxLength; i++) w[i / 4] |= uint32_t(bytes[i]) << (8 * (i % 4));
    put(out, tuple_cell(count, w[0], w[1], w[2]));
  }
  return true;
}

// Two integers joined by "x" or "X".
bool load_pair(LexToken& token, bool load, Cell* out) {
  const uint8_t* p = token.start;
  const uint8_t* end = token.end;
  const uint8_t* x = p;
  for (const uint8_t* q = p; q < end; q++)
    if (*q == '.') return fail(token, kTypePair);
  while (x < end && *x != 'x' && *x != 'X') x++;
  if (x == end) return fail(token, kTypePair);
  bool ok_x, ok_y;
  int32_t vx = scan_integer(p, x, &ok_x, nullptr);
  int32_t vy = scan_integer(x + 1, end, &ok_y, nullptr);
  if (!ok_x || !ok_y) return fail(token, kTypePair);
  if (load) put(out, pair_cell(vx, vy));
  return true;
}

// "(" then two or three components separated by "," and ")"; blanks and TABs
// may surround each component, a float or a special float.
bool load_point(LexToken& token, bool load, Cell* out) {
  const uint8_t* p = token.start;
  const uint8_t* end = token.end;
  int commas = 0;
  for (const uint8_t* q = p; q < end; q++) commas += *q == ',';
  TypeId type = commas >= 2 ? kTypePoint3D : kTypePoint2D;
  if (end - p < 2 || *p != '(' || end[-1] != ')' || commas < 1 || commas > 2) return fail(token, type);
  double values[3] = {};
  const uint8_t* q = p + 1;
  const uint8_t* stop = end - 1;
  for (int i = 0; i <= commas; i++) {
    const uint8_t* a = q;
    while (q < stop && *q != ',') q++;
    const uint8_t* b = q;
    q++;
    while (a < b && (*a == ' ' || *a == '\t')) a++;
    while (b > a && (b[-1] == ' ' || b[-1] == '\t')) b--;
    if (a == b) return fail(token, type);
    bool ok;
    values[i] = scan_float(a, b, &ok);
    if (!ok && !scan_special_float(a, b, &values[i])) return fail(token, type);
  }
  if (load) {
    Cell point = type == kTypePoint3D ? point3d_cell(float(values[0]), float(values[1]), float(values[2]))
                                      : point2d_cell(float(values[0]), float(values[1]));
    put(out, point);
  }
  return true;
}

// ---------------------------------------------------------------- times

namespace {

// Decimal digits at *[q] (at least one), read as a double; "'" separators
// between digits when [groups].
bool time_part(const uint8_t** q, const uint8_t* end, bool groups, double* out) {
  const uint8_t* start = *q;
  const uint8_t* p = start;
  double value = 0;
  for (; p < end; p++) {
    if (digit_q(*p)) {
      value = value * 10 + (*p - '0');
    } else if (!(groups && *p == '\'' && separator_ok_q(start, p, end))) {
      break;
    }
  }
  if (p == start) return false;
  *q = p;
  *out = value;
  return true;
}

// A fraction after "." or ",": its digits read as a fraction of 1.
bool time_fraction(const uint8_t** q, const uint8_t* end, double* out) {
  const uint8_t* p = *q;
  if (p >= end || (*p != '.' && *p != ',')) {
    *out = 0;
    return true;
  }
  const uint8_t* digits = ++p;
  while (p < end && digit_q(*p)) p++;
  if (p == digits || p - digits > kFloatTextLimit) return false;
  std::string text = "0.";
  text.append(reinterpret_cast<const char*>(digits), size_t(p - digits));
  size_t remaining;
  *out = decimal_to_float(text.data(), text.data() + text.size(), 0, &remaining);
  *q = p;
  return true;
}

}  // namespace

// [sign] hours ":" minutes [":" seconds [fraction]], or [sign] minutes ":"
// seconds fraction. Minutes and seconds are not range-checked.
bool load_time(LexToken& token, bool load, Cell* out) {
  const uint8_t* q = token.start;
  const uint8_t* end = token.end;
  if (token.flags & kLexExp) return fail(token, kTypeTime);
  bool negative = false;
  if (q < end && (*q == '+' || *q == '-')) negative = *q++ == '-';
  double hours, minutes, seconds = 0, fraction = 0;
  if (!time_part(&q, end, true, &hours) || q >= end || *q++ != ':') return fail(token, kTypeTime);
  if (!time_part(&q, end, false, &minutes)) return fail(token, kTypeTime);
  if (q < end && *q == ':') {
    q++;
    if (!time_part(&q, end, false, &seconds) || !time_fraction(&q, end, &fraction))
      return fail(token, kTypeTime);
  } else if (q < end) {
    // Two parts with a fraction: minutes and seconds.
    if (!time_fraction(&q, end, &fraction)) return fail(token, kTypeTime);
    seconds = minutes;
    minutes = hours;
    hours = 0;
  }
  if (q != end) return fail(token, kTypeTime);
  double total = hours * 3600 + minutes * 60 + seconds + fraction;
  if (!std::isfinite(total)) return fail(token, kTypeTime);
  if (load) put(out, time_cell(negative ? -total : total));
  return true;
}

// ---------------------------------------------------------------- money

// [sign] [code] "$" digits with "'" groups [mark fraction]: at most 18
// integer digits, at most 5 fraction digits; the code a known currency.
bool load_money(LexToken& token, bool load, Cell* out) {
  const uint8_t* q = token.start;
  const uint8_t* end = token.end;
  bool negative = false;
  if (q < end && (*q == '+' || *q == '-')) negative = *q++ == '-';
  uint32_t currency = 0;
  const uint8_t* code = q;
  while (q < end && letter_q(*q)) q++;
  if (q != code) {
    if (q - code != 3) return fail(token, kTypeMoney);
    int32_t index =
        money_currency_index_of_name(std::string_view(reinterpret_cast<const char*>(code), size_t(q - code)));
    if (index <= 0) return fail(token, kTypeMoney);
    currency = uint32_t(index);
  }
  if (q >= end || *q++ != '$') return fail(token, kTypeMoney);
  std::string digits;
  const uint8_t* int_start = q;
  int int_digits = 0;
  for (; q < end && (digit_q(*q) || *q == '\''); q++) {
    if (*q == '\'') {
      if (!separator_ok_q(int_start, q, end)) return fail(token, kTypeMoney);
      continue;
    }
    digits.push_back(char(*q));
    int_digits++;
  }
  if (int_digits == 0 || int_digits > 18) return fail(token, kTypeMoney);
  if (q < end && (*q == '.' || *q == ',')) {
    q++;
    digits.push_back('.');
    const uint8_t* fraction = q;
    while (q < end && digit_q(*q)) digits.push_back(char(*q++));
    if (q - fraction > kMoneyFractionDigits) return fail(token, kTypeMoney);
  }
  if (q != end) return fail(token, kTypeMoney);
  Cell money;
  if (!money_from_text(&money, negative, currency, digits)) return fail(token, kTypeMoney);
  if (load) put(out, money);
  return true;
}

}  // namespace kiv::lexload
