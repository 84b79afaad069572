// Conversion between 64-bit doubles and decimal text: the shortest or a
// correctly rounded number of digits, the layout of a number's text, the
// special texts, and reading a number back correctly rounded. Also the degree
// reduction of the trigonometric functions.
//
// Texts written: "1.#INF", "-1.#INF" and "1.#NaN" for the specials; zero as
// "0.0"/"-0.0" (zero_fraction) or "0"/"-0". A number of at least 1e17 or
// below 1e-7 in magnitude takes the exponent form "1.5e-8", "1.0e17"; others
// the plain form "100.0", "0.001". zero_fraction adds ".0" where the text
// would otherwise end in "." or have no fraction before the "e".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kiv {

// Decimal-point positions above any real one.
inline constexpr int kPointSpecial = 9999;  // infinity or NaN
inline constexpr int kPointZero = 9998;     // zero of either sign

// The digits of a double: "15" with point 1 means 1.5. For the specials
// (point above 9997) text() is the whole special text instead.
struct DecimalDigits {
  char buffer[32];  // "-" then the digits (or the special text)
  int point = 0;    // the exponent of the first digit plus 1
  bool negative = false;
  int count = 0;  // digits, without the sign
  // The digits (no sign), or the special text with its sign.
  std::string_view digits() const { return {buffer + 1, size_t(count)}; }
  std::string_view text() const;
};

// digits 0 or less: the shortest digits that read back to [value]; a positive
// [digits]: at most that many significant digits, correctly rounded. No
// trailing zeros. [zero_fraction] chooses "0.0" or "0" for a zero.
DecimalDigits float_to_decimal(double value, int digits, bool zero_fraction);

// The complete text of a double. At most kFloatTextMax characters.
inline constexpr size_t kFloatTextMax = 40;
struct FloatText {
  char text[kFloatTextMax];
  uint8_t length = 0;
  std::string_view view() const { return {text, length}; }
};
FloatText float_to_text(double value, int digits, bool zero_fraction);
// The text of [d], laid out as float_to_text lays out a double's digits.
FloatText decimal_to_text(const DecimalDigits& d, bool zero_fraction);

// Reads a number from [start, end): optional sign, digits, optional "." and
// digits, optional "e"/"E", sign and digits; or the specials "1.#INF",
// "-1.#INF", "1.#NaN" (any case after "#"; a NaN read is positive). The
// result is correctly rounded (ties to even); too large gives infinity, too
// small zero, with the sign. [exponent_adjust] is added to the decimal
// exponent ("12.5" with -2 reads 0.125). *[remaining] receives the count of
// characters after the last one used (0: the whole text was the number).
// Never fails: a text with no digits reads 0.0 with everything remaining.
double decimal_to_float(const char* start, const char* end, int exponent_adjust, size_t* remaining);
inline double string_to_float(const char* start, size_t length, size_t* remaining) {
  return decimal_to_float(start, start + length, 0, remaining);
}

// The function an angle is reduced for.
enum class AngleKind { kTangent = 0, kCosine = 1, kSine = 2 };
// [degrees] reduced for [kind] and turned into radians: sine of 180 is
// exactly 0 and tangent of 225 that of 45.
double angle_to_radians(double degrees, AngleKind kind);

}  // namespace kiv
