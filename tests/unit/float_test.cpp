// float! and percent!: text in form and mold, make and to, arithmetic and its
// result types, the tolerant compare, round in every mode, power, random and
// the integer! hand-over, through the action entry points.
#include "datatypes/float.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "kiv_test.h"
#include "runtime/random.h"

namespace kiv {
namespace {

using test::Act;
using test::call_action;
using test::compare;
using test::float_of;
using test::form_of;
using test::mold_of;
using test::outcome;
using test::push_binary;
using test::push_text;

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

Cell f(double d) { return float_cell(d); }
Cell pc(double d) { return float_cell(d, kTypePercent); }
Cell i(int32_t n) { return integer_cell(n); }

class FloatTest : public ::testing::Test {
 protected:
  void TearDown() override { g_float_pretty = true; }
};

TEST_F(FloatTest, FormAndMold) {
  struct Case {
    Cell value;
    const char* form;
    const char* mold;
  } cases[] = {
      {f(1.0), "1.0", "1.0"},
      {f(0.1 + 0.2), "0.3", "0.30000000000000004"},
      {f(0.7 - 0.2), "0.5", "0.49999999999999994"},
      {f(1e23), "1.0e23", "1.0e23"},
      {f(33.333333333333336), "33.33333333333334", "33.333333333333336"},
      {f(1e-30), "0.0", "1.0e-30"},
      {f(-0.0), "0.0", "-0.0"},
      {f(1.0 / 3.0), "0.3333333333333333", "0.3333333333333333"},
      {f(-2.5), "-2.5", "-2.5"},
      {f(1e-7), "1.0e-7", "0.0000001"},
      {f(123456789012.0), "123456789012.0", "123456789012.0"},
      {f(kInf), "1.#INF", "1.#INF"},
      {f(-kInf), "-1.#INF", "-1.#INF"},
      {f(kNaN), "1.#NaN", "1.#NaN"},
      {pc(0.5), "50%", "50%"},
      {pc(0.125), "12.5%", "12.5%"},
      {pc(0.001), "0.1%", "0.1%"},
      {pc(1e-20), "0%", "0%"},
      {pc(12.0), "1200%", "1200%"},
      {pc(1.0 / 3.0), "33.33333333333%", "33.33333333333%"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(form_of(c.value), c.form) << c.mold;
    EXPECT_EQ(mold_of(c.value), c.mold) << c.form;
    if (!c.value.is(kTypePercent)) {
      EXPECT_EQ(mold_of(c.value, true), c.mold);
    }
  }
  // A percent's mold/all keeps every digit: the decimal point moves in the
  // text, so the value loads back exactly.
  EXPECT_EQ(mold_of(pc(0.5), true), "50%");
  EXPECT_EQ(mold_of(pc(1e-20), true), "1e-18%");
  EXPECT_EQ(mold_of(pc(1.0 / 3.0), true), "33.33333333333333%");
  EXPECT_EQ(mold_of(pc(0.07), true), "7%");
  EXPECT_EQ(mold_of(pc(-0.0), true), "-0%");
  // Without the pretty option small values keep their digits.
  g_float_pretty = false;
  EXPECT_EQ(form_of(f(1e-30)), "1.0e-30");
  EXPECT_EQ(form_of(f(0.1 + 0.2)), "0.3");
}

TEST_F(FloatTest, FormKinds) {
  struct Case {
    double value;
    FloatFormKind kind;
    const char* text;
  } cases[] = {
      {0.1f, kFormFloat32, "0.1"},          {2.0, kFormPoint, "2"},         {0.0, kFormPoint, "0"},
      {12.5, kFormPercent32, "12.5%"},      {59.5, kFormSeconds, "59.5"},   {3.0, kFormSeconds, "3"},
      {1e20, kFormFloat, "1.0e20"},         {1.5e-8, kFormFloat, "1.5e-8"}, {1e-8, kFormPercent, "1e-8%"},
      {123456.789, kFormPoint, "123456.8"},
  };
  for (const Case& c : cases) EXPECT_EQ(float_form(c.value, c.kind).view(), c.text) << c.value;
}

TEST_F(FloatTest, MakeAndTo) {
  struct Case {
    TypeId type;
    Cell spec;
    const char* result;
  } cases[] = {
      {kTypeFloat, i(3), "3.0"},
      {kTypeFloat, char_cell('A'), "65.0"},
      {kTypeFloat, pc(0.5), "0.5"},
      {kTypePercent, f(0.5), "50%"},
      {kTypePercent, i(50), "5000%"},
      {kTypeFloat, *push_text("1.5"), "1.5"},
      {kTypeFloat, *push_text("-1'000.25"), "-1000.25"},
      {kTypeFloat, *push_text("1e3"), "1000.0"},
      {kTypeFloat, *push_text("2,5"), "2.5"},
      {kTypePercent, *push_text("50%"), "50%"},
      {kTypePercent, *push_text("0.5"), "50%"},
      {kTypePercent, *push_text(" 12.5% "), "12.5%"},
      {kTypeFloat, *push_binary({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), "1.0"},
      {kTypeFloat, *push_binary({0x00, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), "1.0"},
      {kTypeFloat, *push_binary({}), "0.0"},
      {kTypeFloat, *test::block_of({i(15), i(-1)}), "1.5"},
      {kTypeFloat, *test::block_of({f(2.5), f(2.9)}), "250.0"},
      {kTypeFloat, *push_text(""), "!bad-to-arg"},
      {kTypeFloat, *push_text("1.5x"), "!bad-to-arg"},
      {kTypeFloat, *push_text("."), "!bad-to-arg"},
      {kTypePercent, *push_text("abc"), "!bad-to-arg"},
      {kTypeFloat, *test::block_of({i(1), i(2), i(3)}), "!bad-to-arg"},
      {kTypeFloat, *test::block_of({i(1), push_text("x")[0]}), "!bad-to-arg"},
      {kTypeFloat, logic_cell(true), "!bad-to-arg"},
      {kTypeFloat, money_from_float(-12.5, false), "-12.5"},
      {kTypePercent, money_from_integer(3), "300%"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome([&] { return *test::to(c.type, c.spec); }), c.result) << mold_of(c.spec);
    EXPECT_EQ(outcome([&] { return *test::make(c.type, c.spec); }), c.result) << mold_of(c.spec);
  }
}

TEST_F(FloatTest, Arithmetic) {
  struct Case {
    ActionId action;
    Cell a, b;
    const char* result;
  } cases[] = {
      {kActionAdd, f(1.5), f(2.25), "3.75"},
      {kActionAdd, f(1.5), char_cell('a'), "98.5"},
      {kActionAdd, i(1), f(0.5), "1.5"},
      {kActionSubtract, i(1), f(0.5), "0.5"},
      {kActionMultiply, pc(0.5), i(2), "100%"},
      {kActionMultiply, i(2), pc(0.5), "1.0"},
      {kActionMultiply, pc(0.1), pc(0.1), "1%"},
      {kActionAdd, pc(0.5), pc(0.5), "100%"},
      {kActionMultiply, f(2.0), pc(0.5), "1.0"},
      {kActionDivide, f(1.0), f(0.0), "1.#INF"},
      {kActionDivide, f(-1.0), f(0.0), "-1.#INF"},
      {kActionDivide, f(0.0), f(0.0), "1.#NaN"},
      {kActionDivide, i(7), f(2.0), "3.5"},
      {kActionRemainder, f(5.5), f(2.0), "1.5"},
      {kActionRemainder, f(5.5), f(kInf), "5.5"},
      {kActionRemainder, f(kInf), f(kInf), "1.#NaN"},
      {kActionRemainder, f(5.5), f(kNaN), "1.#NaN"},
      {kActionRemainder, f(-7.5), f(2.0), "-1.5"},
      {kActionAdd, pc(0.5), char_cell('a'), "!invalid-type"},
      {kActionAdd, f(1.0), *push_text("x"), "!invalid-type"},
      {kActionAdd, f(1.0), logic_cell(true), "!invalid-type"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(outcome(c.action, {c.a, c.b}), c.result) << mold_of(c.a) << " " << mold_of(c.b);
  // The bitwise ops have no float form.
  EXPECT_EQ(outcome([] { return float_cell(float_math_op(1.0, 2.0, kMathOr)); }), "!cannot-use");
  // Results keep the first operand's type: a float! stays a float!.
  EXPECT_EQ(call_action(kActionAdd, {f(1), i(1)}).type(), kTypeFloat);
  EXPECT_EQ(call_action(kActionAdd, {i(2147483647), i(1)}).type(), kTypeFloat);
}

TEST_F(FloatTest, Compare) {
  struct Case {
    Cell a, b;
    CompareOp op;
    bool result;
  } cases[] = {
      {f(0.1 + 0.2), f(0.3), kCmpEqual, true},   {f(0.1 + 0.2), f(0.3), kCmpStrictEqual, false},
      {f(1.0), i(1), kCmpEqual, true},           {f(1.0), i(1), kCmpStrictEqual, false},
      {i(1), f(1.0), kCmpEqual, true},           {i(1), f(1.0), kCmpStrictEqual, false},
      {f(kNaN), f(kNaN), kCmpEqual, false},      {f(kNaN), f(1.0), kCmpLesser, false},
      {f(kNaN), f(1.0), kCmpGreater, false},     {f(1.0), f(kNaN), kCmpLesser, false},
      {f(1.0), f(2.0), kCmpLesser, true},        {f(1e-300), f(-1e-300), kCmpEqual, true},
      {f(1.0), f(1.0 + 1e-15), kCmpEqual, true}, {f(1.0), f(1.0 + 1e-14), kCmpEqual, false},
      {f(0.0), f(-0.0), kCmpEqual, true},        {f(0.0), f(-0.0), kCmpStrictEqual, true},
      {f(0.0), f(-0.0), kCmpSame, false},        {pc(0.5), f(0.5), kCmpEqual, true},
      {pc(0.5), f(0.5), kCmpStrictEqual, false}, {f(kInf), f(kInf), kCmpEqual, true},
      {f(-kInf), f(kInf), kCmpEqual, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(compare(c.a, c.b, c.op), c.result)
        << mold_of(c.a) << " op " << int(c.op) << " " << mold_of(c.b);
  EXPECT_EQ(outcome([&] { return logic_cell(compare(f(1.0), *push_text("1"), kCmpLesser)); }),
            "!invalid-compare");
}

TEST_F(FloatTest, Round) {
  struct Case {
    Cell value;
    const char* refinement;  // null: plain round
    Cell scale;              // none: no /to
    const char* result;
  } cases[] = {
      {f(2.5), nullptr, kNoneCell, "3.0"},     {f(-2.5), nullptr, kNoneCell, "-3.0"},
      {f(2.5), "even", kNoneCell, "2.0"},      {f(3.5), "even", kNoneCell, "4.0"},
      {f(2.5), "half-down", kNoneCell, "2.0"}, {f(-2.5), "half-ceiling", kNoneCell, "-2.0"},
      {f(-2.7), "down", kNoneCell, "-2.0"},    {f(-2.2), "floor", kNoneCell, "-3.0"},
      {f(2.2), "ceiling", kNoneCell, "3.0"},   {f(2.4), nullptr, kNoneCell, "2.0"},
      {f(3.14159), nullptr, f(0.01), "3.14"},  {f(7.3), nullptr, i(2), "8"},
      {f(1.23456), nullptr, i(0), "1.23456"},  {f(0.0), nullptr, f(0.0), "0.0"},
      {f(-0.0), "ceiling", i(0), "-0.0"},      {f(1e300), nullptr, i(3), "1.0e300"},
      {f(3e9), nullptr, i(2), "-2147483648"},  {f(12.34), nullptr, pc(0.1), "1230%"},
      {pc(0.125), nullptr, kNoneCell, "13%"},  {pc(-0.125), nullptr, kNoneCell, "-13%"},
      {pc(0.125), "even", kNoneCell, "12%"},   {pc(0.1234), nullptr, pc(0.1), "10%"},
      {pc(0.1234), nullptr, i(1), "0"},        {pc(0.1234), nullptr, f(0.5), "0.125"},
      {f(1.5), nullptr, f(1e-320), "1.5"},     {f(1.5e-310), nullptr, f(1e-310), "2.0e-310"},
      {f(kInf), nullptr, kNoneCell, "1.#INF"}, {f(1.0), nullptr, *push_text("x"), "!expect-arg"},
      {i(17), nullptr, f(5.0), "15.0"},        {i(17), nullptr, pc(0.05), "1700%"},
  };
  for (const Case& c : cases) {
    std::string got = outcome([&] {
      Act round(kActionRound, {c.value});
      if (c.refinement) round.ref(c.refinement);
      if (!c.scale.is(kTypeNone)) round.ref("to", c.scale);
      return round.value();
    });
    EXPECT_EQ(got, c.result) << mold_of(c.value) << " " << (c.refinement ? c.refinement : "") << " "
                             << mold_of(c.scale);
  }
}

TEST_F(FloatTest, PowerAbsoluteNegateEvenOdd) {
  EXPECT_EQ(outcome(kActionPower, {f(2.0), i(10)}), "1024.0");
  EXPECT_EQ(outcome(kActionPower, {f(4.0), f(0.5)}), "2.0");
  EXPECT_EQ(outcome(kActionPower, {f(10.0), i(400)}), "1.#INF");
  EXPECT_EQ(outcome(kActionPower, {f(2.0), pc(0.5)}), "!expect-arg");
  EXPECT_EQ(outcome(kActionPower, {i(2), i(31)}), "2147483648.0");
  EXPECT_EQ(outcome(kActionPower, {i(2), i(-1)}), "0.5");
  EXPECT_EQ(outcome(kActionPower, {i(2), f(0.5)}), "1.4142135623730951");
  EXPECT_EQ(outcome(kActionAbsolute, {f(-0.0)}), "0.0");
  EXPECT_EQ(outcome(kActionAbsolute, {f(-kInf)}), "1.#INF");
  EXPECT_EQ(outcome(kActionAbsolute, {pc(-0.5)}), "50%");
  EXPECT_EQ(outcome(kActionNegate, {f(0.0)}), "0.0");
  EXPECT_EQ(outcome(kActionNegate, {f(1.5)}), "-1.5");
  EXPECT_EQ(outcome(kActionEvenQ, {f(2.9)}), "true");
  EXPECT_EQ(outcome(kActionOddQ, {f(-3.5)}), "true");
  EXPECT_EQ(outcome(kActionEvenQ, {f(kNaN)}), "true");
  EXPECT_EQ(outcome(kActionEvenQ, {f(1e20)}), "true");
}

TEST_F(FloatTest, Random) {
  EXPECT_EQ(call_action(kActionRandom, {f(1.5)}, {}).type(), kTypeFloat);
  Cell seeded = Act(kActionRandom, {f(1.5)}).ref("seed").value();
  EXPECT_TRUE(seeded.is(kTypeUnset));
  double first = float_of(call_action(kActionRandom, {f(10.0)}));
  Act(kActionRandom, {f(1.5)}).ref("seed").value();
  EXPECT_EQ(float_of(call_action(kActionRandom, {f(10.0)})), first);
  for (int k = 0; k < 1000; k++) {
    double plain = float_of(call_action(kActionRandom, {f(10.0)}));
    double secure = float_of(Act(kActionRandom, {f(10.0)}).ref("secure").value());
    EXPECT_TRUE(plain >= 0 && plain <= 10.0) << plain;
    EXPECT_TRUE(secure >= 0 && secure <= 10.0) << secure;
  }
  EXPECT_EQ(call_action(kActionRandom, {pc(0.5)}).type(), kTypePercent);
}

}  // namespace
}  // namespace kiv
