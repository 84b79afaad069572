// char!: make and to, form and mold with their escapes, compare, arithmetic
// through integer!'s do-math, and the actions inherited from integer!.
#include "datatypes/char.h"

#include <gtest/gtest.h>

#include <cmath>

#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "kiv_test.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace kiv {
namespace {

using test::Act;
using test::call_action;
using test::catch_error;
using test::compare;
using test::form_of;
using test::mold_of;
using test::push_binary;
using test::push_text;

void expect_char(const Cell& c, uint32_t cp) {
  EXPECT_TRUE(c.is(kTypeChar)) << "type " << int(c.type());
  EXPECT_EQ(char_get(&c), cp);
}

TEST(CharTest, Arithmetic) {
  struct Case {
    ActionId action;
    uint32_t c;
    Cell operand;
    uint32_t expected;
  } cases[] = {
      {kActionAdd, 'a', integer_cell(1), 'b'},
      {kActionAdd, 'a', char_cell(1), 'b'},
      {kActionAdd, 'a', float_cell(1.9), 'b'},
      {kActionAdd, 0x10FFFE, integer_cell(1), 0x10FFFF},
      {kActionSubtract, 'a', integer_cell(97), 0},
      {kActionSubtract, 'a', float_cell(-0.9), 'a'},
      {kActionMultiply, 'a', integer_cell(2), 194},
      {kActionDivide, 'd', integer_cell(3), 33},  // division truncates
      {kActionDivide, 'd', integer_cell(2), 50},
      {kActionRemainder, 'a', integer_cell(10), 7},
      {kActionOrT, 'A', integer_cell(32), 'a'},
      {kActionAndT, 'a', integer_cell(0xDF), 'A'},
      {kActionXorT, 'a', char_cell(32), 'A'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.action) << " " << c.c);
    expect_char(call_action(c.action, {char_cell(c.c), c.operand}), c.expected);
  }
}

TEST(CharTest, ArithmeticErrors) {
  // vector! without handlers, whatever is registered.
  test::ScopedHandlers no_vector(kTypeVector, ActionSlots{});
  struct Case {
    ActionId action;
    Cell operand;
    ErrorId error;
  } cases[] = {
      {kActionSubtract, integer_cell(98), kErrMathOverflow},
      {kActionAdd, integer_cell(0x10FFFF), kErrMathOverflow},
      {kActionMultiply, integer_cell(100000), kErrMathOverflow},
      {kActionAdd, integer_cell(INT32_MAX), kErrMathOverflow},
      {kActionMultiply, integer_cell(INT32_MIN), kErrMathOverflow},
      {kActionAdd, float_cell(1e300), kErrMathOverflow},
      {kActionAdd, float_cell(NAN), kErrMathOverflow},
      {kActionDivide, integer_cell(0), kErrMathZeroDivide},
      {kActionRemainder, char_cell(0), kErrMathZeroDivide},
      {kActionAdd, kNoneCell, kErrScriptInvalidType},
      {kActionAdd, make_cell(kTypePercent), kErrScriptInvalidType},
      // Every operation goes to vector!, the char as its left operand.
      {kActionAdd, make_cell(kTypeVector), kErrScriptInvalidType},
      {kActionSubtract, make_cell(kTypeVector), kErrScriptInvalidType},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.action) << " type " << int(c.operand.type()));
    EXPECT_EQ(catch_error([&] { call_action(c.action, {char_cell('a'), c.operand}); }), c.error);
  }
}

TEST(CharTest, InheritedAndUnsupportedActions) {
  expect_char(call_action(kActionAbsolute, {char_cell('a')}), 'a');
  EXPECT_EQ(test::logic_of(call_action(kActionEvenQ, {char_cell('b')})), 1u);
  EXPECT_EQ(test::logic_of(call_action(kActionOddQ, {char_cell('a')})), 1u);
  for (int i = 0; i < 200; i++) {
    Cell r = call_action(kActionRandom, {char_cell('z')});
    ASSERT_TRUE(r.is(kTypeChar));
    ASSERT_TRUE(char_get(&r) >= 1 && char_get(&r) <= 'z') << char_get(&r);
  }
  expect_char(call_action(kActionRandom, {char_cell(0)}), 0);
  for (ActionId id : {kActionNegate, kActionComplement, kActionRound}) {
    EXPECT_EQ(catch_error([&] { call_action(id, {char_cell('a')}); }), kErrScriptExpectArg) << int(id);
  }
  EXPECT_EQ(catch_error([] {
              call_action(kActionPower, {char_cell('a'), integer_cell(2)});
            }),
            kErrScriptExpectArg);
}

TEST(CharTest, MakeAndTo) {
  StackSave save;
  Cell type = datatype_cell(kTypeChar);
  Cell second = *push_text("xyz");
  second.set_head(1);
  Cell tagged = second;
  tagged.set_type(kTypeTag);
  Cell* wide = push_text("a");
  widen_series(wide->node(), 4);
  struct Case {
    Cell spec;
    uint32_t expected;
  } cases[] = {
      {integer_cell(65), 'A'},
      {integer_cell(0), 0},
      {integer_cell(0x10FFFF), 0x10FFFF},
      {char_cell(0x20AC), 0x20AC},
      {float_cell(65.9), 'A'},
      {float_cell(-0.5), 0},
      {*push_text("xyz"), 'x'},
      {second, 'y'},
      {tagged, 'y'},
      {*wide, 'a'},
      {*push_binary({0xE2, 0x82, 0xAC}), 0x20AC},
      {*push_binary({'A', 0xFF}), 'A'},
      {*push_binary({0xF4, 0x8F, 0xBF, 0xBF, 0x00}), 0x10FFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << int(c.spec.type()) << " expected " << c.expected);
    expect_char(call_action(kActionTo, {type, c.spec}), c.expected);
    expect_char(call_action(kActionMake, {type, c.spec}), c.expected);
  }
}

TEST(CharTest, MakeAndToErrors) {
  StackSave save;
  Cell type = datatype_cell(kTypeChar);
  Cell at_tail = *push_text("ab");
  at_tail.set_head(2);
  struct Case {
    Cell spec;
    ErrorId error;
  } cases[] = {
      {integer_cell(0x110000), kErrScriptOutOfRange},
      {integer_cell(-1), kErrScriptOutOfRange},
      {integer_cell(INT32_MIN), kErrScriptOutOfRange},
      {float_cell(-1.0), kErrScriptOutOfRange},
      {float_cell(1114112.0), kErrScriptOutOfRange},
      {float_cell(NAN), kErrScriptOutOfRange},
      {float_cell(1e20), kErrScriptOutOfRange},
      {*push_text(""), kErrScriptBadToArg},
      {at_tail, kErrScriptBadToArg},
      {*push_binary({}), kErrScriptBadToArg},
      {*push_binary({0xE2, 0x82}), kErrAccessInvalidUtf8},
      {*push_binary({0xFF}), kErrAccessInvalidUtf8},
      {*push_binary({0x80, 0x41}), kErrAccessInvalidUtf8},
      {kNoneCell, kErrScriptBadToArg},
      {kTrueCell, kErrScriptBadToArg},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << int(c.spec.type()));
    EXPECT_EQ(catch_error([&] { call_action(kActionTo, {type, c.spec}); }), c.error);
  }
  // out-of-range names the value; bad-to-arg names char! and the value.
  catch_error([] { call_action(kActionTo, {datatype_cell(kTypeChar), integer_cell(-1)}); });
  EXPECT_EQ(integer_get(&last_raised_error().args[0]), -1);
  catch_error([] { call_action(kActionMake, {datatype_cell(kTypeChar), kNoneCell}); });
  EXPECT_EQ(datatype_type(&last_raised_error().args[0]), kTypeChar);
  EXPECT_TRUE(last_raised_error().args[1].is(kTypeNone));
}

TEST(CharTest, Compare) {
  struct Case {
    Cell a, b;
    CompareOp op;
    bool truth;
  } cases[] = {
      {char_cell('a'), integer_cell(97), kCmpEqual, true},
      {char_cell('a'), integer_cell(97), kCmpStrictEqual, false},
      {char_cell('a'), integer_cell(97), kCmpFindEqual, false},
      {char_cell('a'), char_cell('a'), kCmpStrictEqual, true},
      {char_cell('a'), char_cell('A'), kCmpEqual, false},
      {char_cell('a'), integer_cell(98), kCmpLesser, true},
      {char_cell('a'), char_cell('A'), kCmpGreater, true},
      {char_cell(0x10FFFF), integer_cell(-1), kCmpGreater, true},
      {char_cell('a'), kNoneCell, kCmpEqual, false},
      {char_cell('a'), kNoneCell, kCmpNotEqual, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << char_get(&c.a) << " op " << int(c.op) << " type " << int(c.b.type()));
    EXPECT_EQ(compare(c.a, c.b, c.op), c.truth);
  }
  StackSave save;
  Cell b = *push_text("b");
  EXPECT_EQ(catch_error([&] { compare(char_cell('a'), b, kCmpLesser); }), kErrScriptInvalidCompare);
  EXPECT_FALSE(compare(char_cell('b'), b, kCmpEqual));
}

TEST(CharTest, FormAndMold) {
  struct Case {
    uint32_t cp;
    const char *form, *mold, *mold_all;
  } cases[] = {
      {'a', "a", "#\"a\"", "#\"a\""},
      {' ', " ", "#\" \"", "#\" \""},
      {'\t', "\t", "#\"^-\"", "#\"^-\""},
      {'\n', "\n", "#\"^/\"", "#\"^/\""},
      {0, "", "#\"^@\"", "#\"^@\""},  // forms as one NUL
      {1, "\x01", "#\"^A\"", "#\"^A\""},
      {8, "\x08", "#\"^H\"", "#\"^H\""},
      {11, "\x0B", "#\"^K\"", "#\"^K\""},
      {26, "\x1A", "#\"^Z\"", "#\"^Z\""},
      {27, "\x1B", "#\"^[\"", "#\"^[\""},
      {28, "\x1C", "#\"^\\\"", "#\"^\\\""},
      {29, "\x1D", "#\"^]\"", "#\"^]\""},
      {30, "\x1E", "#\"^(1E)\"", "#\"^(1E)\""},
      {31, "\x1F", "#\"^_\"", "#\"^_\""},
      {'"', "\"", "#\"^\"\"", "#\"^\"\""},
      {'^', "^", "#\"^^\"", "#\"^^\""},
      {'{', "{", "#\"{\"", "#\"{\""},
      {'~', "~", "#\"~\"", "#\"~\""},
      {127, "\x7F", "#\"^~\"", "#\"^~\""},
      {128, "\u0080", "#\"^(80)\"", "#\"^(80)\""},
      {159, "\u009F", "#\"^(9F)\"", "#\"^(9F)\""},
      {160, "\u00A0", "#\"\u00A0\"", "#\"^(A0)\""},
      {0xE9, "\u00E9", "#\"\u00E9\"", "#\"^(E9)\""},
      {0x100, "\u0100", "#\"\u0100\"", "#\"^(100)\""},
      {0x20AC, "\u20AC", "#\"\u20AC\"", "#\"^(20AC)\""},
      {0x10FFFF, "\U0010FFFF", "#\"\U0010FFFF\"", "#\"^(10FFFF)\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code point " << c.cp);
    EXPECT_EQ(form_of(char_cell(c.cp)), c.cp == 0 ? std::string(1, '\0') : std::string(c.form));
    EXPECT_EQ(mold_of(char_cell(c.cp)), c.mold);
    EXPECT_EQ(mold_of(char_cell(c.cp), true), c.mold_all);
  }
  EXPECT_EQ(test::text_of(Act(kActionMold, {char_cell('a')}).ref("part", integer_cell(2)).value()), "#\"");
}

// Molding into a buffer that already holds wider text keeps that text.
TEST(CharTest, MoldAppendsInTheBuffersUnit) {
  StackSave save;
  Cell* buffer = string_make_at(stack_push(), 4);
  Cell* euro = stack_push_value(char_cell(0x20AC));
  Cell* a = stack_push_value(char_cell('a'));
  Cell* big = stack_push_value(char_cell(0x10FFFF));
  action_mold(euro, test::mold_into(buffer));
  action_form(a, test::form_into(buffer));
  action_mold(big, test::mold_into(buffer, kNoLimit, nullptr, true));
  action_form(big, test::form_into(buffer));
  EXPECT_EQ(string_to_utf8(buffer), "#\"\u20AC\"a#\"^(10FFFF)\"\U0010FFFF");
}

}  // namespace
}  // namespace kiv
