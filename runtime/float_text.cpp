// Double <-> decimal text. The digits come from the standard library's
// shortest and fixed-precision conversions (both correctly rounded); this
// unit owns the layout, the special texts and the reading rules.
#include "runtime/float_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace kiv {

namespace {

constexpr char kInfinity[] = "1.#INF";
// The most significant digits asked for that the digit buffer holds.
constexpr int kMaxDigits = 29;
constexpr char kNaN[] = "1.#NaN";

// Copies [text] into [d]'s buffer after the sign slot, as a special text.
void set_special(DecimalDigits& d, const char* text, bool negative, int point) {
  d.point = point;
  d.negative = negative;
  d.buffer[0] = '-';
  size_t n = std::strlen(text);
  std::memcpy(d.buffer + 1, text, n);
  d.count = int(n);
}

inline bool digit_q(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string_view DecimalDigits::text() const {
  return negative ? std::string_view(buffer, size_t(count) + 1) : digits();
}

DecimalDigits float_to_decimal(double value, int digits, bool zero_fraction) {
  DecimalDigits d;
  bool negative = std::signbit(value);
  if (std::isnan(value)) {
    set_special(d, kNaN, false, kPointSpecial);
    return d;
  }
  if (std::isinf(value)) {
    set_special(d, kInfinity, negative, kPointSpecial);
    return d;
  }
  if (value == 0) {
    set_special(d, zero_fraction ? "0.0" : "0", negative, kPointZero);
    return d;
  }
  // Scientific form: d[.ddd]e[+-]x. Shortest round trip, or [digits]
  // significant digits correctly rounded.
  char sci[48];
  const double magnitude = std::fabs(value);
  std::to_chars_result r =
      digits <= 0 ? std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific)
                  : std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific,
                                  std::min(digits, kMaxDigits) - 1);
  // "d", or "d.ddd", then "e", a sign and the exponent's digits.
  const char* end = r.ptr;
  const char* e = end - 3;  // at least a sign and two exponent digits follow the "e"
  while (*e != 'e') e--;
  d.buffer[0] = '-';
  d.buffer[1] = sci[0];
  int count = 1;
  for (const char* q = sci + 2; q < e; q++) d.buffer[1 + count++] = *q;
  int exponent = 0;
  for (const char* q = e + 2; q < end; q++) exponent = exponent * 10 + (*q - '0');
  if (e[1] == '-') exponent = -exponent;
  while (count > 1 && d.buffer[count] == '0') count--;  // no trailing zeros
  d.count = count;
  d.point = exponent + 1;
  d.negative = negative;
  return d;
}

FloatText float_to_text(double value, int digits, bool zero_fraction) {
  return decimal_to_text(float_to_decimal(value, digits, zero_fraction), zero_fraction);
}

FloatText decimal_to_text(const DecimalDigits& d, bool zero_fraction) {
  FloatText t;
  char* out = t.text;
  if (d.point > kPointSpecial - 2) {
    std::string_view s = d.text();
    std::memcpy(out, s.data(), s.size());
    t.length = uint8_t(s.size());
    return t;
  }
  if (d.negative) *out++ = '-';
  const char* digs = d.buffer + 1;
  int n = d.count, k = d.point;
  if (k > 17 || k < -6) {
    *out++ = digs[0];
    if (n > 1) {
      *out++ = '.';
      std::memcpy(out, digs + 1, size_t(n - 1));
      out += n - 1;
    } else if (zero_fraction) {
      *out++ = '.';
      *out++ = '0';
    }
    *out++ = 'e';
    out = std::to_chars(out, t.text + kFloatTextMax, k - 1).ptr;
  } else if (k >= 1) {
    int whole = std::min(n, k);
    std::memcpy(out, digs, size_t(whole));
    out += whole;
    for (int i = n; i < k; i++) *out++ = '0';
    if (n > k) {
      *out++ = '.';
      std::memcpy(out, digs + k, size_t(n - k));
      out += n - k;
    } else if (zero_fraction) {
      *out++ = '.';
      *out++ = '0';
    }
  } else {
    *out++ = '0';
    *out++ = '.';
    for (int i = 0; i < -k; i++) *out++ = '0';
    std::memcpy(out, digs, size_t(n));
    out += n;
  }
  t.length = uint8_t(out - t.text);
  return t;
}

double decimal_to_float(const char* start, const char* end, int exponent_adjust, size_t* remaining) {
  const char* p = start;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  const char* zeros = p;
  while (p < end && *p == '0') p++;
  bool leading_zeros = p > zeros;
  // "1.#INF", "-1.#INF", "1.#NaN": one digit, ".", "#", then I or N.
  if (end - p >= 4 && digit_q(p[0]) && p[1] == '.' && p[2] == '#') {
    char c = p[3];
    if (c == 'I' || c == 'i' || c == 'N' || c == 'n') {
      if (remaining) *remaining = 0;
      if (c == 'N' || c == 'n') return std::numeric_limits<double>::quiet_NaN();
      return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    }
  }
  // The common case: the standard reader takes the same syntax once the
  // sign is read and no adjustment is asked for (it stops where we stop).
  if (exponent_adjust == 0 && p < end && (digit_q(*p) || *p == '.')) {
    const char* first = p - (leading_zeros ? 1 : 0);
    double value;
    std::from_chars_result r = std::from_chars(first, end, value, std::chars_format::general);
    if (r.ec == std::errc()) {
      if (remaining) *remaining = size_t(end - r.ptr);
      return negative ? -value : value;
    }
  }
  // The extent of the number: digits, "." digits, then an exponent when it
  // has digits.
  const char* int_start = p;
  while (p < end && digit_q(*p)) p++;
  int int_digits = int(p - int_start);
  int frac_zeros = 0;  // zeros after "." before the first significant digit
  int frac_digits = 0;
  if (p < end && *p == '.') {
    const char* f = p + 1;
    while (f < end && digit_q(*f)) f++;
    frac_digits = int(f - p - 1);
    if (int_digits == 0)
      while (frac_zeros < frac_digits && p[1 + frac_zeros] == '0') frac_zeros++;
    if (int_digits + frac_digits > 0 || leading_zeros) p = f;
  }
  if (int_digits + frac_digits == 0 && !leading_zeros) {
    if (remaining) *remaining = size_t(end - start);
    return 0.0;
  }
  const char* mantissa_end = p;
  int64_t exponent = 0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    const char* e = p + 1;
    bool exp_negative = false;
    if (e < end && (*e == '+' || *e == '-')) exp_negative = *e++ == '-';
    if (e < end && digit_q(*e)) {
      for (; e < end && digit_q(*e); e++)
        if (exponent < 100000000) exponent = exponent * 10 + (*e - '0');
      if (exp_negative) exponent = -exponent;
      p = e;
    }
  }
  if (remaining) *remaining = size_t(end - p);
  exponent += exponent_adjust;
  // The standard reader takes "[-]digits[.digits][e[-]digits]": build that
  // text when the input differs from it (a "+", an adjusted exponent).
  double value = 0;
  std::from_chars_result r;
  const char* first = int_start - (leading_zeros ? 1 : 0);
  if (exponent_adjust == 0 && mantissa_end == p) {
    r = std::from_chars(first, p, value, std::chars_format::fixed);
  } else if (exponent_adjust == 0) {
    r = std::from_chars(first, p, value, std::chars_format::general);
  } else {
    std::string text(first, mantissa_end);
    text += 'e';
    text += std::to_string(exponent);
    r = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  }
  if (r.ec == std::errc::result_out_of_range) {
    // Past the double range: infinity above, zero below. The decimal
    // magnitude of the first significant digit tells which.
    int64_t magnitude = int_digits > 0 ? int_digits + exponent : exponent - frac_zeros;
    value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return negative ? -value : value;
}

double angle_to_radians(double degrees, AngleKind kind) {
  double a = std::fmod(degrees, 360.0);
  if (a > 180.0 || a < -180.0) a += a < 0 ? 360.0 : -360.0;
  if (a > 90.0 || a < -90.0) {
    if (kind == AngleKind::kTangent)
      a += a < 0 ? 180.0 : -180.0;
    else if (kind == AngleKind::kSine)
      a = a < 0 ? -180.0 - a : 180.0 - a;
  }
  return a * 3.141592653589793 / 180.0;
}

}  // namespace kiv
