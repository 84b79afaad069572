// tag!, email! and ref!: their forms and molds with the budget, email!'s
// user and host path access, and the slots each takes from string! or not.
#include <gtest/gtest.h>

#include <string>

#include "kiv_test.h"
#include "runtime/ownership.h"

namespace kiv {
namespace {

using test::Act;
using test::call_action;
using test::catch_error;
using test::eval_path;
using test::form_of;
using test::mold;
using test::mold_of;
using test::outcome;
using test::push_text;
using test::text_of;
using test::word;

TEST(TagTest, FormAndMold) {
  struct Case {
    TypeId type;
    const char* text;
    const char* form;
    const char* mold;
  } cases[] = {
      {kTypeTag, "a", "<a>", "<a>"},
      {kTypeTag, "div class=\"x\"", "<div class=\"x\">", "<div class=\"x\">"},
      {kTypeTag, "", "<>", "<>"},
      {kTypeEmail, "u@h", "u@h", "u@h"},
      {kTypeEmail, "a b\"c", "a b\"c", "a b\"c"},  // no quotes, no escapes
      {kTypeRef, "abc", "abc", "@abc"},
      {kTypeRef, "", "", "@"},
  };
  for (const Case& c : cases) {
    StackSave save;
    Cell* v = push_text(c.text, 1, c.type);
    EXPECT_EQ(form_of(*v), c.form) << c.text;
    EXPECT_EQ(mold_of(*v), c.mold) << c.text;
    EXPECT_EQ(mold_of(*v, true), c.mold) << c.text;
  }
}

TEST(TagTest, DelimitersTakeTheirShareOfThePartBudget) {
  StackSave save;
  Cell* tag = push_text("abc", 1, kTypeTag);
  EXPECT_EQ(form_of(*push_text("a", 1, kTypeTag), 2), "<a");
  EXPECT_EQ(form_of(*tag, 1), "<");
  EXPECT_EQ(mold(*tag, false, false, false, 3), "<ab");
  EXPECT_EQ(mold(*push_text("abc", 1, kTypeRef), false, false, false, 2), "@a");
  EXPECT_EQ(mold(*push_text("u@h", 1, kTypeEmail), false, false, false, 2), "u@");

  // Inside a block the budget that is left decides what follows.
  Cell* block = test::block_of({*tag, *push_text("xyz", 1, kTypeRef)});
  FormArgs args = test::form_into(string_make_at(stack_push(), 16), 7, stack_push_value(integer_cell(7)));
  EXPECT_EQ(action_form(tag, args), 2);
  MoldArgs margs = test::mold_into(string_make_at(stack_push(), 16), 3, stack_push_value(integer_cell(3)));
  EXPECT_EQ(action_mold(push_text("xyz", 1, kTypeRef), margs), -1);
  EXPECT_EQ(mold_of(*block), "[<abc> @xyz]");
}

TEST(TagTest, EmailUserAndHost) {
  struct Case {
    const char* text;
    const char* user;
    const char* host;
  } cases[] = {
      {"u@h", "u", "h"},     {"me@example.org", "me", "example.org"},
      {"a@b@c", "a", "b@c"}, {"nobody", "nobody", ""},
      {"@h", "", "h"},       {"u@", "u", ""},
  };
  for (const Case& c : cases) {
    StackSave save;
    Cell* e = push_text(c.text, 1, kTypeEmail);
    Cell user = eval_path(e, word("user"));
    EXPECT_TRUE(user.is(kTypeString));
    EXPECT_EQ(text_of(user), c.user) << c.text;
    EXPECT_EQ(text_of(eval_path(e, word("HOST"))), c.host) << c.text;  // letter case ignored
  }
  StackSave save;
  Cell* e = push_text("xx u@h", 1, kTypeEmail);
  e->set_head(3);  // the parts are read from the head
  EXPECT_EQ(text_of(eval_path(e, word("user"))), "u");
  EXPECT_EQ(test::char_of(eval_path(e, integer_cell(1))), uint32_t('u'));
}

TEST(TagTest, EmailSetsItsPartsInPlace) {
  struct Case {
    const char* text;
    const char* field;
    Cell value;
    const char* result;
  } cases[] = {
      {"u@h", "host", *push_text("k"), "u@k"},
      {"u@h", "user", *push_text("me"), "me@h"},
      {"u@host.org", "host", *push_text(""), "u@"},
      {"a@b@c", "host", *push_text("d"), "a@d"},
      {"u@h", "user", integer_cell(42), "42@h"},
      {"nobody", "user", *push_text("me"), "me"},
      // Setting the host of an address without "@" adds one.
      {"nobody", "host", *push_text("k"), "nobody@k"},
  };
  for (const Case& c : cases) {
    StackSave save;
    Cell* e = push_text(c.text, 1, kTypeEmail);
    Cell before = *e;
    Cell r = eval_path(e, word(c.field), &c.value);
    EXPECT_EQ(mold_of(r), mold_of(c.value));  // the value assigned is the result
    EXPECT_EQ(mold_of(*e), c.result) << c.text << " " << c.field;
    EXPECT_EQ(e->node(), before.node());
    EXPECT_EQ(text_of(eval_path(e, word(c.field))), text_of(*Act(kActionForm, {c.value}).run())) << c.result;
  }
  StackSave save;
  Cell* e = push_text("u@h", 1, kTypeEmail);
  Cell z = char_cell('z');
  eval_path(e, integer_cell(1), &z);
  EXPECT_EQ(mold_of(*e), "z@h");
}

TEST(TagTest, EmailPathErrors) {
  StackSave save;
  Cell* e = push_text("u@h", 1, kTypeEmail);
  Cell x = *push_text("x");
  struct Case {
    Cell element;
    const Cell* value;
    const char* error;
  } cases[] = {
      {word("name"), nullptr, "!invalid-path"},       {word("user", kTypeGetWord), nullptr, "!invalid-path"},
      {*push_text("user"), nullptr, "!invalid-path"}, {word("name"), &x, "!invalid-path"},
      {integer_cell(1), &x, "!invalid-arg"},  // string!'s poke: a char! only
      {integer_cell(9), &x, "!out-of-range"},         {integer_cell(9), nullptr, "none"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(outcome([&] { return eval_path(e, c.element, c.value); }), c.error) << mold_of(c.element);
  EXPECT_EQ(mold_of(*e), "u@h");
}

TEST(TagTest, SlotsTakenFromStringAndUnsupportedOnes) {
  StackSave save;
  Cell* tag = push_text("a", 1, kTypeTag);
  EXPECT_EQ(mold_of(*Act(kActionAppend, {*tag, *push_text("b")}).run()), "<ab>");
  EXPECT_EQ(mold_of(*Act(kActionInsert, {*push_text("xy", 1, kTypeRef), *push_text("w")}).run()), "@xy");
  EXPECT_EQ(mold_of(*test::make(kTypeTag, *push_text("p"))), "<p>");
  EXPECT_EQ(mold_of(*test::to(kTypeEmail, *test::block_of({word("u"), char_cell('@'), word("h")}))), "u@h");
  EXPECT_EQ(mold_of(*test::to(kTypeRef, word("r", kTypeRefinement))), "@/r");
  EXPECT_EQ(mold_of(*test::to(kTypeString, *push_text("p", 1, kTypeTag))), "\"p\"");
  EXPECT_EQ(mold_of(*Act(kActionCopy, {*push_text("u@h", 1, kTypeEmail)}).run()), "u@h");
  // A tag! appended to a string! brings its brackets.
  EXPECT_EQ(mold_of(*Act(kActionAppend, {*push_text("x"), *tag}).run()), "\"x<ab>\"");
  EXPECT_TRUE(test::compare(*push_text("ab", 1, kTypeTag), *push_text("AB"), kCmpEqual));

  struct Case {
    TypeId type;
    ActionId id;
  } unsupported[] = {
      {kTypeTag, kActionRandom},   {kTypeTag, kActionSort},   {kTypeTag, kActionTrim},
      {kTypeTag, kActionPut},      {kTypeTag, kActionRead},   {kTypeEmail, kActionSort},
      {kTypeEmail, kActionRandom}, {kTypeRef, kActionAppend}, {kTypeRef, kActionTrim},
      {kTypeRef, kActionPut},      {kTypeRef, kActionAdd},
  };
  for (const Case& c : unsupported) {
    SCOPED_TRACE(testing::Message() << int(c.type) << " " << int(c.id));
    EXPECT_EQ(catch_error([&] {
                Cell* v = push_text("a", 1, c.type);
                call_action(c.id, {*v, *v, *v});
              }),
              kErrScriptExpectArg);
  }
  EXPECT_EQ(catch_error([&] { eval_path(push_text("a", 1, kTypeRef), integer_cell(1)); }),
            kErrScriptBadPathType2);
  EXPECT_EQ(mold_of(*Act(kActionReflect, {*push_text("a", 1, kTypeRef), word("owned")}).run()), "none");
}

}  // namespace
}  // namespace kiv
