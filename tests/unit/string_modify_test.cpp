// string! search and modification through the action entry points: find and
// select, append/insert/change, take, swap, trim, sort, the set operations,
// change_case and the PARSE head tests. Texts are multilingual (Latin-1, CJK,
// code points above U+FFFF) and most tables run at every storage width.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "kiv_test.h"
#include "runtime/case_fold.h"
#include "runtime/memory.h"

namespace kiv {
namespace {

using test::Act;
using test::call_action_with;
using test::catch_error;
using test::code_points;
using test::kNoError;
using test::push_text;
using test::text_cell;
using test::text_of;

// ---------------------------------------------------------------- fixture and helpers

class StringModifyTest : public ::testing::Test {
 protected:
  test::RegistrySnapshot registry_;  // the rows below go back afterwards
  void SetUp() override {
    // Children as their own datatypes will register them: every slot used here from string!.
    const ActionSlots inherit{.form = kInherit,
                              .append = kInherit,
                              .change = kInherit,
                              .copy = kInherit,
                              .find = kInherit,
                              .insert = kInherit,
                              .select = kInherit,
                              .sort = kInherit,
                              .swap = kInherit,
                              .take = kInherit,
                              .trim = kInherit};
    test::register_test_row(kTypeFile, kTypeString, inherit);
    test::register_test_row(kTypeTag, kTypeString, inherit);
    test::register_test_row(kTypeBinary, kTypeString, inherit);
    test::register_test_row(kTypeVector, kTypeString, inherit);
  }

 private:
  // The rows registered here are put back afterwards: other suites see their own.
  test::SavedRegistry saved_;
};

// A tag! holding [t], on the data stack.
Cell tag(std::string_view t) { return *push_text(t, 1, kTypeTag); }

// A series of [type] with raw units of [unit] bytes (binary!, or vector! of
// [element] type).
template <class T>
Cell raw_series(TypeId type, const std::vector<T>& units, TypeId element = kTypeNil) {
  Node node = series_alloc_units(uint32_t(units.size()), sizeof(T));
  Cell* c = stack_push_value(type == kTypeVector ? vector_cell(node, element) : series_cell(type, node));
  SeriesBuffer* b = series_buffer(node);
  std::memcpy(b->head_ptr(), units.data(), units.size() * sizeof(T));
  b->tail = b->head + uint32_t(units.size() * sizeof(T));
  return *c;
}

// The whole text of a series, whatever its head.
std::string whole(Cell s) {
  s.set_head(0);
  return text_of(s);
}

constexpr const char* kNone = "#none";
// The text from a result's head, or "#none".
std::string shown(const Cell* r) { return r->is(kTypeNone) ? kNone : text_of(*r); }

// ---------------------------------------------------------------- find and select

// Refinements named in [refs] ("last tail", "part", ...); part and skip take [n].
Act find_call(ActionId id, Cell hay, Cell value, const char* refs, int32_t n) {
  Act a(id, {hay, value});
  std::istringstream words(refs);
  for (std::string word; words >> word;) {
    if (word == "part" || word == "skip")
      a.ref(word.c_str(), integer_cell(n));
    else
      a.ref(word.c_str());
  }
  return a;
}

struct FindCase {
  const char* hay;
  int32_t head;
  const char* needle;  // text, or a single code point when [cp] is set
  uint32_t cp;
  const char* refs;
  int32_t n;
  const char* want;  // the text from the result's head, or kNone
};

const FindCase kFindCases[] = {
    {"abcabc", 0, "bc", 0, "", 0, "bcabc"},
    {"abcabc", 0, "bc", 0, "last", 0, "bc"},
    {"abcabc", 0, "bc", 0, "tail", 0, "abc"},
    {"abcabc", 0, "bc", 0, "last tail", 0, ""},
    {"abcabc", 0, "bc", 0, "match", 0, kNone},
    {"abc", 0, "ab", 0, "match", 0, "abc"},
    {"abc", 0, "ab", 0, "match tail", 0, "c"},
    {"ABC", 0, nullptr, 'b', "", 0, "BC"},
    {"ABC", 0, nullptr, 'b', "case", 0, kNone},
    {"ABC", 0, nullptr, 'b', "same", 0, kNone},
    {"a_b", 0, "A", 0, "", 0, "a_b"},
    {"abcabc", 0, "bc", 0, "reverse", 0, kNone},       // from the head: nothing before it
    {"abcabc", 3, "bc", 0, "reverse", 0, "bcabc"},     // ends just before the head
    {"abcabc", 3, "bc", 0, "reverse part", 1, kNone},  // one unit before the head: too short
    {"abcabc", 3, "c", 0, "reverse part", 1, "cabc"},
    {"abcabc", 6, nullptr, 'a', "reverse tail", 0, "bc"},
    {"abcdef", 0, "ef", 0, "part", 4, kNone},
    {"abcdef", 0, "cd", 0, "part", 4, "cdef"},
    {"abcdef", 0, "cd", 0, "part", 0, kNone},
    {"abcdef", 2, "ef", 0, "last part", 3, kNone},
    {"a1b2c3", 0, "b", 0, "skip", 2, "b2c3"},
    {"a1b2c3", 0, "2", 0, "skip", 2, kNone},  // only every second unit is a candidate
    {"a1b2c3", 0, "c3", 0, "last skip", 2, "c3"},
    {"abc", 3, "c", 0, "", 0, kNone},  // at the tail
    {"abc", 0, "", 0, "", 0, kNone},   // an empty pattern finds nothing
    // Letter case: both sides fold to upper case, over every width.
    {"Straße 漢字", 0, "STRAßE", 0, "", 0, "Straße 漢字"},  // ß has no upper case of its own
    {"Straße 漢字", 0, "STRASE", 0, "", 0, kNone},
    {"Straße 漢字", 0, "STRASSE", 0, "", 0, kNone},
    {"xᾈᾀ", 0, nullptr, 0x1F80, "", 0, "ᾈᾀ"},  // U+1F80 folds to its title case U+1F88
    {"xſtop", 0, "STOP", 0, "", 0, "ſtop"},    // U+017F folds to S
    {"xſtop", 0, "STOP", 0, "case", 0, kNone},
    {"ΣΊΣΥΦΟς!", 0, nullptr, 0x3C3, "last", 0, "ς!"},  // final sigma folds like σ and Σ
    {"Grüße 漢字 😀 end", 0, "漢字", 0, "", 0, "漢字 😀 end"},
    {"Grüße 漢字 😀 end", 0, "GRÜ", 0, "", 0, "Grüße 漢字 😀 end"},
    {"a😀b😀c", 0, nullptr, 0x1F600, "last", 0, "😀c"},
    {"a😀b😀c", 0, nullptr, 0x1F600, "tail", 0, "b😀c"},
    {"𐐨𐐩 x", 0, "𐐀", 0, "", 0, "𐐨𐐩 x"},  // Deseret folds above U+FFFF
    {"éÉ", 0, nullptr, 0xC9, "", 0, "éÉ"},
    {"éÉ", 0, nullptr, 0xC9, "case", 0, "É"},
};

TEST_F(StringModifyTest, FindTableAtEveryWidth) {
  for (const FindCase& c : kFindCases) {
    for (uint32_t unit : {1u, 2u, 4u}) {
      StackSave save;
      Cell hay = text_cell(c.hay, unit);
      hay.set_head(c.head);
      Cell value = c.needle ? text_cell(c.needle) : char_cell(c.cp);
      Cell* r = find_call(kActionFind, hay, value, c.refs, c.n).run();
      EXPECT_EQ(shown(r), c.want) << "find/" << c.refs << " \"" << c.hay << "\" at " << c.head << ", unit "
                                  << unit;
    }
  }
}

TEST_F(StringModifyTest, FindValueKindsAndErrors) {
  StackSave save;
  Cell hay = text_cell("<b>12 %x <i>");
  EXPECT_EQ(shown(Act(kActionFind, {hay, integer_cell(12)}).run()), "12 %x <i>");  // formed
  EXPECT_EQ(shown(Act(kActionFind, {hay, tag("i")}).run()), "<i>");                // with its brackets
  Cell file = *push_text("%X", 1, kTypeFile);
  EXPECT_EQ(shown(Act(kActionFind, {hay, file}).run()), "%x <i>");  // its text, folded
  Cell bytes = raw_series<uint8_t>(kTypeBinary, {'b'});
  EXPECT_EQ(Act(kActionFind, {hay, bytes}).error(), kErrScriptInvalidArg);
  EXPECT_EQ(find_call(kActionFind, hay, char_cell('b'), "skip", 0).error(), kErrScriptOutOfRange);
  EXPECT_EQ(find_call(kActionFind, hay, char_cell('b'), "any", 0).error(), kErrInternalNotDone);
  EXPECT_EQ(Act(kActionFind, {hay, char_cell('b')}).ref("part", text_cell("b")).error(),
            kErrScriptInvalidRefineArg);
  // /part as a position in the same text.
  Cell end = hay;
  end.set_head(3);
  EXPECT_EQ(shown(Act(kActionFind, {hay, char_cell('b')}).ref("part", end).run()), "b>12 %x <i>");
  EXPECT_EQ(shown(Act(kActionFind, {hay, char_cell('2')}).ref("part", end).run()), kNone);
  // A head past a cut tail reads as the tail.
  Cell cut = text_cell("abc");
  cut.set_head(9);
  EXPECT_EQ(shown(Act(kActionFind, {cut, char_cell('c')}).run()), kNone);
  EXPECT_EQ(shown(Act(kActionFind, {cut, char_cell('c')}).ref("reverse").run()), "c");
}

TEST_F(StringModifyTest, SelectAnswersTheElementAfterTheMatch) {
  StackSave save;
  Cell hay = text_cell("abc漢😀");
  Cell* r = Act(kActionSelect, {hay, char_cell('a')}).run();
  ASSERT_TRUE(r->is(kTypeChar));
  EXPECT_EQ(char_get(r), uint32_t('b'));
  EXPECT_TRUE(Act(kActionSelect, {text_cell("abc"), text_cell("bc")}).run()->is(kTypeNone));
  EXPECT_EQ(char_get(Act(kActionSelect, {hay, text_cell("C漢")}).run()), 0x1F600u);
  EXPECT_EQ(char_get(Act(kActionSelect, {text_cell("x<b>y"), tag("b")}).run()), uint32_t('y'));
  EXPECT_EQ(char_get(Act(kActionSelect, {hay, char_cell('b')}).ref("last").run()), uint32_t('c'));
}

// Naive search of [needle] in [hay] from [from], folded to upper case or exact.
int64_t reference_find(const std::vector<uint32_t>& hay, const std::vector<uint32_t>& needle, bool fold,
                       bool last) {
  auto f = [&](uint32_t c) { return fold ? case_map_upper(c) : c; };
  int64_t n = int64_t(hay.size()), m = int64_t(needle.size());
  int64_t found = -1;
  for (int64_t p = 0; p + m <= n; p++) {
    bool ok = true;
    for (int64_t k = 0; k < m && ok; k++) ok = f(hay[size_t(p + k)]) == f(needle[size_t(k)]);
    if (ok) {
      found = p;
      if (!last) break;
    }
  }
  return found;
}

TEST_F(StringModifyTest, FindAgreesWithANaiveSearchOnRandomText) {
  // Letters with several case spellings, over texts long enough that the vector
  // scan, its 64-byte rounds (sparse and dense) and the scalar tail all see matches.
  const uint32_t kAlphabet[] = {'a',  'A',   's',   'S',   0x17F,  'k',     'K',     0x212A,  0xDF, 0xE9,
                                0xC9, 0x3A3, 0x3C3, 0x3C2, 0x6F22, 0x1F600, 0x10428, 0x10400, ' '};
  std::mt19937 rng(7);
  for (int round = 0; round < 300; round++) {
    StackSave save;
    size_t span = 1 + rng() % 19;  // letters used: a narrow alphabet makes partial matches common
    // Some texts long enough for the scan to take the pattern's first unit as common.
    std::vector<uint32_t> hay(round % 10 == 0 ? 4000 + rng() % 8000 : rng() % 400);
    for (uint32_t& c : hay) c = kAlphabet[rng() % span];
    std::vector<uint32_t> needle;
    if (!hay.empty() && rng() % 4) {
      size_t at = rng() % hay.size();
      needle.assign(hay.begin() + long(at), hay.begin() + long(std::min(hay.size(), at + 1 + rng() % 5)));
      for (uint32_t& c : needle)
        if (rng() % 3 == 0) c = case_map(c, rng() % 2);  // another spelling of the same letter
    } else {
      needle.assign(1 + rng() % 3, kAlphabet[rng() % span]);
    }
    Cell* h = string_init_unit(stack_push(), 16, 1u << (rng() % 3));
    for (uint32_t c : hay) append_char(h->node(), c);
    Cell* v = string_init_unit(stack_push(), 16, 1);
    for (uint32_t c : needle) append_char(v->node(), c);
    for (int mode = 0; mode < 4; mode++) {
      bool exact = mode & 1, last = mode & 2;
      Act call(kActionFind, {*h, *v});
      if (exact) call.ref("case");
      if (last) call.ref("last");
      Cell* r = call.run();
      int64_t want = reference_find(hay, needle, !exact, last);
      EXPECT_EQ(r->is(kTypeNone) ? -1 : int64_t(r->head()), want) << "round " << round << " mode " << mode;
    }
  }
}

TEST_F(StringModifyTest, FindAndSelectInBytesAndVectors) {
  StackSave save;
  Cell bytes = raw_series<uint8_t>(kTypeBinary, {1, 'a', 'A', 200, 7});
  EXPECT_EQ(Act(kActionFind, {bytes, integer_cell(200)}).run()->head(), 3);
  EXPECT_EQ(Act(kActionFind, {bytes, char_cell('A')}).run()->head(), 2);  // bytes never fold
  EXPECT_EQ(Act(kActionFind, {bytes, text_cell("aA")}).run()->head(), 1);
  Cell* after = Act(kActionSelect, {bytes, integer_cell(200)}).run();
  ASSERT_TRUE(after->is(kTypeInteger));
  EXPECT_EQ(integer_get(after), 7);
  Cell ints = raw_series<int16_t>(kTypeVector, {5, -3, 300, -3}, kTypeInteger);
  EXPECT_EQ(Act(kActionFind, {ints, integer_cell(-3)}).ref("last").run()->head(), 3);
  Cell* next = Act(kActionSelect, {ints, integer_cell(-3)}).run();
  ASSERT_TRUE(next->is(kTypeInteger));
  EXPECT_EQ(integer_get(next), 300);
  Cell floats = raw_series<double>(kTypeVector, {0.5, 2.25, -1.0}, kTypeFloat);
  Cell quarter = float_cell(2.25);
  EXPECT_EQ(Act(kActionFind, {floats, quarter}).run()->head(), 1);
  Cell* f = Act(kActionSelect, {floats, quarter}).run();
  ASSERT_TRUE(f->is(kTypeFloat));
  EXPECT_EQ(float_get(f), -1.0);
}

TEST_F(StringModifyTest, FindInABitset) {
  StackSave save;
  // Bits for "0"-"9" (48-57): bytes 6 and 7; a complemented set holds every code point past its bits.
  Cell digits = raw_series<uint8_t>(kTypeBitset, {0, 0, 0, 0, 0, 0, 0xFF, 0xC0});
  EXPECT_EQ(shown(Act(kActionFind, {text_cell("ab7漢"), digits}).run()), "7漢");
  EXPECT_EQ(shown(Act(kActionFind, {text_cell("ab漢"), digits}).run()), kNone);
  Cell complement = raw_series<uint8_t>(kTypeBitset, std::vector<uint8_t>(16, 0));  // bits 0-127
  series_buffer(complement.node())->flags |= 0x80000;
  EXPECT_EQ(shown(Act(kActionFind, {text_cell("ab漢"), complement}).run()), "漢");
  EXPECT_TRUE(string_head_in_bitset_q(push_text("5x"), &digits));
  EXPECT_FALSE(string_head_in_bitset_q(push_text("x5"), &digits));
}

// ---------------------------------------------------------------- append, insert, change

TEST_F(StringModifyTest, AppendInsertAndChangeTable) {
  struct Case {
    ActionId id;
    const char* series;
    int32_t head;
    Cell value;
    int32_t part;  // -1: no /part
    int32_t dup;   // 0: no /dup
    bool only;
    const char* whole;   // the whole text after the call
    const char* result;  // the text from the result's head
  };
  StackSave save;
  Cell block = raw_series<Cell>(kTypeBlock, {text_cell("abc"), text_cell("def")});
  const Case cases[] = {
      {kActionAppend, "abc", 1, char_cell(0x20AC), -1, 0, false, "abc€", "abc€"},  // append answers the head
      {kActionAppend, "a", 0, text_cell("xy"), -1, 3, false, "axyxyxy", "axyxyxy"},
      {kActionAppend, "a", 0, text_cell("xy"), -1, -2, false, "a", "a"},  // a /dup below 1 adds nothing
      {kActionAppend, "ab", 0, text_cell("cdef"), 2, 0, false, "abcd", "abcd"},
      {kActionAppend, "", 0, block, -1, 0, false, "abcdef", "abcdef"},
      {kActionAppend, "", 0, block, 1, 0, false, "abc", "abc"},   // counts values
      {kActionAppend, "", 0, block, 4, 0, true, "abcd", "abcd"},  // /only: counts code points
      {kActionAppend, "x", 0, integer_cell(12), -1, 0, false, "x12", "x12"},
      // An integer's digits go straight in: every rule of formed text holds.
      {kActionAppend, "x", 0, integer_cell(INT32_MIN), -1, 0, false, "x-2147483648", "x-2147483648"},
      {kActionAppend, "漢", 0, integer_cell(70), -1, 2, false, "漢7070", "漢7070"},
      {kActionInsert, "ab", 1, integer_cell(7), -1, 3, false, "a777b", "b"},
      {kActionChange, "abcdef", 1, integer_cell(42), 3, 0, false, "a42ef", "ef"},
      {kActionChange, "😀x", 0, integer_cell(0), -1, 0, false, "0x", "x"},
      {kActionAppend, "a", 0, tag("bc"), -1, 0, false, "a<bc>", "a<bc>"},
      {kActionAppend, "a", 0, tag("bc"), 3, 0, false, "a<bc", "a<bc"},
      {kActionAppend, "漢", 0, text_cell("😀x"), -1, 2, false, "漢😀x😀x", "漢😀x😀x"},
      {kActionInsert, "abc", 1, text_cell("XY"), -1, 0, false, "aXYbc", "bc"},
      {kActionInsert, "abc", 1, char_cell('-'), -1, 3, false, "a---bc", "bc"},
      {kActionInsert, "abc", 3, text_cell("XY"), -1, 0, false, "abcXY", ""},
      {kActionInsert, "abc", 9, text_cell("XY"), -1, 0, false, "abcXY", ""},  // a head past the tail
      {kActionInsert, "z", 0, block, 1, 0, false, "az", "z"},                 // insert counts code points
      {kActionInsert, "", 0, block, 4, 0, false, "abcd", ""},                 // also at the tail
      {kActionInsert, "ab", 1, char_cell(0x1F600), -1, 0, false, "a😀b", "b"},
      {kActionChange, "abcdef", 0, text_cell("XY"), -1, 0, false, "XYcdef", "cdef"},
      {kActionChange, "abcdef", 0, text_cell("XY"), 4, 0, false, "XYef", "ef"},
      {kActionChange, "abcdef", 0, text_cell("XY"), 0, 0, false, "XYabcdef", "abcdef"},
      {kActionChange, "abcdef", 4, text_cell("XYZ"), -1, 0, false, "abcdXYZ", ""},  // extends past the tail
      {kActionChange, "abc", 3, text_cell("XY"), -1, 0, false, "abcXY", ""},        // at the tail: appends
      {kActionChange, "abcdef", 1, block, 2, 0, false, "aabcdefdef", "def"},
      {kActionChange, "abcdef", 1, text_cell("é"), -1, 3, false, "aéééef", "ef"},
      {kActionChange, "abc", 0, char_cell(0x6F22), -1, 0, false, "漢bc", "bc"},
  };
  for (const Case& c : cases) {
    for (uint32_t unit : {1u, 4u}) {
      StackSave inner;
      Cell s = text_cell(c.series, unit);
      s.set_head(c.head);
      Act call(c.id, {s, c.value});
      if (c.part >= 0) call.ref("part", integer_cell(c.part));
      if (c.only) call.ref("only");
      if (c.dup) call.ref("dup", integer_cell(c.dup));
      Cell* r = call.run();
      EXPECT_EQ(whole(*r), c.whole) << g_actions_table[c.id].word << " \"" << c.series << "\", unit " << unit;
      EXPECT_EQ(text_of(*r), c.result)
          << g_actions_table[c.id].word << " \"" << c.series << "\", unit " << unit;
    }
  }
}

// append of a text with no refinement, which compiled calls run by its
// handler, taking a short way when the units agree and the room is there: the text from its own head
// (clamped), nothing for an empty one, and the other ways when it does not fit.
TEST_F(StringModifyTest, AppendingATextTakesItFromItsHead) {
  struct Case {
    const char* series;
    uint32_t unit;
    int32_t head;
    const char* value;
    uint32_t value_unit;
    int32_t value_head;
    const char* whole;
    const char* result;  // the text from the result's head
  };
  const std::string long_text(40, 'q');
  const Case cases[] = {
      {"ab", 1, 1, "xyz", 1, 0, "abxyz", "abxyz"},
      {"ab", 1, 1, "xyz", 1, 2, "abz", "abz"},
      {"ab", 1, 1, "xyz", 1, -5, "abxyz", "abxyz"},  // a head below 0 reads from the first unit
      {"ab", 1, 1, "xyz", 1, 3, "ab", "b"},          // nothing added: the series as it was
      {"ab", 1, 1, "xyz", 1, 9, "ab", "b"},
      {"ab", 1, 1, "", 1, 0, "ab", "b"},
      {"ab", 1, 0, "é漢", 2, 1, "ab漢", "ab漢"},  // widens
      {"漢", 2, 0, "xy", 1, 0, "漢xy", "漢xy"},
      {"漢", 2, 0, "😀", 4, 0, "漢😀", "漢😀"},
      {"ab", 4, 1, "cd", 4, 0, "abcd", "abcd"},
      {"ab", 1, 0, long_text.c_str(), 1, 0, nullptr, nullptr},  // grows
  };
  for (const Case& c : cases) {
    const std::string expected = c.whole ? c.whole : std::string(c.series) + c.value;
    // The action's entry, and action_append_text as compiled calls run it.
    for (bool entry : {true, false}) {
      StackSave save;
      Cell* s = stack_push_value(text_cell(c.series, c.unit));
      s->set_head(c.head);
      Cell* v = stack_push_value(text_cell(c.value, c.value_unit));
      v->set_head(c.value_head);
      Cell* r = entry ? Act(kActionAppend, {*s, *v}).run() : action_append_text(s, v);
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(whole(*r), expected) << c.series << " + " << c.value << " from " << c.value_head << ", "
                                     << entry;
      EXPECT_EQ(text_of(*r), c.result ? c.result : expected)
          << c.series << " + " << c.value << " from " << c.value_head << ", " << entry;
    }
  }
}

TEST_F(StringModifyTest, AddingAStringToItselfReadsItAsItWas) {
  StackSave save;
  Cell s = text_cell("abc");
  EXPECT_EQ(whole(*Act(kActionAppend, {s, s}).run()), "abcabc");
  Cell t = text_cell("abc");
  Cell at1 = t;
  at1.set_head(1);
  EXPECT_EQ(whole(*Act(kActionInsert, {at1, t}).run()), "aabcbc");
  Cell u = text_cell("abcdef");
  Cell u1 = u;
  u1.set_head(1);
  EXPECT_EQ(whole(*Act(kActionChange, {u1, u}).run()), "aabcdef");
  Cell v = text_cell("abcdef");
  Cell v3 = v;
  v3.set_head(3);  // the source lies after the changed region
  EXPECT_EQ(whole(*Act(kActionChange, {v, v3}).run()), "defdef");
  Cell w = text_cell("ab漢");
  Cell w2 = w;
  w2.set_head(2);
  EXPECT_EQ(whole(*Act(kActionInsert, {w, w2}).ref("dup", integer_cell(2)).run()), "漢漢ab漢");
}

TEST_F(StringModifyTest, WideningFollowsTheAddedText) {
  StackSave save;
  Cell s = text_cell("abc");
  Act(kActionAppend, {s, char_cell(0xE9)}).run();  // appending from U+0080 widens
  EXPECT_EQ(string_unit(&s), 2u);
  Cell t = text_cell("abc");
  Act(kActionAppend, {t, text_cell("é")}).run();  // 8-bit text keeps one byte
  EXPECT_EQ(string_unit(&t), 1u);
  Act(kActionInsert, {t, text_cell("😀")}).run();
  EXPECT_EQ(string_unit(&t), 4u);
  EXPECT_EQ(code_points(t), (std::vector<uint32_t>{0x1F600, 'a', 'b', 'c', 0xE9}));
}

TEST_F(StringModifyTest, OversizedTextsRaiseNoMemoryAndChangeNothing) {
  StackSave save;
  Cell s = text_cell("abc");
  Cell big = text_cell("xyz");
  EXPECT_EQ(Act(kActionAppend, {s, big}).ref("dup", integer_cell(1 << 30)).error(), kErrInternalNoMemory);
  EXPECT_EQ(Act(kActionChange, {s, big}).ref("dup", integer_cell(1 << 30)).error(), kErrInternalNoMemory);
  EXPECT_EQ(Act(kActionAppend, {s, text_cell("x")}).ref("dup", text_cell("2")).error(), kErrScriptInvalidArg);
  EXPECT_EQ(whole(s), "abc");
}

TEST_F(StringModifyTest, OwnedStringsTakeTheSamePaths) {
  // The owner hears about each change (nothing listens yet): the results are those of any string.
  StackSave save;
  auto owned = [](const char* t) {
    Cell s = text_cell(t);
    series_buffer(s.node())->flags |= kSeriesOwned;
    return s;
  };
  Cell s = owned("ab");
  Act(kActionAppend, {s, char_cell('c')}).run();
  Act(kActionInsert, {s, text_cell("漢")}).run();
  Act(kActionChange, {s, char_cell('x')}).ref("part", integer_cell(2)).run();
  EXPECT_EQ(whole(s), "xbc");
  Act(kActionSort, {s}).ref("reverse").run();
  Act(kActionTrim, {s}).ref("with", char_cell('b')).run();
  EXPECT_EQ(whole(s), "xc");
  Cell t = owned("q");
  Act(kActionSwap, {s, t}).run();
  EXPECT_EQ(whole(s) + whole(t), "qcx");
  change_case(&s, nullptr, true);
  EXPECT_EQ(char_get(Act(kActionTake, {s}).ref("last").run()), uint32_t('C'));
  EXPECT_EQ(whole(s), "Q");
}

// ---------------------------------------------------------------- take and swap

TEST_F(StringModifyTest, TakeGivesAnElementOrAString) {
  StackSave save;
  Cell s = text_cell("a漢😀");
  Cell* first = Act(kActionTake, {s}).run();
  ASSERT_TRUE(first->is(kTypeChar));
  EXPECT_EQ(char_get(first), uint32_t('a'));
  Cell* last = Act(kActionTake, {s}).ref("last").run();
  EXPECT_EQ(char_get(last), 0x1F600u);
  EXPECT_EQ(whole(s), "漢");
  Cell* part = Act(kActionTake, {s}).ref("part", integer_cell(1)).run();
  ASSERT_TRUE(part->is(kTypeString));
  EXPECT_EQ(text_of(*part), "漢");
  EXPECT_TRUE(Act(kActionTake, {s}).run()->is(kTypeNone));
  Cell bytes = raw_series<uint8_t>(kTypeBinary, {9, 8});
  Cell* byte = Act(kActionTake, {bytes}).run();
  ASSERT_TRUE(byte->is(kTypeInteger));
  EXPECT_EQ(integer_get(byte), 9);
}

TEST_F(StringModifyTest, SwapExchangesTheHeadCodePoints) {
  StackSave save;
  Cell a = text_cell("ab");
  Cell b = text_cell("漢x");
  Cell* r = Act(kActionSwap, {a, b}).run();
  EXPECT_EQ(text_of(*r), "漢b");
  EXPECT_EQ(text_of(b), "ax");
  EXPECT_EQ(string_unit(&a), 2u);
  Cell at_tail = text_cell("q");
  at_tail.set_head(1);
  Act(kActionSwap, {a, at_tail}).run();
  EXPECT_EQ(text_of(a), "漢b");
  Cell bytes = raw_series<uint8_t>(kTypeBinary, {1, 2});
  EXPECT_EQ(Act(kActionSwap, {bytes, a}).error(), kErrScriptInvalidArg);  // U+6F22 is no byte
  EXPECT_EQ(series_buffer(bytes.node())->head_ptr()[0], 1);
  Act(kActionSwap, {bytes, text_cell("é")}).run();
  EXPECT_EQ(series_buffer(bytes.node())->head_ptr()[0], 0xE9);
  EXPECT_EQ(Act(kActionSwap, {a, integer_cell(1)}).error(), kErrScriptInvalidArg);
  EXPECT_EQ(text_of(a), "漢b");
}

// ---------------------------------------------------------------- trim

TEST_F(StringModifyTest, TrimTable) {
  struct Case {
    const char* in;
    std::vector<const char*> flags;
    const char* with;  // the /with text, or null
    const char* want;
  };
  const Case cases[] = {
      {"  a  b  ", {}, nullptr, "a  b"},
      {"  a  \n  b  ", {}, nullptr, "a\nb"},
      {" a \t\n\tb\r\n c ", {}, nullptr, "a\nb\r\nc"},  // CR is no blank: it stays before the line feed
      {"\n\n a\n  \n", {}, nullptr, "a\n"},             // a line feed cut from the end leaves one
      {"\u3000a\u00A0b\u2003", {}, nullptr, "a\u00A0b"},
      {"  a \n b  ", {"lines"}, nullptr, "a b"},
      {"x\u3000\u3000y\n", {"lines"}, nullptr, "x y"},
      {" a\tb\r\nc \u00A0", {"all"}, nullptr, "abc\u00A0"},
      {"abca", {}, "a", "bc"},
      {"a漢b😀c", {}, "漢😀", "abc"},
      {"abc", {}, "", "abc"},
      {"  a  ", {"head"}, nullptr, "a  "},
      {"  a  ", {"tail"}, nullptr, "  a"},
      {" \n a \n ", {"head", "tail"}, nullptr, "a"},
      {"", {}, nullptr, ""},
  };
  for (const Case& c : cases) {
    for (uint32_t unit : {1u, 2u, 4u}) {
      StackSave save;
      Cell s = text_cell(c.in, unit);
      Act call(kActionTrim, {s});
      for (const char* f : c.flags) call.ref(f);
      if (c.with) call.ref("with", text_cell(c.with));
      EXPECT_EQ(text_of(*call.run()), c.want) << "trim \"" << c.in << "\", unit " << unit;
    }
  }
  StackSave save;
  Cell s = text_cell("  xyz  ");
  s.set_head(2);  // trims from the head only
  Act(kActionTrim, {s}).run();
  EXPECT_EQ(whole(s), "  xyz");
  EXPECT_EQ(Act(kActionTrim, {s}).ref("auto").error(), kErrInternalNotDone);
  EXPECT_EQ(text_of(*Act(kActionTrim, {text_cell("x-y")}).ref("with", char_cell('-')).run()), "xy");
  EXPECT_EQ(Act(kActionTrim, {s}).ref("with", make_cell(kTypeNone)).error(), kErrScriptInvalidRefineArg);
}

// ---------------------------------------------------------------- sort

TEST_F(StringModifyTest, SortTable) {
  struct Case {
    const char* in;
    std::vector<const char*> flags;
    int32_t skip;     // 0: none
    int32_t compare;  // 0: none
    const char* want;
  };
  const Case cases[] = {
      {"cBa", {}, 0, 0, "aBc"},
      {"cBa", {"case"}, 0, 0, "Bac"},
      {"abc", {"reverse"}, 0, 0, "cba"},
      {"b1a2", {}, 2, 0, "a2b1"},
      {"a2b1", {}, 2, 2, "b1a2"},
      {"b2b1a3", {"all"}, 2, 0, "a3b1b2"},
      {"bAaB", {"stable"}, 0, 0, "AabB"},  // equal keys keep their order
      {"bAaB", {"stable", "reverse"}, 0, 0, "bBAa"},
      {"bAaB", {"stable", "case"}, 0, 0, "ABab"},
      {"èÉ", {}, 0, 0, "èÉ"},  // folded to lower case at every width: è before é
      {"😀漢zé", {}, 0, 0, "zé漢😀"},
      {"ΣβΑ", {}, 0, 0, "ΑβΣ"},
      {"", {}, 2, 0, ""},
  };
  for (const Case& c : cases) {
    for (uint32_t unit : {1u, 2u, 4u}) {
      StackSave save;
      Cell s = text_cell(c.in, unit);
      Act call(kActionSort, {s});
      for (const char* f : c.flags) call.ref(f);
      if (c.skip) call.ref("skip", integer_cell(c.skip));
      if (c.compare) call.ref("compare", integer_cell(c.compare));
      EXPECT_EQ(text_of(*call.run()), c.want) << "sort \"" << c.in << "\", unit " << unit;
    }
  }
}

TEST_F(StringModifyTest, SortPartsAndErrors) {
  StackSave save;
  Cell s = text_cell("dcba");
  s.set_head(3);
  Cell* r = Act(kActionSort, {s}).ref("part", integer_cell(-2)).run();  // the two before the head
  EXPECT_EQ(r->head(), 1);
  EXPECT_EQ(whole(*r), "dbca");
  Cell t = text_cell("dcba");
  Cell end = t;
  end.set_head(3);
  EXPECT_EQ(whole(*Act(kActionSort, {t}).ref("part", end).run()), "bcda");
  Cell u = text_cell("dcba");
  EXPECT_EQ(Act(kActionSort, {u}).ref("all").error(), kErrScriptBadRefines);
  EXPECT_EQ(Act(kActionSort, {u}).ref("skip", integer_cell(3)).error(), kErrScriptInvalidRefineArg);
  EXPECT_EQ(Act(kActionSort, {u}).ref("skip", integer_cell(0)).error(), kErrScriptInvalidRefineArg);
  EXPECT_EQ(Act(kActionSort, {u}).ref("compare", integer_cell(1)).error(), kErrScriptBadRefines);
  EXPECT_EQ(Act(kActionSort, {u}).ref("skip", integer_cell(2)).ref("compare", integer_cell(3)).error(),
            kErrScriptOutOfRange);
  EXPECT_EQ(Act(kActionSort, {u}).ref("compare", text_cell("x")).error(), kErrScriptInvalidRefineArg);
  EXPECT_EQ(Act(kActionSort, {u}).ref("part", text_cell("x")).error(), kErrScriptInvalidRefineArg);
  // Without the interpreter a comparison function is not done, and the text stays as it was.
  CallValueFn saved = g_hooks.call_value;
  g_hooks.call_value = nullptr;
  EXPECT_EQ(Act(kActionSort, {u}).ref("compare", make_cell(kTypeFunction)).error(), kErrInternalNotDone);
  EXPECT_EQ(Act(kActionSort, {u}).ref("stable").ref("compare", make_cell(kTypeFunction)).error(),
            kErrInternalNotDone);
  g_hooks.call_value = saved;
  EXPECT_EQ(whole(u), "dcba");
}

TEST_F(StringModifyTest, SortBytesAndVectors) {
  StackSave save;
  Cell bytes = raw_series<uint8_t>(kTypeBinary, {'b', 'a', 'A', 200});
  Act(kActionSort, {bytes}).run();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(series_buffer(bytes.node())->head_ptr()), 4), "Aab\xC8");
  Cell ints = raw_series<int16_t>(kTypeVector, {300, -5, 7, -300}, kTypeInteger);
  Act(kActionSort, {ints}).run();
  int16_t got[4];
  std::memcpy(got, series_buffer(ints.node())->head_ptr(), sizeof got);
  EXPECT_EQ(std::vector<int16_t>(got, got + 4), (std::vector<int16_t>{-300, -5, 7, 300}));
  Cell floats = raw_series<float>(kTypeVector, {1.5f, -2.0f, 0.25f}, kTypeFloat);
  Act(kActionSort, {floats}).ref("reverse").run();
  float f[3];
  std::memcpy(f, series_buffer(floats.node())->head_ptr(), sizeof f);
  EXPECT_EQ(std::vector<float>(f, f + 3), (std::vector<float>{1.5f, 0.25f, -2.0f}));
}

TEST_F(StringModifyTest, StableSortKeepsTheOrderOfEqualKeysOnLongTexts) {
  // Every letter in both cases many times: stability is visible in the order of
  // the two spellings within each key.
  StackSave save;
  std::mt19937 rng(3);
  std::vector<uint32_t> in(5000);
  for (uint32_t& c : in) c = (rng() % 2 ? 'a' : 'A') + rng() % 26;
  Cell* s = string_init_unit(stack_push(), 16, 2);
  for (uint32_t c : in) append_char(s->node(), c);
  Act(kActionSort, {*s}).ref("stable").run();
  std::vector<uint32_t> want = in;
  std::stable_sort(want.begin(), want.end(),
                   [](uint32_t x, uint32_t y) { return case_map_lower(x) < case_map_lower(y); });
  EXPECT_EQ(code_points(*s), want);
}

// ---------------------------------------------------------------- set operations

TEST_F(StringModifyTest, SetOperations) {
  struct Case {
    int32_t op;
    const char* a;
    const char* b;
    bool case_sensitive;
    int32_t skip;
    const char* want;
  };
  const Case cases[] = {
      {8, "aAbB", "", false, 0, "ab"},     {8, "aAbB", "", true, 0, "aAbB"},
      {9, "ab", "bc", false, 0, "abc"},    {9, "ab", "BC", false, 0, "abC"},
      {10, "abc", "cb", false, 0, "bc"},   {11, "abc", "B", false, 0, "ac"},
      {11, "abc", "B", true, 0, "abc"},    {12, "ab", "bc", false, 0, "ac"},
      {8, "a1a2b3", "", false, 2, "a1b3"}, {9, "a1", "b2a3c", false, 2, "a1b2c"},
      {9, "ab", "漢😀", false, 0, "ab漢😀"}, {12, "Straße", "STRAßS", false, 0, "e"},  // ß folds to itself
  };
  for (const Case& c : cases) {
    StackSave save;
    Cell* a = push_text(c.a);
    Cell* b = push_text(c.b);
    Cell skip = integer_cell(c.skip);
    series_set_op(a, b, {SetOp(c.op), c.case_sensitive, {c.skip ? &skip : nullptr}});
    EXPECT_EQ(text_of(*a), c.want) << c.op << " \"" << c.a << "\" \"" << c.b << "\"";
    EXPECT_EQ(a->head(), 0);
  }
  StackSave save;
  Cell* a = push_text("ab");
  Cell zero = integer_cell(0);
  EXPECT_EQ(catch_error([&] {
              series_set_op(a, a, {kSetUnique, false, {&zero}});
            }),
            kErrScriptInvalidRefineArg);
  Cell bytes = raw_series<uint8_t>(kTypeBinary, {1});
  EXPECT_EQ(catch_error([&] { series_set_op(a, &bytes, {kSetUnion, false, {}}); }), kErrScriptInvalidArg);
  Cell* file = push_text("x", 1, kTypeFile);
  series_set_op(file, a, {kSetUnion, false, {}});
  EXPECT_TRUE(file->is(kTypeFile));
  EXPECT_EQ(text_of(*file), "xab");
}

// ---------------------------------------------------------------- change_case and PARSE tests

TEST_F(StringModifyTest, ChangeCase) {
  StackSave save;
  // A letter whose upper case is several letters keeps itself, or takes its
  // title-case form: no letter is dropped.
  Cell* s = push_text("straße ﬀ ᾀ");
  change_case(s, nullptr, true);
  EXPECT_EQ(text_of(*s), "STRAßE ﬀ ᾈ");
  change_case(s, nullptr, false);
  EXPECT_EQ(text_of(*s), "straße ﬀ ᾀ");
  Cell* y = push_text("aÿ");
  ASSERT_EQ(string_unit(y), 1u);
  change_case(y, nullptr, true);
  EXPECT_EQ(code_points(*y), (std::vector<uint32_t>{'A', 0x178}));
  EXPECT_EQ(string_unit(y), 2u);
  Cell* p = push_text("abcdef");
  Cell three = integer_cell(3);
  change_case(p, &three, true);
  EXPECT_EQ(text_of(*p), "ABCdef");
  Cell* q = push_text("ABCDEF");
  Cell* q4 = stack_push_cell(q);
  q4->set_head(4);
  q->set_head(1);
  change_case(q, q4, false);
  EXPECT_EQ(whole(*q), "AbcdEF");
  Cell* other = push_text("x");
  EXPECT_EQ(catch_error([&] { change_case(q, other, false); }), kErrScriptInvalidRefineArg);
  Cell* deseret = push_text("𐐨𞤢");
  change_case(deseret, nullptr, true);
  EXPECT_EQ(code_points(*deseret), (std::vector<uint32_t>{0x10400, 0x1E900}));
  Cell dz = char_cell(0x1C5);
  EXPECT_EQ(char_get(change_case(&dz, nullptr, true)), 0x1C4u);
  dz = char_cell(0x1C5);
  EXPECT_EQ(char_get(change_case(&dz, nullptr, false)), 0x1C6u);
}

TEST_F(StringModifyTest, ParseHeadTests) {
  StackSave save;
  Cell* s = push_text("<B>x");
  EXPECT_TRUE(string_match_head_q(s, push_text("<b"), kCmpEqual));
  EXPECT_FALSE(string_match_head_q(s, push_text("<b"), kCmpStrictEqual));
  Cell t = tag("b");
  EXPECT_TRUE(string_match_head_q(s, &t, kCmpEqual));
  EXPECT_FALSE(string_match_head_q(s, &t, kCmpStrictEqual));
  Cell lt = char_cell('<');
  EXPECT_TRUE(string_match_head_q(s, &lt, kCmpEqual));
  s->set_head(3);
  EXPECT_FALSE(string_match_head_q(s, &t, kCmpEqual));
  EXPECT_FALSE(string_match_head_q(s, &lt, kCmpEqual));
}

}  // namespace
}  // namespace kiv
