// time!: text with its seconds carry, make and to, fields through path access
// and pick (negative times included), arithmetic over float!'s, round and
// even?/odd?, and the actions time! takes from float! or refuses.
#include "datatypes/time.h"

#include <gtest/gtest.h>

#include <cmath>

#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "kiv_test.h"

namespace kiv {
namespace {

using test::Act;
using test::block_of;
using test::call_action;
using test::catch_error;
using test::form_of;
using test::mold_of;
using test::push_text;
using test::ScopedHandlers;

constexpr double kHour = 3600, kMinute = 60;

void expect_time(const Cell& c, double seconds) {
  EXPECT_TRUE(c.is(kTypeTime)) << "type " << int(c.type());
  EXPECT_DOUBLE_EQ(time_get(&c), seconds);
}

// ---------------------------------------------------------------- text

TEST(TimeTest, FormAndMold) {
  struct Case {
    double seconds;
    const char* text;
  } cases[] = {
      {0, "0:00:00"},
      {1 * kHour + 30 * kMinute, "1:30:00"},
      {1 * kHour + 2 * kMinute + 3.5, "1:02:03.5"},
      {-1, "-0:00:01"},
      {-(1 * kHour + 30 * kMinute + 15), "-1:30:15"},
      {100 * kHour, "100:00:00"},
      {12.3456789, "0:00:12.3457"},
      {0.0000001, "0:00:00"},
      {0.5, "0:00:00.5"},
      {5.5, "0:00:05.5"},
      {0.000002, "0:00:00.000002"},
      // Seconds that round to 60 carry, into the hours too.
      {59.9999999, "0:01:00"},
      {3599.9999999, "1:00:00"},
      {3599.9999999999995, "1:00:00"},
      {-(2 * kHour - 0.0000004), "-2:00:00"},
      // Hours past int32.
      {1e13, "2777777777:46:40"},
      {INFINITY, "1.#INF"},
      {-INFINITY, "-1.#INF"},
      {NAN, "1.#NaN"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(form_of(time_cell(c.seconds)), c.text);
    EXPECT_EQ(mold_of(time_cell(c.seconds)), c.text);
  }
  // mold/all writes the seconds' shortest exact digits.
  struct Exact {
    double seconds;
    const char* text;
  } exact[] = {
      {12.3456789, "0:00:12.3456789"},
      {0.0000001, "0:00:00.0000001"},
      {59.9999999, "0:00:59.9999999"},
      {-1.5, "-0:00:01.5"},
      {0, "0:00:00"},
      {5415, "1:30:15"},
  };
  for (const Exact& c : exact) EXPECT_EQ(test::mold(time_cell(c.seconds), true, true, true), c.text);
  EXPECT_EQ(form_of(time_cell(5415), 4), "1:30");
}

TEST(TimeTest, FormatReturnsTheBudgetLeft) {
  StackSave save;
  Cell* buffer = string_make_at(stack_push(), 16);
  EXPECT_EQ(time_format(-5415.5, buffer, 100), 100 - 10);
  EXPECT_EQ(test::text_of(*buffer), "-1:30:15.5");
}

// ---------------------------------------------------------------- make and to

TEST(TimeTest, MakeAndTo) {
  StackSave save;
  Cell* nine = block_of({integer_cell(9), integer_cell(1), integer_cell(30)});
  struct Case {
    Cell spec;
    double seconds;
  } cases[] = {
      {integer_cell(90), 90},
      {float_cell(1.5), 1.5},
      {float_cell(-2.25), -2.25},
      {float_cell(0.5, kTypePercent), 0.5},
      {time_cell(-5415), -5415},
      {*block_of({integer_cell(1), integer_cell(30), float_cell(15.5)}), 5415.5},
      {*block_of({integer_cell(1), integer_cell(30), integer_cell(15)}), 5415},
      {*block_of({integer_cell(1), integer_cell(30)}), 5400},
      {*block_of({integer_cell(-1), integer_cell(30)}), -5400},
      {*block_of({integer_cell(-1), integer_cell(30), float_cell(0.5)}), -5400.5},
      {*block_of({integer_cell(2)}), 7200},
      {*block_of({integer_cell(0), integer_cell(75)}), 4500},
      {*block_of({}), 0},
      {*block_of({integer_cell(0), integer_cell(1)}, kTypeParen), 60},
      {*block_of({integer_cell(0), integer_cell(1)}, kTypeHash), 60},
      // From the block's position.
      {test::at_head(nine, 1), 5400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << int(c.spec.type()) << " expected " << c.seconds);
    expect_time(call_action(kActionTo, {datatype_cell(kTypeTime), c.spec}), c.seconds);
    expect_time(call_action(kActionMake, {datatype_cell(kTypeTime), c.spec}), c.seconds);
    // An example value stands for its type.
    expect_time(call_action(kActionTo, {time_cell(7), c.spec}), c.seconds);
  }
}

TEST(TimeTest, MakeAndToErrors) {
  StackSave save;
  Cell* four = block_of({integer_cell(9), integer_cell(1), integer_cell(2), integer_cell(3)});
  Cell specs[] = {
      *block_of({integer_cell(1), integer_cell(-30)}),
      *block_of({integer_cell(1), integer_cell(30), integer_cell(-5)}),
      *block_of({integer_cell(1), integer_cell(30), float_cell(-0.5)}),
      *block_of({float_cell(1.5)}),
      *block_of({integer_cell(1), float_cell(30.5)}),
      *block_of({integer_cell(1), integer_cell(2), time_cell(3)}),
      *block_of({integer_cell(1), integer_cell(2), kNoneCell}),
      *four,
      kNoneCell,
      char_cell('a'),
      kTrueCell,
      datatype_cell(kTypeTime),
  };
  for (const Cell& spec : specs) {
    SCOPED_TRACE(testing::Message() << "type " << int(spec.type()));
    EXPECT_EQ(catch_error([&] {
                call_action(kActionTo, {datatype_cell(kTypeTime), spec});
              }),
              kErrScriptBadToArg);
    EXPECT_EQ(catch_error([&] {
                call_action(kActionMake, {datatype_cell(kTypeTime), spec});
              }),
              kErrScriptBadToArg);
    EXPECT_EQ(datatype_type(&last_raised_error().args[0]), kTypeTime);
    EXPECT_EQ(last_raised_error().args[1].type(), spec.type());
  }
  // Three values after the position are enough.
  expect_time(call_action(kActionTo, {datatype_cell(kTypeTime), test::at_head(four, 1)}), 3723);
  // Text is read as one value, which must be a time!.
  expect_time(call_action(kActionTo, {datatype_cell(kTypeTime), *push_text("1:30")}), 5400);
  EXPECT_EQ(catch_error([] {
              call_action(kActionTo, {datatype_cell(kTypeTime), *push_text("1x30")});
            }),
            kErrScriptBadToArg);
}

// ---------------------------------------------------------------- fields

class TimePathTest : public testing::Test {
 protected:
  StackSave save_;

  // One path step on a copy of [time]: get when [value] is null. A set
  // leaves the changed time in *[changed].
  static Cell step(double time, Cell element, const Cell* value = nullptr, double* changed = nullptr) {
    Cell* parent = stack_push_value(time_cell(time));
    EvalPathArgs args;
    args.element = stack_push_value(element);
    args.value = value ? stack_push_value(*value) : nullptr;
    args.path = stack_push_value(make_cell(kTypeNone));
    Cell r = *action_eval_path(parent, args);
    EXPECT_TRUE(parent->is(kTypeTime));
    if (changed) *changed = time_get(parent);
    return r;
  }
  // The time after setting [field] to [value].
  static double set(double time, Cell field, Cell value) {
    double changed = NAN;
    Cell r = step(time, field, &value, &changed);
    EXPECT_EQ(r.header, value.header);
    return changed;
  }
  static Cell pick(double time, Cell index) { return call_action(kActionPick, {time_cell(time), index}); }
};

TEST_F(TimePathTest, GetByIndexAndWord) {
  struct Case {
    double time;
    int32_t hour, minute;
    double second;
  } cases[] = {
      {5415.5, 1, 30, 15.5},          {-5415, -1, 30, -15},
      {-1800.25, 0, 30, -0.25},       {0, 0, 0, 0},
      {100 * kHour + 59, 100, 0, 59}, {3599.9999999999995, 0, 59, 3599.9999999999995 - 3540},
  };
  const char* hour[] = {"hour", "HOUR", "Hour"};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.time);
    for (const char* h : hour) {
      Cell r = step(c.time, test::word(h));
      EXPECT_TRUE(r.is(kTypeInteger));
      EXPECT_EQ(integer_get(&r), c.hour);
    }
    Cell minute = step(c.time, test::word("minute")), second = step(c.time, test::word("Second"));
    EXPECT_EQ(integer_get(&minute), c.minute);
    EXPECT_TRUE(second.is(kTypeFloat));
    EXPECT_DOUBLE_EQ(float_get(&second), c.second);
    // Indexes 1-3 and pick read the same fields.
    for (int i = 1; i <= 3; i++) {
      Cell by_index = step(c.time, integer_cell(i));
      Cell picked = pick(c.time, integer_cell(i));
      Cell by_word = step(c.time, test::word(i == 1 ? "hour" : i == 2 ? "minute" : "second"));
      EXPECT_EQ(by_index.header, by_word.header);
      EXPECT_EQ(picked.header, by_word.header);
      EXPECT_EQ(float_get(&by_index), float_get(&by_word));
      EXPECT_EQ(float_get(&picked), float_get(&by_word));
    }
    Cell picked = pick(c.time, test::word("minute"));
    EXPECT_EQ(integer_get(&picked), c.minute);
  }
}

TEST_F(TimePathTest, BadSelectors) {
  Cell selectors[] = {integer_cell(0),
                      integer_cell(4),
                      integer_cell(-1),
                      test::word("minutes"),
                      test::word("hour", kTypeRefinement),
                      char_cell(1),
                      float_cell(1)};
  for (const Cell& s : selectors) {
    SCOPED_TRACE(testing::Message() << "type " << int(s.type()));
    EXPECT_EQ(catch_error([&] { step(60, s); }), kErrScriptInvalidPath);
    EXPECT_EQ(last_raised_error().args[1].header, s.header);
    Cell one = integer_cell(1);
    EXPECT_EQ(catch_error([&] { step(60, s, &one); }), kErrScriptInvalidPath);
    EXPECT_EQ(catch_error([&] { pick(60, s); }), kErrScriptOutOfRange);
    EXPECT_EQ(last_raised_error().args[0].header, s.header);
  }
  // A field that does not fit an integer!.
  EXPECT_EQ(catch_error([] { step(1e13, test::word("hour")); }), kErrScriptTypeLimit);
  EXPECT_EQ(catch_error([] { step(INFINITY, test::word("minute")); }), kErrScriptTypeLimit);
  EXPECT_EQ(catch_error([] { pick(NAN, integer_cell(1)); }), kErrScriptTypeLimit);
  EXPECT_EQ(time_get_minutes(1e13), 46);
}

TEST_F(TimePathTest, SetFields) {
  Cell hour = test::word("hour"), minute = test::word("minute"), second = test::word("second");
  struct Case {
    double time;
    Cell field;
    Cell value;
    double expected;
  } cases[] = {
      {5415, minute, integer_cell(45), 1 * kHour + 45 * kMinute + 15},
      {5415, hour, integer_cell(3), 3 * kHour + 30 * kMinute + 15},
      {5415, second, float_cell(10.5), 1 * kHour + 30 * kMinute + 10.5},
      {5415, integer_cell(3), integer_cell(0), 1 * kHour + 30 * kMinute},
      {5415, minute, integer_cell(75), 2 * kHour + 15 * kMinute + 15},
      {5415, hour, integer_cell(-1), -(30 * kMinute - 15)},
      // A negative time keeps its sign; hour and second are read with it.
      {-5415, minute, integer_cell(45), -(1 * kHour + 45 * kMinute + 15)},
      {-5415, hour, integer_cell(-2), -(2 * kHour + 30 * kMinute + 15)},
      {-5415, second, integer_cell(-20), -(1 * kHour + 30 * kMinute + 20)},
      {-5415, integer_cell(2), integer_cell(0), -(1 * kHour + 15)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.time << " field " << int(c.field.type()) << " expected "
                                    << c.expected);
    EXPECT_DOUBLE_EQ(set(c.time, c.field, c.value), c.expected);
  }
}

// Writing back the value a field reads never changes the time, whatever its sign.
TEST_F(TimePathTest, SettingAFieldToItsValueKeepsTheTime) {
  double times[] = {5415.5, -5415, -5415.75,  -1800, -0.5, -3599.9999999, 3599.9999999999995,
                    -7200,  0,     1e9 + 0.25};
  for (double t : times) {
    for (int field = 1; field <= 3; field++) {
      SCOPED_TRACE(testing::Message() << t << " field " << field);
      Cell value = step(t, integer_cell(field));
      EXPECT_EQ(set(t, integer_cell(field), value), t);
      double d = value.is(kTypeInteger) ? double(integer_get(&value)) : float_get(&value);
      EXPECT_EQ(time_set_field(t, TimeField(field), d), t);
    }
  }
}

TEST_F(TimePathTest, SetValueTypes) {
  struct Case {
    const char* field;
    Cell value;
  } cases[] = {
      {"hour", float_cell(2.5)},  {"minute", float_cell(1)}, {"hour", time_cell(3600)},
      {"second", time_cell(5)},   {"second", kNoneCell},     {"minute", float_cell(1, kTypePercent)},
      {"second", char_cell('a')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    double changed = -1;
    EXPECT_EQ(catch_error([&] { step(5415, test::word(c.field), &c.value, &changed); }),
              kErrScriptInvalidArg);
    EXPECT_EQ(last_raised_error().args[0].header, c.value.header);
  }
  // second takes an integer! too.
  EXPECT_DOUBLE_EQ(set(5415, test::word("second"), integer_cell(0)), 5400);
}

// ---------------------------------------------------------------- arithmetic

// Answers from a result cell that is not the first argument.
Cell* fake_date_add(Cell* a, const BinaryArgs& args) {
  EXPECT_TRUE(a->is(kTypeDate));
  EXPECT_TRUE(args.value2->is(kTypeTime));
  return stack_push_value(date_cell(date_packed(a) + uint32_t(time_get(args.value2))));
}

TEST(TimeTest, Arithmetic) {
  struct Case {
    ActionId action;
    Cell left, right;
    Cell expected;
  } cases[] = {
      {kActionAdd, time_cell(3600), time_cell(1800), time_cell(5400)},
      {kActionAdd, time_cell(3600), integer_cell(30), time_cell(3630)},
      {kActionAdd, time_cell(3600), float_cell(0.5), time_cell(3600.5)},
      {kActionSubtract, time_cell(3600), time_cell(5400), time_cell(-1800)},
      {kActionMultiply, time_cell(3600), integer_cell(2), time_cell(7200)},
      {kActionMultiply, integer_cell(2), time_cell(3600), time_cell(7200)},
      {kActionDivide, time_cell(36000), integer_cell(2), time_cell(18000)},
      // A time over a time is their ratio.
      {kActionDivide, time_cell(3600), time_cell(1800), float_cell(2)},
      {kActionDivide, time_cell(1), time_cell(0), float_cell(INFINITY)},
      {kActionDivide, time_cell(60), integer_cell(0), time_cell(INFINITY)},
      {kActionRemainder, time_cell(60), integer_cell(7), time_cell(4)},
      {kActionRemainder, time_cell(-60), time_cell(7), time_cell(-4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.action) << " " << int(c.left.type()) << " "
                                    << int(c.right.type()));
    Cell r = call_action(c.action, {c.left, c.right});
    EXPECT_EQ(r.type(), c.expected.type());
    EXPECT_DOUBLE_EQ(float_get(&r), float_get(&c.expected));
  }
}

TEST(TimeTest, ArithmeticErrors) {
  struct Case {
    ActionId action;
    Cell right;
    ErrorId error;
  } cases[] = {
      {kActionMultiply, time_cell(1800), kErrScriptNotRelated},
      {kActionSubtract, date_cell(100), kErrScriptNotRelated},
      {kActionMultiply, date_cell(100), kErrScriptInvalidType},
      {kActionDivide, date_cell(100), kErrScriptInvalidType},
      {kActionAdd, char_cell('a'), kErrScriptInvalidType},
      {kActionAdd, kNoneCell, kErrScriptInvalidType},
      {kActionAdd, make_cell(kTypePair), kErrScriptInvalidType},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.action) << " " << int(c.right.type()));
    EXPECT_EQ(catch_error([&] { call_action(c.action, {time_cell(3600), c.right}); }), c.error);
  }
  // not-related names the action and time!.
  catch_error([] { call_action(kActionMultiply, {time_cell(1), time_cell(2)}); });
  EXPECT_EQ(symbol_name(test::symbol_of(last_raised_error().args[0])), "multiply");
  EXPECT_EQ(datatype_type(&last_raised_error().args[1]), kTypeTime);
  catch_error([] { call_action(kActionSubtract, {time_cell(1), date_cell(1)}); });
  EXPECT_EQ(symbol_name(test::symbol_of(last_raised_error().args[0])), "subtract");
}

TEST(TimeTest, PlusADateIsADate) {
  ActionSlots date{};
  date.add = fake_date_add;
  ScopedHandlers d(kTypeDate, date);
  Cell r = call_action(kActionAdd, {time_cell(3), date_cell(100)});
  EXPECT_TRUE(r.is(kTypeDate));
  EXPECT_EQ(date_packed(&r), 103u);
  // Without date! arithmetic the date is refused.
  ScopedHandlers none(kTypeDate, ActionSlots{});
  EXPECT_EQ(catch_error([] {
              call_action(kActionAdd, {time_cell(3), date_cell(100)});
            }),
            kErrScriptInvalidType);
}

TEST(TimeTest, InheritedFromFloat) {
  expect_time(call_action(kActionNegate, {time_cell(90)}), -90);
  expect_time(call_action(kActionAbsolute, {time_cell(-90)}), 90);
  EXPECT_TRUE(test::compare(time_cell(3600), time_cell(3600), kCmpEqual));
  EXPECT_TRUE(test::compare(time_cell(3600), time_cell(3660), kCmpLesser));
  EXPECT_TRUE(Act(kActionRandom, {time_cell(60)}).value().is(kTypeTime));
  EXPECT_TRUE(Act(kActionRandom, {time_cell(60)}).ref("seed").value().is(kTypeUnset));
}

// ---------------------------------------------------------------- round, even? and odd?

TEST(TimeTest, Round) {
  struct Case {
    double time;
    const char* refinement;  // null: none
    Cell scale;              // unset: no /to
    double expected;
  } cases[] = {
      {5415.6, nullptr, kUnsetCell, 5416},
      {5415.4, nullptr, kUnsetCell, 5415},
      {-1.5, nullptr, kUnsetCell, -2},
      {2.5, "even", kUnsetCell, 2},
      {-1.7, "down", kUnsetCell, -1},
      {5415, nullptr, time_cell(900), 5400},
      {5415, nullptr, time_cell(-900), 5400},
      {5415.3, nullptr, float_cell(0.5), 5415.5},
      {5415.4, nullptr, integer_cell(10), 5420},
      // An integer! scale never squeezes the seconds into an int32.
      {1e10 + 0.4, nullptr, integer_cell(1), 1e10},
      {5415, "floor", integer_cell(60), 5400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.time << " " << (c.refinement ? c.refinement : ""));
    Act round(kActionRound, {time_cell(c.time)});
    if (c.refinement) round.ref(c.refinement);
    if (!c.scale.is(kTypeUnset)) round.ref("to", c.scale);
    expect_time(round.value(), c.expected);
  }
  EXPECT_EQ(Act(kActionRound, {time_cell(5)}).ref("to", make_cell(kTypeMoney)).error(), kErrScriptNotRelated);
  EXPECT_EQ(datatype_type(&last_raised_error().args[1]), kTypeMoney);
}

TEST(TimeTest, EvenAndOdd) {
  struct Case {
    double time;
    bool even;
  } cases[] = {
      {0, true},    {3, false},         {4.5, true},         {60, true},           {61, false}, {-3, false},
      {-4.9, true}, {2.9999995, false}, {-2.9999995, false}, {3600 + 59.5, false}, {NAN, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.time);
    EXPECT_EQ(test::logic_of(call_action(kActionEvenQ, {time_cell(c.time)})), c.even ? 1u : 0u);
    EXPECT_EQ(test::logic_of(call_action(kActionOddQ, {time_cell(c.time)})), c.even ? 0u : 1u);
  }
}

TEST(TimeTest, UnsupportedActions) {
  struct Case {
    ActionId action;
    std::vector<Cell> args;
  } cases[] = {
      {kActionPower, {time_cell(1), integer_cell(2)}},  {kActionComplement, {time_cell(1)}},
      {kActionAndT, {time_cell(1), integer_cell(1)}},   {kActionLengthQ, {time_cell(1)}},
      {kActionAppend, {time_cell(1), integer_cell(1)}}, {kActionReflect, {time_cell(1), test::word("spec")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.action));
    EXPECT_EQ(catch_error([&] { test::call_action_with(c.action, c.args, {}); }), kErrScriptExpectArg);
  }
}

TEST(TimeTest, Helpers) {
  StackSave save;
  Cell c = integer_cell(5);
  c.header |= kFlagNewLine;
  time_set_cell(&c, 90);
  EXPECT_EQ(c.header, make_cell(kTypeTime).header);
  expect_time(*time_push(-1), -1);
  Cell* b = block_of({});
  time_make_at(b, 7);
  expect_time(*block_ks_abs_at(b, 0), 7);
  EXPECT_EQ(time_get_hours(-5415), -1);
  EXPECT_EQ(time_get_minutes(-5415), 30);
  EXPECT_EQ(time_get_seconds(-5415), -15);
}

}  // namespace
}  // namespace kiv
