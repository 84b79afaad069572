// Double <-> text: the layout of written numbers, the specials, shortest
// round-trip digits over many doubles, correctly rounded reading checked
// against the C library, and the degree reduction.
#include "runtime/float_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace kiv {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

uint64_t bits_of(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

double read(std::string_view text, int adjust = 0, size_t* remaining = nullptr) {
  size_t rest = 0;
  double d = decimal_to_float(text.data(), text.data() + text.size(), adjust, &rest);
  if (remaining) *remaining = rest;
  return d;
}

TEST(FloatText, Layout) {
  struct Case {
    double value;
    int digits;
    bool zero_fraction;
    const char* text;
  } cases[] = {
      {3.0, 0, true, "3.0"},
      {1e16, 0, true, "10000000000000000.0"},
      {1e17, 0, true, "1.0e17"},
      {1e17, 0, false, "1e17"},
      {1.23e-7, 0, true, "0.000000123"},
      {1.23e-8, 0, true, "1.23e-8"},
      {1.5e-8, 0, true, "1.5e-8"},
      {5e-324, 0, true, "5.0e-324"},
      {2.0, 0, false, "2"},
      {100.0, 0, false, "100"},
      {100.0, 0, true, "100.0"},
      {1.5, 0, true, "1.5"},
      {123.25, 0, true, "123.25"},
      {0.001, 0, true, "0.001"},
      {1e-7, 0, true, "0.0000001"},
      {0.1, 0, true, "0.1"},
      {0.1 + 0.2, 0, true, "0.30000000000000004"},
      {1e100, 0, true, "1.0e100"},
      {1e23, 0, true, "1.0e23"},
      {-2.5, 0, true, "-2.5"},
      {-1e-30, 0, true, "-1.0e-30"},
      {0.0, 0, true, "0.0"},
      {0.0, 0, false, "0"},
      {-0.0, 0, true, "-0.0"},
      {-0.0, 0, false, "-0"},
      {kInf, 0, true, "1.#INF"},
      {-kInf, 0, true, "-1.#INF"},
      {std::nan(""), 0, true, "1.#NaN"},
      {-std::nan(""), 0, true, "1.#NaN"},
      // A number of significant digits, correctly rounded, no trailing zeros.
      {3661.5, 6, false, "3661.5"},
      {59.9999999, 6, false, "60"},
      {1.0 / 3.0, 6, false, "0.333333"},
      {2.0 / 3.0, 3, true, "0.667"},
      {123456789.0, 4, true, "123500000.0"},
      {9.99999e20, 3, true, "1.0e21"},
      {0.5, 6, false, "0.5"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(float_to_text(c.value, c.digits, c.zero_fraction).view(), c.text)
        << c.value << " digits " << c.digits;
}

TEST(FloatText, DecimalDigitsAndPoint) {
  DecimalDigits d = float_to_decimal(1.5, 0, true);
  EXPECT_EQ(d.digits(), "15");
  EXPECT_EQ(d.point, 1);
  EXPECT_FALSE(d.negative);
  d = float_to_decimal(-0.00125, 0, true);
  EXPECT_EQ(d.digits(), "125");
  EXPECT_EQ(d.point, -2);
  EXPECT_TRUE(d.negative);
  EXPECT_EQ(d.text(), "-125");
  EXPECT_EQ(float_to_decimal(kInf, 0, true).point, kPointSpecial);
  EXPECT_EQ(float_to_decimal(-kInf, 0, true).text(), "-1.#INF");
  EXPECT_EQ(float_to_decimal(-0.0, 0, true).point, kPointZero);
  EXPECT_EQ(float_to_decimal(-0.0, 0, true).text(), "-0.0");
}

// Doubles across the whole range: random bit patterns, powers of ten and
// subnormals. Each text reads back to the same bits, and no text with one
// digit fewer does (the digits are the shortest).
TEST(FloatText, ShortestRoundTrip) {
  std::vector<double> values;
  std::mt19937_64 rng(0x5eed);
  for (int i = 0; i < 20000; i++) {
    uint64_t b = rng();
    double d;
    std::memcpy(&d, &b, sizeof d);
    if (std::isfinite(d)) values.push_back(d);
  }
  for (int e = -323; e <= 308; e++) values.push_back(std::pow(10.0, e));
  for (uint64_t m : {uint64_t(1), uint64_t(2), uint64_t(12345), (uint64_t(1) << 52) - 1}) {
    double d;
    std::memcpy(&d, &m, sizeof d);
    values.push_back(d);
  }
  for (double v : values) {
    FloatText t = float_to_text(v, 0, true);
    size_t rest = 1;
    ASSERT_EQ(bits_of(read(t.view(), 0, &rest)), bits_of(v)) << t.view();
    ASSERT_EQ(rest, 0u) << t.view();
    int n = float_to_decimal(v, 0, true).count;
    if (n > 1) {
      char shorter[64];
      std::snprintf(shorter, sizeof shorter, "%.*e", n - 2, v);
      ASSERT_NE(bits_of(std::strtod(shorter, nullptr)), bits_of(v))
          << t.view() << " has a shorter form " << shorter;
    }
  }
}

TEST(FloatText, ReadingEdgeCases) {
  EXPECT_EQ(read("1e400"), kInf);
  EXPECT_EQ(read("-1e400"), -kInf);
  EXPECT_EQ(bits_of(read("1e-400")), bits_of(0.0));
  EXPECT_EQ(bits_of(read("-1e-400")), bits_of(-0.0));
  EXPECT_EQ(read("1e99999999999999999999"), kInf);
  EXPECT_EQ(read("0.1"), 0.1);
  EXPECT_EQ(read("12.5", -2), 0.125);
  EXPECT_EQ(read("50", -2), 0.5);
  EXPECT_EQ(read("1e3", -2), 10.0);
  EXPECT_EQ(read("+1.5"), 1.5);
  EXPECT_EQ(read("00012.5"), 12.5);
  EXPECT_EQ(read(".5"), 0.5);
  EXPECT_EQ(read("1."), 1.0);
  EXPECT_EQ(bits_of(read("-0")), bits_of(-0.0));
  EXPECT_EQ(read("1.#INF"), kInf);
  EXPECT_EQ(read("-1.#INF"), -kInf);
  double nan = read("-1.#NAN");
  EXPECT_TRUE(std::isnan(nan));
  EXPECT_FALSE(std::signbit(nan));
  EXPECT_TRUE(std::isnan(read("1.#NaN")));

  struct Rest {
    const char* text;
    double value;
    size_t remaining;
  } rests[] = {
      {"1.5abc", 1.5, 3},      {"abc", 0.0, 3},   {"", 0.0, 0},    {"1e", 1.0, 1},
      {"1e+", 1.0, 2},         {"2E5", 2e5, 0},   {"-", 0.0, 1},   {".", 0.0, 1},
      {"7.25e-2x", 0.0725, 1}, {"1.#I", kInf, 0}, {"3 4", 3.0, 2}, {"0.0.1", 0.0, 2},
  };
  for (const Rest& r : rests) {
    size_t remaining = 99;
    EXPECT_EQ(read(r.text, 0, &remaining), r.value) << r.text;
    EXPECT_EQ(remaining, r.remaining) << r.text;
  }
}

// Reading is correctly rounded: random decimal texts, long ones and ones
// near halfway points included, read as the C library reads them.
TEST(FloatText, ReadingIsCorrectlyRounded) {
  std::mt19937_64 rng(42);
  for (int i = 0; i < 20000; i++) {
    std::string text;
    if (rng() % 2) text += '-';
    int digits = 1 + int(rng() % 40);
    for (int k = 0; k < digits; k++) text += char('0' + rng() % 10);
    if (rng() % 2) text.insert(text.size() - size_t(rng() % digits), ".");
    if (rng() % 2) text += "e" + std::to_string(int(rng() % 700) - 350);
    EXPECT_EQ(bits_of(read(text)), bits_of(std::strtod(text.c_str(), nullptr))) << text;
  }
  // Exactly halfway between two doubles: ties go to even.
  EXPECT_EQ(read("9007199254740993"), 9007199254740992.0);
  EXPECT_EQ(read("9007199254740995"), 9007199254740996.0);
}

TEST(FloatText, AngleReduction) {
  constexpr double kPi = 3.141592653589793;
  EXPECT_EQ(angle_to_radians(180, AngleKind::kSine), 0.0);
  EXPECT_EQ(std::sin(angle_to_radians(180, AngleKind::kSine)), 0.0);
  EXPECT_EQ(angle_to_radians(90, AngleKind::kCosine), kPi / 2);
  EXPECT_EQ(angle_to_radians(225, AngleKind::kTangent), angle_to_radians(45, AngleKind::kTangent));
  EXPECT_EQ(angle_to_radians(-225, AngleKind::kTangent), angle_to_radians(-45, AngleKind::kTangent));
  EXPECT_EQ(angle_to_radians(270, AngleKind::kCosine), -90 * kPi / 180);
  EXPECT_EQ(angle_to_radians(-150, AngleKind::kSine), -30 * kPi / 180);
  EXPECT_EQ(angle_to_radians(720 + 30, AngleKind::kSine), 30 * kPi / 180);
}

}  // namespace
}  // namespace kiv
