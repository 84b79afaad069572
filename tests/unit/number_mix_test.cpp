// The number types together: every first operand among integer!, float!,
// percent! and time! against every other number type, through the action
// entry points, so each hand-over lands in the right type's arithmetic.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "kiv_test.h"

namespace kiv {
namespace {

using test::compare;
using test::mold_of;
using test::outcome;

Cell tuple3(int32_t a, int32_t b, int32_t c) {
  int32_t bytes[] = {a, b, c};
  return *tuple_from_bytes(bytes);
}

TEST(NumberMix, Arithmetic) {
  const Cell i2 = integer_cell(2), f15 = float_cell(1.5), p50 = float_cell(0.5, kTypePercent);
  const Cell t1h = time_cell(3600), pr = pair_cell(3, 4), pt = point2d_cell(1.5f, 2.5f);
  const Cell money = money_from_integer(10);
  struct Case {
    ActionId action;
    Cell a, b;
    const char* result;
  } cases[] = {
      {kActionAdd, i2, f15, "3.5"},
      {kActionMultiply, i2, p50, "1.0"},
      {kActionMultiply, i2, t1h, "2:00:00"},
      {kActionMultiply, t1h, i2, "2:00:00"},
      {kActionDivide, t1h, i2, "0:30:00"},
      {kActionAdd, p50, t1h, "1:00:00.5"},
      {kActionAdd, i2, pr, "5x6"},
      {kActionSubtract, i2, pr, "-1x-2"},
      {kActionMultiply, f15, pr, "(4.5, 6)"},
      {kActionSubtract, f15, pr, "!not-related"},
      {kActionAdd, i2, pt, "(3.5, 4.5)"},
      {kActionMultiply, f15, pt, "(2.25, 3.75)"},
      {kActionAdd, i2, tuple3(1, 2, 3), "3.4.5"},
      {kActionMultiply, f15, tuple3(10, 20, 30), "15.30.45"},
      {kActionSubtract, i2, tuple3(1, 2, 3), "!not-related"},
      {kActionAdd, i2, money, "$12.00"},
      {kActionMultiply, f15, money, "$15.00"},
      {kActionAdd, money, i2, "$12.00"},
      {kActionAdd, t1h, pr, "!invalid-type"},
      {kActionAdd, i2, logic_cell(true), "!invalid-type"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(outcome(c.action, {c.a, c.b}), c.result) << mold_of(c.a) << " " << mold_of(c.b);
}

TEST(NumberMix, Compare) {
  struct Case {
    Cell a, b;
    CompareOp op;
    bool result;
  } cases[] = {
      {integer_cell(1), float_cell(1.0), kCmpEqual, true},
      {float_cell(0.5), float_cell(0.5, kTypePercent), kCmpEqual, true},
      {integer_cell(60), time_cell(60), kCmpEqual, true},
      {integer_cell(10), money_from_integer(10), kCmpEqual, true},
      {float_cell(10.0), money_from_integer(10), kCmpEqual, true},
      {float_cell(9.5), money_from_integer(10), kCmpLesser, true},
      {money_from_integer(10), float_cell(9.5), kCmpGreater, true},
      {float_cell(1e-6), money_from_integer(0), kCmpGreater, true},
      {float_cell(-1e20), money_from_integer(5), kCmpLesser, true},
      {integer_cell(1), float_cell(1.0), kCmpStrictEqual, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(compare(c.a, c.b, c.op), c.result)
        << mold_of(c.a) << " op " << int(c.op) << " " << mold_of(c.b);
}

}  // namespace
}  // namespace kiv
