// integer!: arithmetic and its float! results, the hand-over to other types,
// conversions, compare, power, round, random and text, through the action
// entry points.
#include "datatypes/integer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "kiv_test.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/random.h"

namespace kiv {
namespace {

using test::Act;
using test::call_action;
using test::catch_error;
using test::compare;
using test::form_of;
using test::integer_of;
using test::logic_of;
using test::mold_of;
using test::push_binary;
using test::push_text;
using test::ScopedHandlers;

constexpr int32_t kMin = INT32_MIN;
constexpr int32_t kMax = INT32_MAX;

Cell typed_float(TypeId t, double d) {
  Cell c = float_cell(d);
  c.set_type(t);
  return c;
}

// Expects [c] to be the integer [n].
void expect_integer(const Cell& c, int32_t n) {
  EXPECT_TRUE(c.is(kTypeInteger)) << "type " << int(c.type());
  EXPECT_EQ(integer_get(&c), n);
}

void expect_float(const Cell& c, double d) {
  EXPECT_TRUE(c.is(kTypeFloat)) << "type " << int(c.type());
  EXPECT_DOUBLE_EQ(float_get(&c), d);
}

TEST(IntegerTest, ArithmeticStaysIntegerOrBecomesFloat) {
  struct Case {
    ActionId action;
    int32_t a, b;
    bool is_float;
    double expected;
  } cases[] = {
      {kActionAdd, 5, -3, false, 2},
      {kActionAdd, kMax, 1, true, 2147483648.0},
      {kActionAdd, kMin, -1, true, -2147483649.0},
      {kActionSubtract, kMin, 1, true, -2147483649.0},
      {kActionSubtract, 0, kMin, true, 2147483648.0},
      {kActionSubtract, -1, kMax, false, kMin},
      {kActionMultiply, 65536, 65536, true, 4294967296.0},
      {kActionMultiply, kMin, -1, true, 2147483648.0},
      {kActionMultiply, -46340, 46340, false, -2147395600},
      {kActionDivide, 6, 2, false, 3},
      {kActionDivide, 7, 2, true, 3.5},
      {kActionDivide, -7, 2, true, -3.5},
      {kActionDivide, kMin, 1, false, kMin},
      {kActionDivide, kMin, 2, false, -1073741824},
      {kActionRemainder, -7, 2, false, -1},
      {kActionRemainder, 7, -2, false, 1},
      {kActionRemainder, kMin, 7, false, -2},
      {kActionOrT, 12, 3, false, 15},
      {kActionAndT, 12, 10, false, 8},
      {kActionXorT, 12, 10, false, 6},
      {kActionXorT, -1, kMax, false, kMin},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.action) << " " << c.a << " " << c.b);
    Cell r = call_action(c.action, {integer_cell(c.a), integer_cell(c.b)});
    if (c.is_float)
      expect_float(r, c.expected);
    else
      expect_integer(r, int32_t(c.expected));
  }
  // A char! operand counts as its code point.
  expect_integer(call_action(kActionAdd, {integer_cell(3), char_cell('A')}), 68);
}

TEST(IntegerTest, ArithmeticErrors) {
  ActionSlots none{};
  ScopedHandlers p(kTypePair, none), m(kTypeMoney, none), d(kTypeDate, none);
  struct Case {
    ActionId action;
    Cell a, b;
    ErrorId error;
  } cases[] = {
      {kActionDivide, integer_cell(7), integer_cell(0), kErrMathZeroDivide},
      {kActionRemainder, integer_cell(7), integer_cell(0), kErrMathZeroDivide},
      {kActionDivide, integer_cell(0), char_cell(0), kErrMathZeroDivide},
      {kActionDivide, integer_cell(kMin), integer_cell(-1), kErrMathOverflow},
      {kActionRemainder, integer_cell(kMin), integer_cell(-1), kErrMathOverflow},
      {kActionAdd, integer_cell(1), kNoneCell, kErrScriptInvalidType},
      {kActionAdd, integer_cell(1), kTrueCell, kErrScriptInvalidType},
      {kActionMultiply, integer_cell(1), datatype_cell(kTypeInteger), kErrScriptInvalidType},
      // The types integer! hands over to refuse what they have no handler for.
      {kActionAdd, integer_cell(1), pair_cell(3, 4), kErrScriptInvalidType},
      {kActionAdd, integer_cell(1), make_cell(kTypeMoney), kErrScriptInvalidType},
      {kActionAdd, integer_cell(1), make_cell(kTypeDate), kErrScriptInvalidType},
      // Operations without a swapped form.
      {kActionDivide, integer_cell(1), pair_cell(3, 4), kErrScriptNotRelated},
      {kActionRemainder, integer_cell(1), pair_cell(3, 4), kErrScriptNotRelated},
      {kActionSubtract, integer_cell(1), make_cell(kTypeTuple), kErrScriptNotRelated},
      {kActionDivide, integer_cell(1), make_cell(kTypeTuple), kErrScriptNotRelated},
      {kActionSubtract, integer_cell(1), make_cell(kTypeDate), kErrScriptNotRelated},
      {kActionMultiply, integer_cell(1), make_cell(kTypeDate), kErrScriptNotRelated},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.action) << " type " << int(c.b.type()));
    EXPECT_EQ(catch_error([&] { call_action(c.action, {c.a, c.b}); }), c.error);
  }
  // The refused operation names itself, not another action.
  catch_error([] { call_action(kActionMultiply, {integer_cell(1), make_cell(kTypeDate)}); });
  EXPECT_EQ(datatype_type(&last_raised_error().args[1]), kTypeInteger);
}

TEST(IntegerTest, DoMathWithoutResultCellTruncatesAndWraps) {
  EXPECT_EQ(integer_do_math(7, 2, kMathDivide, nullptr), 3);
  EXPECT_EQ(integer_do_math(-7, 2, kMathDivide, nullptr), -3);
  EXPECT_EQ(integer_do_math(kMax, 1, kMathAdd, nullptr), kMin);
  // An integer result goes into word 2 of the result cell, its header untouched.
  Cell c = char_cell(0);
  EXPECT_EQ(integer_do_math(60, 5, kMathAdd, &c), 65);
  EXPECT_TRUE(c.is(kTypeChar));
  EXPECT_EQ(char_get(&c), 65u);
}

// Stand-ins for the arithmetic of pair! and float!, to check what integer!
// hands over and in which operand order.
Cell* fake_pair_add(Cell* a, const BinaryArgs& args) {
  Cell* b = args.value2;
  EXPECT_TRUE(a->is(kTypePair));
  EXPECT_TRUE(b->is(kTypeInteger));
  pair_set_x(a, pair_x(a) + integer_get(b));
  pair_set_y(a, pair_y(a) + integer_get(b));
  return a;
}
Cell* fake_pair_multiply(Cell* a, const BinaryArgs& args) {
  Cell* b = args.value2;
  pair_set_x(a, pair_x(a) * integer_get(b));
  pair_set_y(a, pair_y(a) * integer_get(b));
  return a;
}
Cell* fake_pair_negate(Cell* a, const NoneArgs&) {
  pair_set_x(a, -pair_x(a));
  pair_set_y(a, -pair_y(a));
  return a;
}
Cell* fake_float_subtract(Cell* a, const BinaryArgs& args) {
  Cell* b = args.value2;
  EXPECT_TRUE(a->is(kTypeInteger));
  double r = double(integer_get(a)) - float_get(b);
  *a = float_cell(r);
  return a;
}
// Answers from a result cell that is not the first argument.
Cell* fake_date_add(Cell* a, const BinaryArgs& args) {
  Cell* b = args.value2;
  EXPECT_TRUE(a->is(kTypeDate));
  EXPECT_TRUE(b->is(kTypeInteger));
  return stack_push_value(date_cell(date_packed(a) + uint32_t(integer_get(b))));
}

TEST(IntegerTest, HandsOverToTheOtherOperandsType) {
  ActionSlots pair{};
  pair.add = fake_pair_add;
  pair.multiply = fake_pair_multiply;
  pair.negate = fake_pair_negate;
  ActionSlots flt{};
  flt.subtract = fake_float_subtract;
  ActionSlots date{};
  date.add = fake_date_add;
  ScopedHandlers p(kTypePair, pair), f(kTypeFloat, flt), d(kTypeDate, date);

  // 10 - 3x4 is -(3x4) + 10; 2 * 3x4 is 3x4 * 2.
  Cell r = call_action(kActionSubtract, {integer_cell(10), pair_cell(3, 4)});
  EXPECT_TRUE(r.is(kTypePair));
  EXPECT_EQ(pair_x(&r), 7);
  EXPECT_EQ(pair_y(&r), 6);
  r = call_action(kActionMultiply, {integer_cell(2), pair_cell(3, 4)});
  EXPECT_EQ(pair_x(&r), 6);
  EXPECT_EQ(pair_y(&r), 8);
  // float!, percent! and time! operands go to float!'s handler, integer first.
  expect_float(call_action(kActionSubtract, {integer_cell(1), float_cell(0.25)}), 0.75);
  expect_float(call_action(kActionSubtract, {integer_cell(1), typed_float(kTypePercent, 0.5)}), 0.5);
  EXPECT_EQ(catch_error([] {
              call_action(kActionAdd, {integer_cell(1), float_cell(1)});
            }),
            kErrScriptInvalidType);
  // 3 + a date is that date plus 3; the handler's result lands in the result slot.
  r = call_action(kActionAdd, {integer_cell(3), date_cell(100)});
  EXPECT_TRUE(r.is(kTypeDate));
  EXPECT_EQ(date_packed(&r), 103u);
}

TEST(IntegerTest, UnaryActions) {
  expect_integer(call_action(kActionAbsolute, {integer_cell(-5)}), 5);
  expect_integer(call_action(kActionAbsolute, {integer_cell(kMax)}), kMax);
  expect_integer(call_action(kActionNegate, {integer_cell(kMax)}), -kMax);
  expect_integer(call_action(kActionNegate, {integer_cell(0)}), 0);
  expect_integer(call_action(kActionComplement, {integer_cell(0)}), -1);
  expect_integer(call_action(kActionComplement, {integer_cell(kMax)}), kMin);
  EXPECT_EQ(catch_error([] { call_action(kActionNegate, {integer_cell(kMin)}); }), kErrMathOverflow);
  EXPECT_EQ(catch_error([] { call_action(kActionAbsolute, {integer_cell(kMin)}); }), kErrMathOverflow);
  for (int32_t n : {-3, -2, 0, 1, 4, kMin, kMax}) {
    bool even = n % 2 == 0;
    EXPECT_EQ(logic_of(call_action(kActionEvenQ, {integer_cell(n)})), even ? 1u : 0u) << n;
    EXPECT_EQ(logic_of(call_action(kActionOddQ, {integer_cell(n)})), even ? 0u : 1u) << n;
  }
}

TEST(IntegerTest, FormAndMoldAreDecimal) {
  struct Case {
    int32_t n;
    const char* text;
  } cases[] = {
      {0, "0"}, {7, "7"}, {-5, "-5"}, {1000000, "1000000"}, {kMax, "2147483647"}, {kMin, "-2147483648"}};
  for (const Case& c : cases) {
    EXPECT_EQ(form_of(integer_cell(c.n)), c.text);
    EXPECT_EQ(mold_of(integer_cell(c.n)), c.text);
    EXPECT_EQ(mold_of(integer_cell(c.n), true), c.text);
  }
  EXPECT_EQ(test::text_of(Act(kActionForm, {integer_cell(-123456)}).ref("part", integer_cell(3)).value()),
            "-12");
}

TEST(IntegerTest, MakeAndTo) {
  StackSave save;
  Cell integer = datatype_cell(kTypeInteger);
  struct Case {
    Cell spec;
    int32_t expected;
  } cases[] = {
      {integer_cell(-9), -9},
      {char_cell(65), 65},
      {float_cell(2.9), 2},
      {float_cell(-2.9), -2},
      {float_cell(2147483647.0), kMax},
      {float_cell(-2147483648.0), kMin},
      {typed_float(kTypePercent, 0.5), 0},
      {typed_float(kTypeTime, 1.5), 2},
      {typed_float(kTypeTime, -1.5), -1},
      // Half up on both sides of zero; the range is that of the rounded seconds.
      {typed_float(kTypeTime, -2.0), -2},
      {typed_float(kTypeTime, -1.2), -1},
      {typed_float(kTypeTime, -1.7), -2},
      {typed_float(kTypeTime, 0.49999999999999994), 0},
      {typed_float(kTypeTime, 2147483647.4), kMax},
      {typed_float(kTypeTime, -2147483648.5), kMin},
      {*push_text("-2147483648"), kMin},
      {*push_text("2147483647"), kMax},
      {*push_text("+12"), 12},
      {*push_text("1'000"), 1000},
      {*push_binary({0x01}), 1},
      {*push_binary({0x01, 0x02}), 258},
      {*push_binary({0xFF, 0xFF, 0xFF, 0xFF}), -1},
      {*push_binary({1, 2, 3, 4, 5}), 0x01020304},
      {*push_binary({1, 2, 3, 4, 5}, 2), 0x030405},
      {*push_binary({}), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << int(c.spec.type()) << " expected " << c.expected);
    expect_integer(call_action(kActionTo, {integer, c.spec}), c.expected);
    expect_integer(call_action(kActionMake, {integer, c.spec}), c.expected);
  }
  // The text is read from the string's position.
  Cell tail = *push_text("x-42");
  tail.set_head(1);
  expect_integer(call_action(kActionTo, {integer, tail}), -42);
  // Only make takes a logic!.
  expect_integer(call_action(kActionMake, {integer, kTrueCell}), 1);
  expect_integer(call_action(kActionMake, {integer, kFalseCell}), 0);
  EXPECT_EQ(catch_error([&] { call_action(kActionTo, {integer, kTrueCell}); }), kErrScriptBadToArg);
}

TEST(IntegerTest, MakeAndToErrors) {
  StackSave save;
  Cell integer = datatype_cell(kTypeInteger);
  struct Case {
    Cell spec;
    ErrorId error;
  } cases[] = {
      {float_cell(2147483647.5), kErrScriptTypeLimit},
      {float_cell(-2147483648.9), kErrScriptTypeLimit},
      {float_cell(NAN), kErrScriptTypeLimit},
      {float_cell(INFINITY), kErrScriptTypeLimit},
      {typed_float(kTypePercent, 1e10), kErrScriptTypeLimit},
      {typed_float(kTypeTime, 3e9), kErrScriptTypeLimit},
      {typed_float(kTypeTime, 2147483647.5), kErrScriptTypeLimit},
      {typed_float(kTypeTime, -2147483648.7), kErrScriptTypeLimit},
      {typed_float(kTypeTime, INFINITY), kErrScriptTypeLimit},
      {typed_float(kTypeTime, NAN), kErrScriptTypeLimit},
      {*push_text("12a"), kErrScriptBadToArg},
      {*push_text("2147483648"), kErrScriptBadToArg},
      {*push_text("-2147483649"), kErrScriptBadToArg},
      {*push_text("99999999999999999999"), kErrScriptBadToArg},
      {*push_text(""), kErrScriptBadToArg},
      {*push_text("-"), kErrScriptBadToArg},
      {*push_text(" 1"), kErrScriptBadToArg},
      {*push_text("1.5"), kErrScriptBadToArg},
      {kNoneCell, kErrScriptBadToArg},
      {datatype_cell(kTypeBlock), kErrScriptBadToArg},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << int(c.spec.type()));
    EXPECT_EQ(catch_error([&] { call_action(kActionTo, {integer, c.spec}); }), c.error);
  }
  // bad-to-arg names integer! and the value converted.
  catch_error([&] { call_action(kActionTo, {integer, kNoneCell}); });
  EXPECT_EQ(datatype_type(&last_raised_error().args[0]), kTypeInteger);
  EXPECT_TRUE(last_raised_error().args[1].is(kTypeNone));
}

// An issue! of [name]. Interning runs with the collector paused: symbol_make
// does not yet survive the stress build's collection at every allocation.
Cell issue_cell(const char* name) {
  CollectorPause pause;
  return word_cell(kTypeIssue, 0, symbol_make(name), -1);
}

TEST(IntegerTest, ToFromIssueReadsHexadecimal) {
  Cell integer = datatype_cell(kTypeInteger);
  struct Case {
    const char* name;
    int32_t expected;
  } cases[] = {{"FF", 255}, {"ffffffff", -1}, {"7fffFFFF", kMax}, {"0", 0}, {"00000010", 16}};
  for (const Case& c : cases)
    expect_integer(call_action(kActionTo, {integer, issue_cell(c.name)}), c.expected);
  for (const char* bad : {"123456789", "FG", "-1", "1 "}) {
    EXPECT_EQ(catch_error([&] {
                call_action(kActionTo, {integer, issue_cell(bad)});
              }),
              kErrScriptInvalidData)
        << bad;
    EXPECT_TRUE(last_raised_error().args[0].is(kTypeIssue));
  }
}

int fake_float_compare(Cell* a, const CompareArgs& args) {
  Cell* b = args.value2;
  EXPECT_TRUE(a->is(kTypeFloat));
  double x = float_get(a), y = float_get(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

TEST(IntegerTest, Compare) {
  struct Case {
    Cell a, b;
    CompareOp op;
    bool truth;
  } cases[] = {
      {integer_cell(1), integer_cell(1), kCmpEqual, true},
      {integer_cell(1), integer_cell(2), kCmpLesser, true},
      {integer_cell(kMin), integer_cell(kMax), kCmpLesser, true},
      {integer_cell(kMax), integer_cell(kMin), kCmpGreater, true},
      {integer_cell(-1), integer_cell(0), kCmpLesserOrEqual, true},
      {integer_cell(3), integer_cell(3), kCmpGreaterOrEqual, true},
      {integer_cell(3), integer_cell(3), kCmpStrictEqual, true},
      {integer_cell(65), char_cell('A'), kCmpEqual, true},
      {integer_cell(65), char_cell('A'), kCmpStrictEqual, false},
      {integer_cell(65), char_cell('A'), kCmpFindEqual, false},
      {integer_cell(64), char_cell('A'), kCmpLesser, true},
      {integer_cell(1), kNoneCell, kCmpEqual, false},
      {integer_cell(1), kNoneCell, kCmpNotEqual, true},
      {integer_cell(1), float_cell(1.0), kCmpStrictEqual, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << integer_get(&c.a) << " op " << int(c.op) << " type "
                                    << int(c.b.type()));
    EXPECT_EQ(compare(c.a, c.b, c.op), c.truth);
  }
  EXPECT_EQ(catch_error([] { compare(integer_cell(1), kNoneCell, kCmpLesser); }), kErrScriptInvalidCompare);
  // With a float! operand the integer becomes a double for float!'s compare.
  ActionSlots flt{};
  flt.compare = fake_float_compare;
  ScopedHandlers f(kTypeFloat, flt);
  EXPECT_TRUE(compare(integer_cell(1), float_cell(1.0), kCmpEqual));
  EXPECT_FALSE(compare(integer_cell(1), float_cell(1.0), kCmpStrictEqual));
  EXPECT_TRUE(compare(integer_cell(1), float_cell(1.5), kCmpLesser));
  EXPECT_TRUE(compare(integer_cell(kMax), typed_float(kTypeTime, 3e9), kCmpLesser));
}

TEST(IntegerTest, Power) {
  struct Case {
    int32_t base;
    Cell exponent;
    bool is_float;
    double expected;
  } cases[] = {
      {2, integer_cell(10), false, 1024},
      {0, integer_cell(0), false, 1},
      {-3, integer_cell(3), false, -27},
      {-2, integer_cell(31), false, kMin},
      {1, integer_cell(kMax), false, 1},
      {-1, integer_cell(kMax), false, -1},
      {2, integer_cell(31), true, 2147483648.0},
      {65536, integer_cell(2), true, 4294967296.0},
      {46341, integer_cell(2), true, 2147488281.0},
      {10, integer_cell(12), true, 1e12},
      {2, integer_cell(-1), true, 0.5},
      {4, float_cell(0.5), true, 2.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.base << " ** " << integer_get(&c.exponent));
    Cell r = call_action(kActionPower, {integer_cell(c.base), c.exponent});
    if (c.is_float)
      expect_float(r, c.expected);
    else
      expect_integer(r, int32_t(c.expected));
  }
  EXPECT_TRUE(std::isinf(test::float_of(call_action(kActionPower, {integer_cell(0), integer_cell(-1)}))));
  EXPECT_EQ(catch_error([] {
              call_action(kActionPower, {integer_cell(2), kNoneCell});
            }),
            kErrScriptExpectArg);
  EXPECT_EQ(catch_error([] {
              call_action(kActionPower, {integer_cell(2), char_cell(2)});
            }),
            kErrScriptExpectArg);
}

// round[/to scale] with the refinements named in [refs] ("down floor").
Cell round_of(int32_t n, const Cell* scale, const char* refs = "") {
  Act act(kActionRound, {integer_cell(n)});
  if (scale) act.ref("to", *scale);
  std::istringstream words(refs);
  for (std::string word; words >> word;) act.ref(word.c_str());
  return act.value();
}

TEST(IntegerTest, Round) {
  struct Case {
    int32_t n, scale;
    const char* refs;
    int32_t expected;
  } cases[] = {
      {17, 5, "", 15},
      {18, 5, "", 20},
      {-17, 5, "", -15},
      {-18, 5, "", -20},
      {15, 10, "", 20},
      {-15, 10, "", -20},
      {25, 10, "even", 20},
      {35, 10, "even", 40},
      {-25, 10, "even", -20},
      {15, 10, "half-down", 10},
      {-15, 10, "half-down", -10},
      {-15, 10, "half-ceiling", -10},
      {15, 10, "half-ceiling", 20},
      {-11, 5, "floor", -15},
      {11, 5, "floor", 10},
      {11, 5, "ceiling", 15},
      {-11, 5, "ceiling", -10},
      {19, 5, "down", 15},
      {-19, 5, "down", -15},
      {19, -5, "", 20},
      {7, 0, "", 7},
      {40, 10, "ceiling", 40},
      // The first refinement in the order down, floor, ceiling decides.
      {-11, 5, "down floor", -10},
      {-11, 5, "floor ceiling", -15},
      // Results at the ends of the range stand when they fit.
      {kMax, 10, "floor", 2147483640},
      {kMax, 10, "down", 2147483640},
      {-2147483647, 2, "", kMin},
      {-2147483647, 10, "ceiling", -2147483640},
      {kMin, 7, "", -2147483646},
      {kMin, 8, "ceiling", kMin},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.n << " to " << c.scale << " refs " << c.refs);
    Cell scale = integer_cell(c.scale);
    expect_integer(round_of(c.n, &scale, c.refs), c.expected);
  }
  // Without /to the scale is 1: integers are already round.
  expect_integer(round_of(-7, nullptr, "ceiling"), -7);
  struct Error {
    int32_t n;
    Cell scale;
    const char* refs;
    ErrorId error;
  } errors[] = {
      {kMax, integer_cell(10), "", kErrMathOverflow},
      {kMax, integer_cell(10), "ceiling", kErrMathOverflow},
      {-2147483647, integer_cell(10), "", kErrMathOverflow},
      {-2147483647, integer_cell(10), "floor", kErrMathOverflow},
      {5, integer_cell(kMin), "", kErrMathOverflow},
      {5, make_cell(kTypeMoney), "", kErrScriptNotRelated},
      {5, float_cell(0.5), "", kErrScriptInvalidType},
  };
  ScopedHandlers no_float(kTypeFloat, ActionSlots{});
  for (const Error& e : errors) {
    SCOPED_TRACE(testing::Message() << e.n << " scale type " << int(e.scale.type()));
    EXPECT_EQ(catch_error([&] { round_of(e.n, &e.scale, e.refs); }), e.error);
  }
}

TEST(IntegerTest, Random) {
  expect_integer(call_action(kActionRandom, {integer_cell(0)}), 0);
  bool seen_low = false, seen_high = false;
  for (int i = 0; i < 2000; i++) {
    int32_t n = integer_of(call_action(kActionRandom, {integer_cell(6)}));
    ASSERT_TRUE(n >= 1 && n <= 6) << n;
    seen_low |= n == 1;
    seen_high |= n == 6;
    int32_t m = integer_of(Act(kActionRandom, {integer_cell(-3)}).ref("secure").value());
    ASSERT_TRUE(m >= -3 && m <= -1) << m;
  }
  EXPECT_TRUE(seen_low && seen_high);
  // /seed gives unset! and restarts the sequence.
  EXPECT_TRUE(Act(kActionRandom, {integer_cell(5)}).ref("seed").value().is(kTypeUnset));
  int32_t first = integer_of(call_action(kActionRandom, {integer_cell(kMax)}));
  Act(kActionRandom, {integer_cell(5)}).ref("seed").value();
  EXPECT_EQ(integer_of(call_action(kActionRandom, {integer_cell(kMax)})), first);
}

TEST(IntegerTest, Helpers) {
  EXPECT_STREQ(integer_to_text(kMin), "-2147483648");
  EXPECT_STREQ(integer_to_text(-10), "-10");
  EXPECT_EQ(integer_sign(-4), -1);
  EXPECT_EQ(integer_sign(0), 0);
  EXPECT_EQ(integer_abs(-4), 4);
  EXPECT_EQ(catch_error([] { integer_abs(kMin); }), kErrMathOverflow);
  Cell c = make_cell(kTypeNone);
  c.header |= kFlagNewLine;
  integer_set_cell(&c, 42);
  EXPECT_TRUE(c.is(kTypeInteger) && c.new_line());
  EXPECT_EQ(integer_get(&c), 42);
  Cell edge = float_cell(-2147483648.0);
  EXPECT_FALSE(integer_float_out_of_range_q(&edge));
  edge = float_cell(-2147483648.5);
  EXPECT_TRUE(integer_float_out_of_range_q(&edge));
}

}  // namespace
}  // namespace kiv
