// datatype!, unset!, none! and logic! through the action entry points.
#include <gtest/gtest.h>

#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "kiv_test.h"
#include "runtime/random.h"

namespace kiv {
namespace {

using test::Act;
using test::call_action;
using test::catch_error;
using test::compare;
using test::form_of;
using test::logic_of;
using test::mold_of;

TEST(Scalars, FormAndMold) {
  struct Case {
    Cell value;
    const char *form, *mold, *mold_all;
  } cases[] = {
      {datatype_cell(kTypeInteger), "integer", "integer!", "#(integer!)"},
      {datatype_cell(kTypeSetWord), "set-word", "set-word!", "#(set-word!)"},
      {kUnsetCell, "", "unset", "#(unset)"},
      {kNoneCell, "none", "none", "#(none)"},
      {kTrueCell, "true", "true", "#(true)"},
      {kFalseCell, "false", "false", "#(false)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(form_of(c.value), c.form);
    EXPECT_EQ(mold_of(c.value), c.mold);
    EXPECT_EQ(mold_of(c.value, true), c.mold_all);
  }
}

TEST(Scalars, FormPartLimits) {
  // form/part 0 gives "" without calling the handler; a positive limit cuts.
  EXPECT_EQ(test::text_of(Act(kActionForm, {kFalseCell}).ref("part", integer_cell(0)).value()), "");
  EXPECT_EQ(test::text_of(Act(kActionForm, {kFalseCell}).ref("part", integer_cell(3)).value()), "fal");
  EXPECT_EQ(test::text_of(Act(kActionMold, {datatype_cell(kTypeBlock)}).ref("part", integer_cell(2)).value()),
            "bl");
}

TEST(Scalars, Compare) {
  Cell block = datatype_cell(kTypeBlock);
  EXPECT_TRUE(compare(block, datatype_cell(kTypeBlock), kCmpEqual));
  EXPECT_FALSE(compare(block, datatype_cell(kTypeParen), kCmpEqual));
  EXPECT_FALSE(compare(block, integer_cell(5), kCmpEqual));
  EXPECT_TRUE(compare(block, integer_cell(5), kCmpNotEqual));
  EXPECT_TRUE(compare(kUnsetCell, kUnsetCell, kCmpEqual));
  EXPECT_TRUE(compare(kNoneCell, kNoneCell, kCmpStrictEqual));
  EXPECT_FALSE(compare(kNoneCell, kFalseCell, kCmpEqual));
  EXPECT_TRUE(compare(kTrueCell, kTrueCell, kCmpSame));
  EXPECT_FALSE(compare(kTrueCell, kFalseCell, kCmpEqual));
  // Ordering operators on these types are not comparable.
  for (Cell v : {block, kUnsetCell, kNoneCell, kFalseCell}) {
    Cell other = v.is(kTypeDatatype) ? datatype_cell(kTypeParen) : v.is(kTypeLogic) ? kTrueCell : v;
    EXPECT_EQ(catch_error([&] { compare(v, other, kCmpLesser); }), kErrScriptInvalidCompare);
  }
  // Sorting puts false before true.
  StackSave save;
  Cell* f = stack_push_value(kFalseCell);
  Cell* t = stack_push_value(kTrueCell);
  EXPECT_LT(action_compare_values(f, t, kCmpSort), 0);
  EXPECT_GT(action_compare_values(t, f, kCmpSort), 0);
}

TEST(Scalars, MakeAndToLogic) {
  Cell logic = datatype_cell(kTypeLogic);
  struct Case {
    Cell spec;
    bool make, to;
  } cases[] = {
      {integer_cell(0), false, true}, {integer_cell(-3), true, true}, {kNoneCell, false, false},
      {kTrueCell, true, true},        {kFalseCell, false, false},     {datatype_cell(kTypeNone), true, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(logic_of(call_action(kActionMake, {logic, c.spec})), c.make ? 1u : 0u);
    EXPECT_EQ(logic_of(call_action(kActionTo, {logic, c.spec})), c.to ? 1u : 0u);
  }
  Cell zero = float_cell(0.0);
  Cell nan = float_cell(__builtin_nan(""));
  EXPECT_EQ(logic_of(call_action(kActionMake, {logic, zero})), 0u);
  EXPECT_EQ(logic_of(call_action(kActionMake, {logic, nan})), 1u);
  EXPECT_TRUE(call_action(kActionMake, {datatype_cell(kTypeUnset), integer_cell(1)}).is(kTypeUnset));
  EXPECT_TRUE(call_action(kActionTo, {datatype_cell(kTypeNone), integer_cell(1)}).is(kTypeNone));
}

TEST(Scalars, LogicBitwise) {
  EXPECT_EQ(logic_of(call_action(kActionXorT, {kTrueCell, kTrueCell})), 0u);
  EXPECT_EQ(logic_of(call_action(kActionOrT, {kFalseCell, kTrueCell})), 1u);
  EXPECT_EQ(logic_of(call_action(kActionAndT, {kTrueCell, kFalseCell})), 0u);
  EXPECT_EQ(logic_of(call_action(kActionComplement, {kTrueCell})), 0u);
  EXPECT_EQ(catch_error([] { call_action(kActionAndT, {kTrueCell, integer_cell(1)}); }), kErrScriptExpectArg);
}

TEST(Scalars, SeriesActionsOnNoneAnswerNone) {
  for (ActionId id : {kActionClear, kActionTake, kActionRemove, kActionLengthQ})
    EXPECT_TRUE(call_action(id, {kNoneCell}).is(kTypeNone)) << int(id);
  for (ActionId id : {kActionFind, kActionSelect})
    EXPECT_TRUE(call_action(id, {kNoneCell, integer_cell(1)}).is(kTypeNone)) << int(id);
}

TEST(Scalars, UnsupportedActionNamesTypeAndArgument) {
  EXPECT_EQ(catch_error([] { call_action(kActionAppend, {kTrueCell, kNoneCell}); }), kErrScriptExpectArg);
  const RaisedError& e = last_raised_error();
  EXPECT_EQ(e.argc, 3);
  EXPECT_TRUE(e.args[1].is(kTypeDatatype));
  EXPECT_EQ(datatype_type(&e.args[1]), kTypeLogic);
  EXPECT_EQ(catch_error([] {
              call_action(kActionMake, {datatype_cell(kTypeDatatype), kNoneCell});
            }),
            kErrScriptExpectArg);
}

TEST(Scalars, RandomLogicIsFair) {
  for (bool secure : {false, true}) {
    int trues = 0;
    Act act(kActionRandom, {kFalseCell});
    if (secure) act.ref("secure");
    for (int i = 0; i < 4000; i++) trues += logic_of(act.value());
    EXPECT_GT(trues, 1700) << secure;
    EXPECT_LT(trues, 2300) << secure;
  }
  // /seed makes the value unset and restarts the generator.
  EXPECT_TRUE(Act(kActionRandom, {kTrueCell}).ref("seed").value().is(kTypeUnset));
  int32_t a = random_next();
  Act(kActionRandom, {kTrueCell}).ref("seed").value();
  EXPECT_EQ(random_next(), a);
}

TEST(Scalars, Truth) {
  StackSave save;
  open_native_frame({});
  struct Case {
    Cell value;
    bool truth;
  } cases[] = {{kNoneCell, false},
               {kFalseCell, false},
               {kTrueCell, true},
               {integer_cell(0), true},
               // A malformed logic!: any word 1 other than 1 reads as false.
               {make_cell(kTypeLogic, 2), false},
               {datatype_cell(kTypeNone), true}};
  for (const Case& c : cases) {
    *stack_push() = c.value;
    EXPECT_EQ(true_value_q(), c.truth);
    EXPECT_EQ(false_value_q(), !c.truth);
    EXPECT_EQ(logic_top_true_q(), c.truth);
    stack_reset();
  }
  EXPECT_EQ(catch_error([] {
              *stack_push() = kUnsetCell;
              true_value_q();
            }),
            kErrScriptNoReturn);
  EXPECT_TRUE(logic_cell_true_q(&kUnsetCell, false, nullptr));
  EXPECT_EQ(catch_error([] { logic_cell_true_q(&kUnsetCell, true, &kNoneCell); }), kErrScriptNoValue);
}

TEST(Random, Generator) {
  random_seed(kDefaultRandomSeed);
  int32_t first = random_next();
  random_seed(kDefaultRandomSeed);
  EXPECT_EQ(random_next(), first);
  for (int i = 0; i < 2000; i++) {
    EXPECT_GE(random_next(), 0);
    EXPECT_GE(random_next_secure(), 0);
  }
  EXPECT_EQ(random_integer(false, 0), 0);
  EXPECT_EQ(random_integer(false, 1), 1);
  for (int i = 0; i < 200; i++) {
    int32_t v = random_integer(false, -5);
    EXPECT_GE(v, -5);
    EXPECT_LE(v, -1);
  }
  EXPECT_LT(random_integer(false, INT32_MIN), 0);
}

}  // namespace
}  // namespace kiv
