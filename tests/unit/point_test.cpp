// point2D! and point3D!: make and to, text, arithmetic with every operand type
// and the integer! hand-over, compare, the unary actions, pick and path
// access, round and random, through the action entry points.
#include "datatypes/point.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "datatypes/logic.h"
#include "datatypes/pair.h"
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

constexpr float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::nanf("");

Cell p2(float x, float y) { return point2d_cell(x, y); }
Cell p3(float x, float y, float z) { return point3d_cell(x, y, z); }
Cell i(int32_t n) { return integer_cell(n); }
Cell f(double d) { return float_cell(d); }

uint32_t bits(float v) { return std::bit_cast<uint32_t>(v); }

TEST(PointTest, MakeAndTo) {
  struct Case {
    TypeId type;
    Cell spec;
    const char* result;
  } cases[] = {
      {kTypePoint2D, *test::block_of({i(1), i(2), i(3)}), "(1, 2)"},
      {kTypePoint2D, *test::block_of({f(0.5), i(-2)}), "(0.5, -2)"},
      {kTypePoint3D, *test::block_of({i(1), f(2.5), i(3)}), "(1, 2.5, 3)"},
      {kTypePoint2D, test::at_head(test::block_of({i(9), i(1), i(2)}), 1), "(1, 2)"},
      {kTypePoint3D, *test::block_of({i(1), i(2)}), "!malconstruct"},
      {kTypePoint2D, *test::block_of({i(1), *push_text("a")}), "!malconstruct"},
      {kTypePoint2D, *test::block_of({i(1), float_cell(0.5, kTypePercent)}), "!malconstruct"},
      {kTypePoint2D, i(5), "(5, 5)"},
      {kTypePoint3D, f(2.5), "(2.5, 2.5, 2.5)"},
      {kTypePoint2D, f(1e300), "(1.#INF, 1.#INF)"},
      {kTypePoint2D, pair_cell(3, -4), "(3, -4)"},
      {kTypePoint3D, pair_cell(1, 2), "(1, 2, 0)"},
      {kTypePoint2D, p2(1, 2), "(1, 2)"},
      {kTypePoint3D, p2(1, 2), "(1, 2, 0)"},
      {kTypePoint3D, p3(1, 2, 3), "(1, 2, 3)"},
      {kTypePoint2D, p3(1, 2, 3), "!bad-to-arg"},
      {kTypePoint2D, float_cell(0.5, kTypePercent), "!bad-to-arg"},
      {kTypePoint3D, kNoneCell, "!bad-to-arg"},
      // Text loads through the lexer.
      {kTypePoint2D, *push_text("(1, 2)"), "(1, 2)"},
      {kTypePoint3D, *push_text("(1, 2)"), "!bad-to-arg"},
      {kTypePoint3D, *push_text("(1, 2, 3)"), "(1, 2, 3)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome([&] { return *test::to(c.type, c.spec); }), c.result) << mold_of(c.spec);
    EXPECT_EQ(outcome([&] { return *test::make(c.type, c.spec); }), c.result) << mold_of(c.spec);
  }
  EXPECT_EQ(test::to(kTypePoint3D, p2(1, 2))->type(), kTypePoint3D);
}

TEST(PointTest, Text) {
  struct Case {
    Cell value;
    const char* text;
  } cases[] = {
      {p2(1.0f, 2.5f), "(1, 2.5)"},
      {p2(0.1f, 3), "(0.1, 3)"},
      {p2(1.0f / 3.0f, -2), "(0.3333333, -2)"},
      {p3(kInf, -kInf, kNaN), "(1.#INF, -1.#INF, 1.#NaN)"},
      {p3(123456.789f, 1e10f, 0), "(123456.8, 1e10, 0)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(form_of(c.value), c.text);
    EXPECT_EQ(mold_of(c.value), c.text);
  }
  // mold/all writes the shortest digits that give each 32-bit coordinate back.
  EXPECT_EQ(mold_of(p2(1.0f / 3.0f, -2), true), "(0.33333334, -2)");
  EXPECT_EQ(mold_of(p3(123456.789f, 1e10f, 0), true), "(123456.79, 1e10, 0)");
  EXPECT_EQ(mold_of(p3(kInf, -kInf, kNaN), true), "(1.#INF, -1.#INF, 1.#NaN)");
  EXPECT_EQ(form_of(p2(1, 2), 4), "(1, ");
}

TEST(PointTest, Arithmetic) {
  struct Case {
    ActionId action;
    Cell a, b;
    const char* result;
  } cases[] = {
      {kActionAdd, p2(1, 2), pair_cell(1, 1), "(2, 3)"},
      {kActionAdd, p2(1, 2), p2(0.5f, 0.25f), "(1.5, 2.25)"},
      {kActionSubtract, p3(1, 2, 3), p3(1, 1, 1), "(0, 1, 2)"},
      {kActionMultiply, p2(1, 2), f(2.5), "(2.5, 5)"},
      {kActionMultiply, p3(1, 2, 3), i(2), "(2, 4, 6)"},
      {kActionDivide, p2(1, -1), i(0), "(1.#INF, -1.#INF)"},
      {kActionDivide, p2(3, 4), p2(2, 8), "(1.5, 0.5)"},
      {kActionRemainder, p2(3, 4), i(2), "(1, 0)"},
      {kActionRemainder, p2(5.5f, -7.5f), f(2.0), "(1.5, -1.5)"},
      {kActionAdd, p2(1, 2), float_cell(0.5, kTypePercent), "(1.5, 2.5)"},
      {kActionAdd, p3(1, 2, 3), pair_cell(1, 1), "!invalid-type"},
      {kActionAdd, p2(1, 2), p3(1, 2, 3), "!invalid-type"},
      {kActionAdd, p3(1, 2, 3), p2(1, 2), "!invalid-type"},
      {kActionAdd, p2(1, 2), *push_text("a"), "!invalid-type"},
      {kActionAdd, p2(1, 2), char_cell('a'), "!invalid-type"},
      // integer! hands its point operations over: subtraction negates first.
      {kActionAdd, i(1), p2(1, 2), "(2, 3)"},
      {kActionMultiply, i(2), p3(1, 2, 3), "(2, 4, 6)"},
      {kActionSubtract, i(10), p2(1, 2), "(9, 8)"},
      {kActionDivide, i(10), p2(1, 2), "!not-related"},
      // float! hands over the operations that commute.
      {kActionMultiply, f(0.5), p2(1, 2), "(0.5, 1)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(outcome(c.action, {c.a, c.b}), c.result)
        << mold_of(c.a) << " " << int(c.action) << " " << mold_of(c.b);
}

// Coordinates are 32-bit floats: a float! factor is taken as one, and every
// result is rounded to one.
TEST(PointTest, ArithmeticRoundsToSinglePrecision) {
  Cell r = call_action(kActionMultiply, {p2(3, 1), f(0.1)});
  EXPECT_EQ(point_x(&r), float(3.0 * double(0.1f)));
  r = call_action(kActionAdd, {p2(1, 16777216.0f), f(1.0)});
  EXPECT_EQ(point_y(&r), 16777216.0f);  // 16777217 is not a float
  r = call_action(kActionMultiply, {p2(3e38f, 1), i(10)});
  EXPECT_EQ(point_x(&r), kInf);
}

TEST(PointTest, UnaryActions) {
  Cell r = call_action(kActionNegate, {p2(0, 1)});
  EXPECT_EQ(mold_of(r), "(0, -1)");
  EXPECT_EQ(bits(point_x(&r)), 0u);  // +0.0, not -0.0
  r = call_action(kActionNegate, {p3(-0.0f, kInf, -2)});
  EXPECT_EQ(bits(point_x(&r)), 0u);
  EXPECT_EQ(mold_of(r), "(0, -1.#INF, 2)");
  r = call_action(kActionAbsolute, {p3(-1.5f, -0.0f, -kNaN)});
  EXPECT_EQ(point_x(&r), 1.5f);
  EXPECT_EQ(bits(point_y(&r)), 0u);
  EXPECT_EQ(bits(point_z(&r)) >> 31, 0u);
  EXPECT_EQ(mold_of(call_action(kActionReverse, {p2(1, 2)})), "(2, 1)");
  EXPECT_EQ(mold_of(call_action(kActionReverse, {p3(1, 2, 3)})), "(3, 2, 1)");
}

TEST(PointTest, Compare) {
  struct Case {
    Cell a, b;
    CompareOp op;
    bool result;
  } cases[] = {
      {p2(0.1f, 0.2f), p2(0.1f, 0.2f), kCmpEqual, true},
      {p2(1, 2), pair_cell(1, 2), kCmpEqual, true},
      {p2(1, 2), p2(1, std::nextafter(2.0f, 3.0f)), kCmpEqual, true},  // within the tolerance
      {p2(1, 2), p2(1, std::nextafter(2.0f, 3.0f)), kCmpStrictEqual, false},
      {p2(1, 2), p2(1, 2.001f), kCmpEqual, false},
      {p2(0, -0.0f), p2(0, 0), kCmpEqual, true},
      {p2(0, -0.0f), p2(0, 0), kCmpStrictEqual, true},
      {p2(0, -0.0f), p2(0, 0), kCmpSame, false},
      {p2(kNaN, 0), p2(kNaN, 0), kCmpEqual, false},
      {p2(kNaN, 0), p2(kNaN, 0), kCmpStrictEqual, false},
      {p2(1, 2), p2(1, 3), kCmpLesser, true},
      {p2(2, 0), p2(1, 9), kCmpGreater, true},
      {p2(1, 9), pair_cell(2, 0), kCmpLesser, true},
      {p3(1, 2, 3), p3(1, 2, 4), kCmpLesser, true},
      {p3(1, 2, 3), p3(1, 2, 3), kCmpGreaterOrEqual, true},
      {p3(1, 2, 0), pair_cell(1, 2), kCmpEqual, false},  // not comparable
      {p3(1, 2, 0), p2(1, 2), kCmpEqual, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(compare(c.a, c.b, c.op), c.result)
        << mold_of(c.a) << " op " << int(c.op) << " " << mold_of(c.b);
  EXPECT_EQ(outcome([] { return logic_cell(compare(p3(1, 2, 3), pair_cell(1, 2), kCmpLesser)); }),
            "!invalid-compare");
}

TEST(PointTest, Pick) {
  struct Case {
    Cell point, index;
    const char* result;
  } cases[] = {
      {p2(1, 2.5f), word("y"), "2.5"},
      {p2(1, 2), i(1), "1.0"},
      {p3(1, 2, 3), i(3), "3.0"},
      {p3(1, 2, 3), word("Z"), "3.0"},
      {p2(1, 2), i(3), "!out-of-range"},
      {p2(1, 2), i(0), "!out-of-range"},
      {p2(1, 2), word("z"), "!cannot-use"},
      {p3(1, 2, 3), word("w"), "!cannot-use"},
      {p2(1, 2), *push_text("x"), "!out-of-range"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(outcome(kActionPick, {c.point, c.index}), c.result) << mold_of(c.index);
}

TEST(PointTest, PathAccess) {
  StackSave save;
  Cell* point = stack_push_value(p3(1, 2, 3));
  EXPECT_EQ(mold_of(eval_path(point, word("z"))), "3.0");
  EXPECT_EQ(mold_of(eval_path(point, i(2))), "2.0");
  Cell five = i(5), half = f(0.5);
  EXPECT_EQ(mold_of(eval_path(point, word("x"), &five)), "5");
  EXPECT_EQ(mold_of(eval_path(point, i(3), &half)), "0.5");
  EXPECT_EQ(mold_of(*point), "(5, 2, 0.5)");
  Cell* flat = stack_push_value(p2(1, 2));
  struct Case {
    Cell* point;
    Cell element;
    Cell value;  // none: get
    const char* error;
  } errors[] = {
      {flat, i(4), kNoneCell, "!invalid-path"},
      {flat, i(3), kNoneCell, "!invalid-path"},
      {flat, word("z"), kNoneCell, "!invalid-path"},
      {point, *push_text("x"), kNoneCell, "!invalid-path"},
      {flat, word("x"), *push_text("a"), "!invalid-type"},
      {flat, word("x"), pair_cell(1, 1), "!invalid-type"},
  };
  for (const Case& c : errors) {
    const Cell* value = c.value.is(kTypeNone) ? nullptr : &c.value;
    EXPECT_EQ(outcome([&] { return eval_path(c.point, c.element, value); }), c.error) << mold_of(c.element);
  }
  EXPECT_EQ(mold_of(*flat), "(1, 2)");
}

TEST(PointTest, Round) {
  struct Case {
    Cell value;
    const char* refinement;  // null: plain round
    Cell scale;              // none: no /to
    const char* result;
  } cases[] = {
      {p2(1.26f, 2.74f), nullptr, f(0.5), "(1.5, 2.5)"},
      {p2(1.26f, 2.74f), nullptr, pair_cell(1, 2), "(1, 2)"},
      {p2(1.5f, -1.5f), nullptr, kNoneCell, "(2, -2)"},
      {p2(1.5f, -1.5f), "even", kNoneCell, "(2, -2)"},
      {p2(2.5f, -2.5f), "floor", kNoneCell, "(2, -3)"},
      {p2(2.5f, -2.5f), "half-down", kNoneCell, "(2, -2)"},
      {p3(1.26f, 2.74f, 3.3f), nullptr, p3(0.5f, 1, 2), "(1.5, 3, 4)"},
      {p2(1.26f, 2.74f), nullptr, p3(0.5f, 1, 2), "(1.5, 3)"},
      {p2(1.26f, 2.74f), nullptr, p2(0.1f, 2), "(1.3, 2)"},
      {p2(1, 2), nullptr, make_cell(kTypeMoney), "!not-related"},
      {p2(1, 2), nullptr, *push_text("a"), "!expect-arg"},
  };
  for (const Case& c : cases) {
    Act round(kActionRound, {c.value});
    if (c.refinement) round.ref(c.refinement);
    if (!c.scale.is(kTypeNone)) round.ref("to", c.scale);
    EXPECT_EQ(outcome([&] { return round.value(); }), c.result)
        << mold_of(c.value) << " " << (c.refinement ? c.refinement : "") << " " << mold_of(c.scale);
  }
}

TEST(PointTest, Random) {
  EXPECT_TRUE(Act(kActionRandom, {p2(1, 2)}).ref("seed").value().is(kTypeUnset));
  Cell first = call_action(kActionRandom, {p3(10, 10, 10)});
  Act(kActionRandom, {p2(1, 2)}).ref("seed").value();
  Cell again = call_action(kActionRandom, {p3(10, 10, 10)});
  EXPECT_EQ(mold_of(again), mold_of(first));  // the same seed, the same draws
  for (int n = 0; n < 50; n++) {
    Cell r = call_action(kActionRandom, {p3(0, 10, -5)});
    EXPECT_EQ(bits(point_x(&r)), 0u);  // zero stays 0
    EXPECT_GE(point_y(&r), 0.0f);
    EXPECT_LE(point_y(&r), 10.0f);
    EXPECT_LE(point_z(&r), 0.0f);
    EXPECT_GE(point_z(&r), -5.0f);
    r = Act(kActionRandom, {p2(2, 0)}).ref("secure").value();
    EXPECT_LE(point_x(&r), 2.0f);
    EXPECT_EQ(point_y(&r), 0.0f);
  }
}

TEST(PointTest, Producers) {
  EXPECT_EQ(mold_of(*point2d_push(1, 2)), "(1, 2)");
  EXPECT_EQ(mold_of(*point3d_push(1, 2, 3)), "(1, 2, 3)");
  Cell c = pair_cell(5, 6);
  c.header |= kFlagNewLine;
  point3d_init(&c, 1, 2, 3);
  EXPECT_TRUE(c.is(kTypePoint3D) && c.new_line());
  point2d_init(&c, 4, 5);
  EXPECT_EQ(mold_of(c), "(4, 5)");
  Cell n = i(16777217);
  EXPECT_EQ(point_number_to_float32(&n), 16777216.0f);
  n = f(0.1);
  EXPECT_EQ(point_number_to_float32(&n), 0.1f);
}

}  // namespace
}  // namespace kiv
