// string!: the storage writers and their widening, concatenation, make, to,
// compare and path access, and form and mold, through the action entry points
// where there is one.
#include "datatypes/string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "kiv_test.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/unicode.h"

namespace kiv {
namespace {

using test::call_action;
using test::catch_error;
using test::code_points;
using test::compare;
using test::form_of;
using test::mold;
using test::mold_of;
using test::push_text;
using test::text_cell;
using test::text_of;

// ---------------------------------------------------------------- writers

TEST(StringTest, SingleCodePointWritersWidenByTheirThresholds) {
  StackSave save;
  Cell* s = push_text("abc");
  append_char(s->node(), 0x100);  // unit 1 of length 3 gains U+0100
  EXPECT_EQ(string_unit(s), 2u);
  EXPECT_EQ(code_points(*s), (std::vector<uint32_t>{'a', 'b', 'c', 0x100}));

  Cell* t = push_text("abc");
  append_char(t->node(), 0xE9);  // appending widens already for U+0080-U+00FF
  EXPECT_EQ(string_unit(t), 2u);
  Cell* u = push_text("abc");
  string_write_char(u->node(), 1, 0xE9);  // storing keeps unit 1 up to U+00FF
  EXPECT_EQ(string_unit(u), 1u);
  EXPECT_EQ(text_of(*u),
            "a\xC3\xA9"
            "c");
  string_write_char(u->node(), 2, 0x1F600);
  EXPECT_EQ(string_unit(u), 4u);
  EXPECT_EQ(code_points(*u), (std::vector<uint32_t>{'a', 0xE9, 0x1F600}));

  Cell* v = push_text("ac");
  string_insert_char(v->node(), 1, 0x20AC);
  string_insert_char(v->node(), 0, '>');
  string_overwrite_char(v->node(), 4, '!');  // at the tail: extends
  EXPECT_EQ(text_of(*v),
            ">a\xE2\x82\xAC"
            "c!");
  EXPECT_EQ(string_unit(v), 2u);
  string_remove_part(v->node(), 1, 2);
  EXPECT_EQ(text_of(*v), ">c!");
  string_remove_part(v->node(), 2, 10);  // a count past the tail stops there
  string_remove_part(v->node(), 5, 1);   // at or past the tail: nothing
  EXPECT_EQ(text_of(*v), ">c");
  string_reset(v);
  EXPECT_EQ(string_unit(v), 1u);
  EXPECT_EQ(string_length(v), 0);
}

TEST(StringTest, GrowingManyTimesKeepsEveryUnit) {
  // Latin-1, then CJK, then emoji, appended one at a time through every width.
  StackSave save;
  Cell* s = string_make_at(stack_push(), 0);
  std::vector<uint32_t> want;
  for (uint32_t i = 0; i < 3000; i++) {
    uint32_t cp = i < 1000 ? 'a' + i % 26 : i < 2000 ? 0x4E00 + i : 0x1F300 + i % 200;
    append_char(s->node(), cp);
    want.push_back(cp);
  }
  EXPECT_EQ(string_unit(s), 4u);
  EXPECT_EQ(code_points(*s), want);
}

TEST(StringTest, ConcatenateModesUnitsAndSharedBuffers) {
  StackSave save;
  Cell* dst = push_text("hello");
  Cell* wide = push_text("\xE6\xBC\xA2\xE5\xAD\x97");  // 漢字, unit 2
  EXPECT_EQ(string_concatenate(dst, wide, -1, 0, ConcatMode::kAppend), 2);
  EXPECT_EQ(string_unit(dst), 2u);
  EXPECT_EQ(string_unit(wide), 2u);
  Cell* narrow = push_text("XY");
  string_concatenate(dst, narrow, 1, 2, ConcatMode::kInsert);  // at offset 2, one unit
  EXPECT_EQ(text_of(*dst), "heXllo\xE6\xBC\xA2\xE5\xAD\x97");
  EXPECT_EQ(string_unit(narrow), 1u);  // the source is never widened
  dst->set_head(5);
  string_concatenate(dst, narrow, -1, 2, ConcatMode::kOverwrite);  // over the last unit and past the tail
  dst->set_head(0);
  EXPECT_EQ(text_of(*dst), "heXllo\xE6\xBC\xA2XY");

  // A string appended to, inserted into and overwritten from itself.
  Cell* self = push_text("abc");
  string_concatenate(self, self, -1, 0, ConcatMode::kAppend);
  EXPECT_EQ(text_of(*self), "abcabc");
  Cell* from = stack_push_cell(self);
  from->set_head(4);  // "bc"
  string_concatenate(self, from, -1, 1, ConcatMode::kInsert);
  EXPECT_EQ(text_of(*self), "abcbcabc");
  string_concatenate(self, from, -1, 0, ConcatMode::kOverwrite);  // "cabc" over the first four
  EXPECT_EQ(text_of(*self), "cabccabc");

  Cell* bytes = push_text("\xE2\x82\xAC");  // unit 2 destination takes 8-bit text
  string_append_c_string(bytes, "\xE9!");
  EXPECT_EQ(code_points(*bytes), (std::vector<uint32_t>{0x20AC, 0xE9, '!'}));
  EXPECT_EQ(catch_error([&] { string_append_utf8(bytes, "\xE2\x82"); }), kErrAccessInvalidUtf8);
}

TEST(StringTest, ReadersClampTheHead) {
  StackSave save;
  Cell* s = push_text("abcdef");
  Cell* view = stack_push_cell(s);
  view->set_head(5);
  string_truncate(s, 2);  // cut through the other value
  EXPECT_EQ(string_length(view), 0);
  EXPECT_TRUE(string_at_tail_q(view));
  EXPECT_EQ(string_length_clamped(view), 0);
  EXPECT_EQ(view->head(), 2);  // pulled back to the tail
  view->set_head(-3);
  EXPECT_EQ(string_length(view), 2);

  Cell* t = push_text("Hello, world");
  EXPECT_EQ(string_find_char(t, 'o'), 4);
  EXPECT_EQ(string_find_char(t, 'O'), -1);
  EXPECT_TRUE(string_starts_with_cstring_q(t, "Hello"));
  EXPECT_FALSE(string_starts_with_cstring_q(t, "hello"));
  EXPECT_FALSE(string_starts_with_cstring_q(t, "Hello, world!"));
  Cell* records = push_text("a1b2c3");
  EXPECT_TRUE(string_char_in_q(records, 'B', 2, false));
  EXPECT_FALSE(string_char_in_q(records, 'B', 2, true));
  EXPECT_FALSE(string_char_in_q(records, '2', 2, false));  // not the first unit of a record
}

TEST(StringTest, HexDigits) {
  EXPECT_EQ(string_int_to_hex(0, true).view(), "00");
  EXPECT_EQ(string_int_to_hex(30, true).view(), "1E");
  EXPECT_EQ(string_int_to_hex(0x20AC, true).view(), "20AC");
  EXPECT_EQ(string_int_to_hex(0x1F600, true).view(), "1F600");
  EXPECT_EQ(string_int_to_hex(-1, false).view(), "FFFFFFFF");
  EXPECT_EQ(string_int_to_hex(255, false).view(), "000000FF");
  EXPECT_EQ(string_byte_to_hex(0xAB).view(), "AB");
}

// ---------------------------------------------------------------- make, to, compare, path

TEST(StringTest, MakeAndTo) {
  StackSave save;
  Cell string_type = datatype_cell(kTypeString);
  Cell made = call_action(kActionMake, {string_type, integer_cell(0)});
  EXPECT_TRUE(made.is(kTypeString));
  EXPECT_EQ(string_length(&made), 0);
  EXPECT_EQ(series_buffer(made.node())->capacity, 16u);
  Cell two = make_cell(kTypeFloat);
  float_set(&two, 2.7);
  EXPECT_EQ(string_length(&(made = call_action(kActionMake, {string_type, two}))), 0);
  EXPECT_EQ(catch_error([&] {
              call_action(kActionMake, {string_type, integer_cell(-1)});
            }),
            kErrScriptOutOfRange);
  // The other text types make through string!'s handler with their own type.
  Cell* file_type = stack_push_value(datatype_cell(kTypeFile));
  MakeArgs ten;
  ten.spec = stack_push_value(integer_cell(10));
  EXPECT_TRUE(actions_of(kTypeString).make(file_type, ten)->is(kTypeFile));

  // A copy of another text type's text from its head, retyped.
  Cell* src = push_text("abc\xE2\x82\xAC");
  src->set_head(1);
  src->set_type(kTypeUrl);
  Cell copy = call_action(kActionTo, {string_type, *src});
  EXPECT_TRUE(copy.is(kTypeString));
  EXPECT_EQ(text_of(copy), "bc\xE2\x82\xAC");
  EXPECT_NE(copy.node(), src->node());

  Cell bin = series_cell(kTypeBinary, series_alloc(16, 1, 0));
  const char utf8[] = "x\xE6\xBC\xA2\xF0\x9F\x98\x80";
  std::memcpy(reserve_tail(bin.node(), sizeof utf8 - 1), utf8, sizeof utf8 - 1);
  Cell* binary = stack_push_value(bin);
  EXPECT_EQ(text_of(call_action(kActionTo, {string_type, *binary})), utf8);
  reserve_tail(binary->node(), 2)[0] = 0xE2;
  series_buffer(binary->node())->tail_ptr()[-1] = 0x82;
  EXPECT_EQ(catch_error([&] { call_action(kActionTo, {string_type, *binary}); }), kErrAccessInvalidUtf8);
  SeriesBuffer* tail = series_buffer(last_raised_error().args[0].node());
  EXPECT_EQ(std::vector<uint8_t>(tail->head_ptr(), tail->tail_ptr()), (std::vector<uint8_t>{0xE2, 0x82}));

  EXPECT_EQ(catch_error([&] { call_action(kActionTo, {string_type, kNoneCell}); }), kErrScriptBadToArg);
  EXPECT_EQ(text_of(call_action(kActionTo, {string_type, kTrueCell})), "true");

  // A block: each value formed, nothing between them.
  Cell* block = stack_push_value(series_cell(kTypeBlock, series_alloc_cells(4)));
  *block_append_cell(block) = text_cell("a");
  *block_append_cell(block) = kNoneCell;
  *block_append_cell(block) = text_cell("\xC3\xA9");
  EXPECT_EQ(text_of(call_action(kActionTo, {string_type, *block})), "anone\xC3\xA9");
}

TEST(StringTest, Compare) {
  StackSave save;
  Cell abc = text_cell("abc");
  Cell file_abc = text_cell("abc");
  file_abc.set_type(kTypeFile);
  struct Case {
    Cell a, b;
    CompareOp op;
    bool truth;
  } cases[] = {
      {abc, text_cell("ABC"), kCmpEqual, true},
      {abc, text_cell("ABC"), kCmpStrictEqual, false},
      {abc, text_cell("abc", 4), kCmpStrictEqual, true},  // units of different widths
      {abc, text_cell("abd"), kCmpLesser, true},
      {text_cell("ab"), abc, kCmpLesser, true},
      {abc, text_cell("ab"), kCmpGreater, true},
      {text_cell("a"), text_cell("_"), kCmpLesser, true},  // letters order by their upper case
      {text_cell(""), text_cell(""), kCmpEqual, true},
      {text_cell(""), abc, kCmpLesser, true},
      {abc, text_cell("abcd"), kCmpNotEqual, true},
      {abc, file_abc, kCmpEqual, true},
      {abc, file_abc, kCmpStrictEqual, false},
      {abc, abc, kCmpSame, true},
      {abc, text_cell("abc"), kCmpSame, false},
      {text_cell("Stra\xC3\x9F"
                 "e"),
       text_cell("STRA\xC3\x9F"
                 "E"),
       kCmpEqual, true},  // folded to upper case; ß has no upper case of its own
      {text_cell("Stra\xC3\x9F"
                 "e"),
       text_cell("STRASE"), kCmpEqual, false},
      {text_cell("\xC3\xA9t\xC3\xA9"), text_cell("\xC3\x89T\xC3\x89", 2), kCmpEqual, true},
      {text_cell("abc"), integer_cell(1), kCmpEqual, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(compare(c.a, c.b, c.op), c.truth) << text_of(c.a) << " op " << int(c.op) << " " << text_of(c.b);
  Cell file_abd = text_cell("abd");
  file_abd.set_type(kTypeFile);
  EXPECT_EQ(catch_error([&] { compare(abc, file_abd, kCmpLesser); }), kErrScriptInvalidCompare);

  // Match mode: [b] at [a]'s head.
  Cell* hay = push_text("abcdef");
  EXPECT_EQ(string_compare_core(hay, push_text("ABC"), kCmpFindEqual, 1), 0);
  EXPECT_NE(string_compare_core(hay, push_text("ABC"), kCmpStrictEqual, 1), 0);
  EXPECT_NE(string_compare_core(push_text("ab"), push_text("abc"), kCmpFindEqual, 1), 0);
}

TEST(StringTest, PathAccess) {
  StackSave save;
  Cell* s = push_text("abc");
  auto step = [&](Cell element, Cell* value) {
    EvalPathArgs a;
    a.element = stack_push_value(element);
    a.value = value;
    return *action_eval_path(s, a);
  };
  auto get = [&](Cell element) { return step(element, nullptr); };
  EXPECT_EQ(catch_error([&] { get(make_cell(kTypeWord)); }), kErrScriptInvalidPath);
  Cell b = get(integer_cell(2));
  EXPECT_TRUE(b.is(kTypeChar));
  EXPECT_EQ(char_get(&b), uint32_t('b'));
  EXPECT_TRUE(get(integer_cell(4)).is(kTypeNone));
  // Setting through an integer stores the char!, widening the buffer.
  Cell* euro = stack_push_value(char_cell(0x20AC));
  step(integer_cell(2), euro);
  EXPECT_EQ(text_of(*s),
            "a\xE2\x82\xAC"
            "c");
  EXPECT_EQ(string_unit(s), 2u);
  EXPECT_EQ(catch_error([&] { step(integer_cell(9), euro); }), kErrScriptOutOfRange);
  // The poke helper the set path ends in checks the value and the range first.
  Cell* two = stack_push_value(integer_cell(2));
  Cell* not_char = stack_push_value(integer_cell(65));
  EXPECT_EQ(catch_error([&] { string_poke_char(s, 1, not_char, two); }), kErrScriptInvalidArg);
  EXPECT_EQ(catch_error([&] { string_poke_char(s, 3, euro, two); }), kErrScriptOutOfRange);
  EXPECT_EQ(text_of(*s),
            "a\xE2\x82\xAC"
            "c");
  // An owned string goes through the notification hook and is still changed.
  series_buffer(s->node())->flags |= kSeriesOwned;
  EXPECT_TRUE(series_owned_q(s));
  Cell* z = stack_push_value(char_cell('z'));
  string_poke_char(s, 0, z, two);
  EXPECT_EQ(text_of(*s),
            "z\xE2\x82\xAC"
            "c");
}

// ---------------------------------------------------------------- form and mold

TEST(StringTest, FormAndMoldTable) {
  StackSave save;
  struct Case {
    std::string text, mold, mold_all;
  } cases[] = {
      {"abc", "\"abc\"", "\"abc\""},
      {"", "\"\"", "\"\""},
      {"say \"hi\"", "{say \"hi\"}", "{say \"hi\"}"},
      {std::string("a\tb\0c", 5), "\"a^-b^@c\"", "\"a^-b^@c\""},
      {"1\n2\n3", "\"1^/2^/3\"", "\"1^/2^/3\""},
      {"1\n2\n3\n4", "{1^/2^/3^/4}", "{1^/2^/3^/4}"},
      {"^\x7F\x1E\x1B", "\"^^^~^(1E)^[\"", "\"^^^~^(1E)^[\""},
      {"a{b", "\"a{b\"", "\"a{b\""},
      {"\"{x}\" }", "{\"{x}\" ^}}", "{\"{x}\" ^}}"},
      {"\"a{b", "{\"a^{b}", "{\"a^{b}"},
      {"\"{a}{b", "{\"{a}^{b}", "{\"{a}^{b}"},
      {"\"{{a}", "{\"^{^{a^}}", "{\"^{^{a^}}"},  // after the first unmatched brace every brace is escaped
      {"\"^", "{\"^^}", "{\"^^}"},
      {"caf\xC3\xA9 \xC2\x85", "\"caf\xC3\xA9 ^(85)\"", "\"caf^(E9) ^(85)\""},
      {"\xE6\xBC\xA2\xF0\x9F\x98\x80", "\"\xE6\xBC\xA2\xF0\x9F\x98\x80\"", "\"^(6F22)^(1F600)\""},
  };
  for (const Case& c : cases) {
    Cell s = text_cell(c.text);
    EXPECT_EQ(form_of(s), c.text);
    EXPECT_EQ(mold_of(s), c.mold) << c.text;
    EXPECT_EQ(mold_of(s, true), c.mold_all) << c.text;
  }
  // The 50-code-point threshold.
  EXPECT_EQ(mold_of(text_cell(std::string(49, 'x'))), "\"" + std::string(49, 'x') + "\"");
  EXPECT_EQ(mold_of(text_cell(std::string(50, 'x'))), "{" + std::string(50, 'x') + "}");
  EXPECT_EQ(mold_of(text_cell(std::string(60, 'x') + "{")), "{" + std::string(60, 'x') + "^{}");
  // Molded from the head.
  Cell* s = push_text("xyz");
  s->set_head(1);
  EXPECT_EQ(form_of(*s), "yz");
  EXPECT_EQ(mold_of(*s), "\"yz\"");
}

TEST(StringTest, FormAndMoldPart) {
  StackSave save;
  EXPECT_EQ(form_of(text_cell("abcdef"), 3), "abc");
  EXPECT_EQ(form_of(text_cell("abcdef"), 0), "");
  // The quote and line-feed counts look at the first 5 code points only...
  Cell quote_late = text_cell("abcde\"fgh");
  EXPECT_EQ(mold(quote_late, false, false, false, 5), "\"abcd");
  // ... but the 50-code-point threshold at the whole text.
  EXPECT_EQ(mold(text_cell(std::string(60, 'x')), false, false, false, 5), "{xxxx");

  // The handlers' budgets: limit less the length, less 2 for mold.
  Cell* s = push_text("abcdef");
  Cell* out = string_make_at(stack_push(), 16);
  EXPECT_EQ(string_form(s, test::form_into(out, 100)), 94);
  EXPECT_EQ(string_mold(s, test::mold_into(out, 100)), 92);
}

}  // namespace
}  // namespace kiv
