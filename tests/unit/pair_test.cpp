// pair!: arithmetic and its turn to point2D!, the integer! hand-over, make and
// to, compare, text, pick and path access, round, random and the unary
// actions, through the action entry points.
#include "datatypes/pair.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "datatypes/logic.h"
#include "datatypes/point.h"
#include "kiv_test.h"

namespace kiv {
namespace {

using test::Act;
using test::call_action;
using test::compare;
using test::eval_path;
using test::form_of;
using test::mold_of;
using test::outcome;
using test::push_text;
using test::word;

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");
constexpr int32_t kMin = INT32_MIN;
constexpr int32_t kMax = INT32_MAX;

Cell p(int32_t x, int32_t y) { return pair_cell(x, y); }
Cell i(int32_t n) { return integer_cell(n); }
Cell f(double d) { return float_cell(d); }

TEST(PairTest, Arithmetic) {
  struct Case {
    ActionId action;
    Cell a, b;
    const char* result;
  } cases[] = {
      {kActionAdd, p(1, 2), p(3, 4), "4x6"},
      {kActionAdd, p(1, 2), i(1), "2x3"},
      {kActionSubtract, p(1, 2), p(3, 5), "-2x-3"},
      {kActionMultiply, p(3, 4), p(-2, 3), "-6x12"},
      {kActionDivide, p(4, 6), i(2), "2x3"},
      {kActionRemainder, p(3, 4), i(2), "1x0"},
      {kActionRemainder, p(-7, 7), i(2), "-1x1"},
      {kActionOrT, p(1, 2), i(4), "5x6"},
      {kActionAndT, p(3, 6), p(2, 4), "2x4"},
      {kActionXorT, p(3, 6), p(1, 1), "2x7"},
      // A float! other than a factor or divisor counts truncated.
      {kActionAdd, p(1, 2), f(1.9), "2x3"},
      {kActionSubtract, p(1, 2), f(-1.9), "2x3"},
      // Results that cannot stay integral make a point2D!.
      {kActionDivide, p(3, 4), i(2), "(1.5, 2)"},
      {kActionDivide, p(4, 3), i(2), "(2, 1.5)"},
      {kActionMultiply, p(3, 4), f(0.5), "(1.5, 2)"},
      {kActionMultiply, p(3, 4), f(2.0), "(6, 8)"},
      {kActionMultiply, p(3, 4), float_cell(0.5, kTypePercent), "(1.5, 2)"},
      {kActionDivide, p(3, 4), f(0.5), "(6, 8)"},
      {kActionDivide, p(1, -1), f(0.0), "(1.#INF, -1.#INF)"},
      {kActionDivide, p(1, -1), f(kInf), "(0, 0)"},
      {kActionAdd, p(1, 2), point2d_cell(0.5f, 0.25f), "(1.5, 2.25)"},
      {kActionSubtract, p(1, 2), point2d_cell(0.5f, 0.25f), "(0.5, 1.75)"},
      {kActionMultiply, p(65536, 1), i(65536), "(4.294967e9, 65536)"},
      // Errors.
      {kActionDivide, p(1, 1), i(0), "!zero-divide"},
      {kActionRemainder, p(1, 1), p(1, 0), "!zero-divide"},
      {kActionDivide, p(3, 4), p(2, 0), "!zero-divide"},  // x is uneven, y still fails
      {kActionDivide, p(kMin, 0), i(-1), "!overflow"},
      {kActionMultiply, p(1, 2), f(kInf), "!invalid-arg"},
      {kActionMultiply, p(1, 2), f(kNaN), "!invalid-arg"},
      {kActionDivide, p(1, 2), f(kNaN), "!invalid-arg"},
      {kActionAdd, p(1, 2), f(kInf), "!invalid-arg"},
      {kActionAdd, p(1, 2), f(3e9), "!out-of-range"},
      {kActionAdd, p(1, 2), f(-2147483649.0), "!out-of-range"},
      {kActionAndT, p(1, 2), point2d_cell(1, 1), "!cannot-use"},
      {kActionAdd, p(1, 2), point3d_cell(1, 1, 1), "!invalid-type"},
      {kActionAdd, p(1, 2), char_cell('a'), "!invalid-type"},
      {kActionAdd, p(1, 2), kNoneCell, "!invalid-type"},
      // integer! hands its pair operations over.
      {kActionAdd, i(1), p(1, 2), "2x3"},
      {kActionMultiply, i(2), p(3, 4), "6x8"},
      {kActionSubtract, i(10), p(1, 2), "9x8"},
      {kActionSubtract, i(1), p(kMin, 0), "!overflow"},
      {kActionDivide, i(1), p(1, 2), "!not-related"},
      // So does float!, for the operations that commute.
      {kActionMultiply, f(0.5), p(3, 4), "(1.5, 2)"},
      {kActionAdd, f(1.5), p(1, 2), "2x3"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(outcome(c.action, {c.a, c.b}), c.result)
        << mold_of(c.a) << " " << int(c.action) << " " << mold_of(c.b);
}

// An overflow redoes both components in floats, from the pair as it was.
TEST(PairTest, OverflowGivesAPoint) {
  Cell r = call_action(kActionAdd, {p(kMax, 0), p(1, 0)});
  ASSERT_TRUE(r.is(kTypePoint2D));
  EXPECT_EQ(point_x(&r), 2147483648.0f);
  EXPECT_EQ(point_y(&r), 0.0f);
  r = call_action(kActionSubtract, {p(5, kMin), p(1, 1)});
  ASSERT_TRUE(r.is(kTypePoint2D));
  EXPECT_EQ(point_x(&r), 4.0f);
  EXPECT_EQ(point_y(&r), -2147483649.0f);
}

TEST(PairTest, UnaryActions) {
  struct Case {
    ActionId action;
    Cell a;
    const char* result;
  } cases[] = {
      {kActionNegate, p(1, -2), "-1x2"},          {kActionNegate, p(kMax, 0), "-2147483647x0"},
      {kActionNegate, p(0, kMin), "!overflow"},   {kActionAbsolute, p(-3, 4), "3x4"},
      {kActionAbsolute, p(kMin, 0), "!overflow"}, {kActionReverse, p(3, 4), "4x3"},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome(c.action, {c.a}), c.result) << mold_of(c.a);
}

TEST(PairTest, MakeAndTo) {
  struct Case {
    Cell spec;
    const char* result;
  } cases[] = {
      {p(3, 4), "3x4"},
      {i(5), "5x5"},
      {f(1.9), "1x1"},
      {f(-1.9), "-1x-1"},
      {f(3e9), "!out-of-range"},
      {f(kNaN), "!out-of-range"},
      {point2d_cell(1.5f, -2.5f), "1x-2"},
      {point2d_cell(float(kInf), 0), "!invalid-arg"},
      {point2d_cell(0, std::nanf("")), "!invalid-arg"},
      {point2d_cell(3e9f, 0), "!out-of-range"},
      {*test::block_of({f(1.9), f(-1.9)}), "1x-1"},
      {*test::block_of({i(1), i(2), i(3)}), "1x2"},
      {test::at_head(test::block_of({i(0), i(3), i(4)}), 1), "3x4"},
      {*test::block_of({i(1)}), "!malconstruct"},
      {test::at_head(test::block_of({i(1), i(2)}), 1), "!malconstruct"},
      {*test::block_of({i(1), *push_text("a")}), "!malconstruct"},
      {*test::block_of({i(1), float_cell(0.5, kTypePercent)}), "!malconstruct"},
      {*test::block_of({i(1), f(1e10)}), "!out-of-range"},
      {point3d_cell(1, 2, 3), "!bad-to-arg"},
      {float_cell(0.5, kTypePercent), "!bad-to-arg"},
      {kNoneCell, "!bad-to-arg"},
      // Text loads through the lexer.
      {*push_text("3x4"), "3x4"},
      {*push_text("3"), "!bad-to-arg"},
      {*push_text("3x"), "!invalid"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome([&] { return *test::to(kTypePair, c.spec); }), c.result) << mold_of(c.spec);
    EXPECT_EQ(outcome([&] { return *test::make(kTypePair, c.spec); }), c.result) << mold_of(c.spec);
  }
}

TEST(PairTest, Text) {
  struct Case {
    Cell value;
    const char* text;
  } cases[] = {{p(10, 20), "10x20"}, {p(-1, -2), "-1x-2"}, {p(kMin, kMax), "-2147483648x2147483647"}};
  for (const Case& c : cases) {
    EXPECT_EQ(form_of(c.value), c.text);
    EXPECT_EQ(mold_of(c.value), c.text);
    EXPECT_EQ(mold_of(c.value, true), c.text);
  }
  EXPECT_EQ(form_of(p(10, 20), 3), "10x");
}

TEST(PairTest, Compare) {
  struct Case {
    Cell a, b;
    CompareOp op;
    bool result;
  } cases[] = {
      {p(1, 2), p(2, 1), kCmpLesser, true},  // x decides
      {p(2, 1), p(2, 3), kCmpLesser, true},
      {p(-2000000000, 0), p(2000000000, 0), kCmpLesser, true},
      {p(kMin, 0), p(kMax, 0), kCmpLesser, true},
      {p(3, 4), p(3, 4), kCmpEqual, true},
      {p(3, 4), p(3, 4), kCmpStrictEqual, true},
      {p(3, 4), p(4, 3), kCmpNotEqual, true},
      {p(3, 4), p(3, 4), kCmpGreaterOrEqual, true},
      {p(1, 2), point2d_cell(1, 2), kCmpEqual, true},
      {p(1, 2), point2d_cell(1, 2.5f), kCmpLesser, true},
      {p(1, 1), i(1), kCmpEqual, false},
      {p(1, 2), point3d_cell(1, 2, 0), kCmpEqual, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(compare(c.a, c.b, c.op), c.result)
        << mold_of(c.a) << " op " << int(c.op) << " " << mold_of(c.b);
  EXPECT_EQ(outcome([] { return logic_cell(compare(p(1, 1), i(1), kCmpLesser)); }), "!invalid-compare");
}

// Comparing a pair with a point works on a copy: neither argument changes
// (they may be cells of a block being searched or sorted).
TEST(PairTest, CompareLeavesItsArgumentsAlone) {
  StackSave save;
  Cell* pair = stack_push_value(p(1, 2));
  Cell* point = stack_push_value(point2d_cell(1, 2));
  EXPECT_TRUE(action_compare(pair, point, kCmpEqual));
  EXPECT_TRUE(action_compare(point, pair, kCmpEqual));
  EXPECT_TRUE(pair->is(kTypePair));
  EXPECT_EQ(pair_y(pair), 2);
  EXPECT_TRUE(point->is(kTypePoint2D));
}

TEST(PairTest, Pick) {
  struct Case {
    Cell index;
    const char* result;
  } cases[] = {
      {i(1), "3"},
      {i(2), "4"},
      {word("y"), "4"},
      {word("X"), "3"},
      {word("x", kTypeLitWord), "3"},
      {i(3), "!out-of-range"},
      {i(0), "!out-of-range"},
      {*push_text("x"), "!out-of-range"},
      {word("z"), "!cannot-use"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(outcome(kActionPick, {p(3, 4), c.index}), c.result) << mold_of(c.index);
}

TEST(PairTest, PathAccess) {
  StackSave save;
  Cell* pair = stack_push_value(p(3, 4));
  EXPECT_EQ(mold_of(eval_path(pair, word("x"))), "3");
  EXPECT_EQ(mold_of(eval_path(pair, i(2))), "4");
  Cell seven = i(7);
  EXPECT_EQ(mold_of(eval_path(pair, word("y"), &seven)), "7");
  EXPECT_EQ(mold_of(*pair), "3x7");
  EXPECT_EQ(mold_of(eval_path(pair, i(1), &seven)), "7");
  EXPECT_EQ(mold_of(*pair), "7x7");
  struct Case {
    Cell element;
    Cell value;  // none: get
    const char* error;
  } errors[] = {
      {word("z"), kNoneCell, "!invalid-path"},       {i(3), kNoneCell, "!invalid-path"},
      {*push_text("x"), kNoneCell, "!invalid-path"}, {word("x"), f(1.5), "!invalid-type"},
      {word("x"), *push_text("a"), "!invalid-type"},
  };
  for (const Case& c : errors) {
    const Cell* value = c.value.is(kTypeNone) ? nullptr : &c.value;
    EXPECT_EQ(outcome([&] { return eval_path(pair, c.element, value); }), c.error) << mold_of(c.element);
  }
  EXPECT_EQ(mold_of(*pair), "7x7");
}

TEST(PairTest, Round) {
  struct Case {
    Cell value;
    const char* refinement;  // null: plain round
    Cell scale;              // none: no /to
    const char* result;
  } cases[] = {
      {p(17, -23), nullptr, i(10), "20x-20"},
      {p(15, -25), nullptr, i(10), "20x-30"},
      {p(15, -25), "down", i(10), "10x-20"},
      {p(15, -25), "floor", i(10), "10x-30"},
      {p(15, -25), "ceiling", i(10), "20x-20"},
      {p(15, 25), "even", i(10), "20x20"},
      {p(17, 23), nullptr, p(5, 10), "15x20"},
      {p(7, 8), nullptr, f(2.5), "7x7"},  // 7.5 and 7.5, truncated
      {p(3, 4), nullptr, kNoneCell, "3x4"},
      {p(kMax, 0), nullptr, i(10), "!overflow"},
      {p(kMax, 0), nullptr, f(10.0), "!out-of-range"},
      {p(3, 4), nullptr, make_cell(kTypeMoney), "!not-related"},
  };
  for (const Case& c : cases) {
    Act round(kActionRound, {c.value});
    if (c.refinement) round.ref(c.refinement);
    if (!c.scale.is(kTypeNone)) round.ref("to", c.scale);
    EXPECT_EQ(outcome([&] { return round.value(); }), c.result)
        << mold_of(c.value) << " " << (c.refinement ? c.refinement : "") << " " << mold_of(c.scale);
  }
}

TEST(PairTest, Random) {
  EXPECT_TRUE(Act(kActionRandom, {p(3, 4)}).ref("seed").value().is(kTypeUnset));
  // x xor y seeds the generator: 3x4 and 7x0 give the same draws.
  Act(kActionRandom, {p(7, 0)}).ref("seed").value();
  Cell seven = call_action(kActionRandom, {p(1000, -1000)});
  Act(kActionRandom, {p(3, 4)}).ref("seed").value();
  Cell first = call_action(kActionRandom, {p(1000, -1000)});
  Act(kActionRandom, {p(3, 4)}).ref("seed").value();
  Cell again = call_action(kActionRandom, {p(1000, -1000)});
  EXPECT_EQ(mold_of(again), mold_of(first));
  EXPECT_EQ(mold_of(seven), mold_of(first));
  for (int n = 0; n < 50; n++) {
    Cell r = call_action(kActionRandom, {p(0, 5)});
    EXPECT_EQ(pair_x(&r), 0);
    EXPECT_GE(pair_y(&r), 1);
    EXPECT_LE(pair_y(&r), 5);
    r = Act(kActionRandom, {p(-3, 1)}).ref("secure").value();
    EXPECT_GE(pair_x(&r), -3);
    EXPECT_LE(pair_x(&r), -1);
    EXPECT_EQ(pair_y(&r), 1);
  }
}

TEST(PairTest, Producers) {
  StackSave save;
  Cell* b = test::block_of({});
  pair_make_at(b, 1, 2);
  EXPECT_EQ(mold_of(*b), "[1x2]");
  EXPECT_EQ(mold_of(*pair_push(-5, 6)), "-5x6");
  Cell c = kNoneCell;
  c.header |= kFlagNewLine;
  pair_init(&c, 7, 8);
  EXPECT_TRUE(c.is(kTypePair) && c.new_line());
  EXPECT_EQ(mold_of(c), "7x8");
}

}  // namespace
}  // namespace kiv
