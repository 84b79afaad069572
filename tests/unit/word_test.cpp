// The word types and issue!: make and to from every kind of spec, form and
// mold with their prefixes and the /part budget, the compare operators,
// index?, names, getting and setting through words, the word syntax check,
// and the runtime word cache (its order, spellings and frame names).
#include "datatypes/word.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/gc_root.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"
#include "tests/unit/kiv_test.h"

namespace kiv {
namespace {

using test::Act;
using test::call_action;
using test::catch_error;
using test::form_of;
using test::make;
using test::mold_of;
using test::text_cell;
using test::text_of;
using test::to;
using test::word;

// ---------------------------------------------------------------- form and mold

TEST(WordTest, FormAndMoldWriteEachTypesAffix) {
  struct Case {
    TypeId type;
    const char* mold;
  } cases[] = {
      {kTypeWord, "abc"},     {kTypeLitWord, "'abc"},    {kTypeSetWord, "abc:"},
      {kTypeGetWord, ":abc"}, {kTypeRefinement, "/abc"}, {kTypeIssue, "#abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mold);
    Cell w = word("abc", c.type);
    EXPECT_EQ(form_of(w), "abc");
    EXPECT_EQ(mold_of(w), c.mold);
    EXPECT_EQ(mold_of(w, true), c.mold);
  }
}

TEST(WordTest, NamesKeepTheirSpellingAndNonAsciiText) {
  EXPECT_EQ(mold_of(word("Hello")), "Hello");
  EXPECT_EQ(mold_of(word("HELLO", kTypeLitWord)), "'HELLO");
  EXPECT_EQ(mold_of(word("héllo-ψ", kTypeSetWord)), "héllo-ψ:");
  EXPECT_EQ(form_of(word("日本", kTypeIssue)), "日本");
}

TEST(WordTest, AffixIsWrittenEvenWhenTheBudgetIsUsedUp) {
  struct Case {
    TypeId type;
    int32_t limit;
    const char* text;
    int32_t remaining;
  } cases[] = {
      {kTypeLitWord, 0, "'", -4}, {kTypeGetWord, 2, ":a", -2},   {kTypeRefinement, 1, "/", -3},
      {kTypeIssue, 0, "#", -4},   {kTypeSetWord, 0, ":", -4},    {kTypeSetWord, 2, "ab:", -2},
      {kTypeWord, 2, "ab", -1},   {kTypeLitWord, 10, "'abc", 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    StackSave save;
    Cell* value = stack_push_value(word("abc", c.type));
    Cell* limit = stack_push_value(integer_cell(c.limit));
    Cell* buffer = string_make_at(stack_push(), 16);
    EXPECT_EQ(action_mold(value, test::mold_into(buffer, c.limit, limit)), c.remaining);
    EXPECT_EQ(text_of(*buffer), c.text);
  }
}

TEST(WordTest, MoldPartThroughTheEntryCutsTheText) {
  Cell w = word("abcdef", kTypeLitWord);
  Cell m = Act(kActionMold, {w}).ref("part", integer_cell(3)).value();
  EXPECT_EQ(text_of(m), "'ab");
}

// ---------------------------------------------------------------- compare

TEST(WordTest, CompareOperators) {
  Node other_ctx = context_create(4, false, false, 0, kContextPlain);
  Root keep(series_cell(kTypeBlock, other_ctx));
  Cell bound_elsewhere = word("cmp-a");
  ASSERT_GE(context_add_word_unset(other_ctx, &bound_elsewhere), 0);
  context_bind_word(other_ctx, &bound_elsewhere);

  struct Case {
    const char* what;
    Cell a, b;
    CompareOp op;
    int expected;
  } cases[] = {
      {"a = A", word("cmp-a"), word("CMP-A"), kCmpEqual, 0},
      {"a = a:", word("cmp-a"), word("cmp-a", kTypeSetWord), kCmpEqual, 0},
      {"a = :A", word("cmp-a"), word("CMP-A", kTypeGetWord), kCmpFindEqual, 0},
      {"a = b", word("cmp-a"), word("cmp-b"), kCmpEqual, 1},
      {"a == A", word("cmp-a"), word("CMP-A"), kCmpStrictEqual, 1},
      {"a == a:", word("cmp-a"), word("cmp-a", kTypeSetWord), kCmpStrictEqual, 1},
      {"a == a", word("cmp-a"), word("cmp-a"), kCmpStrictEqual, 0},
      {"same, other context", word("cmp-a"), bound_elsewhere, kCmpSame, 1},
      {"same, same context", word("cmp-a"), word("cmp-a"), kCmpSame, 0},
      {"word vs lit-word, op 10", word("cmp-a"), word("cmp-a", kTypeLitWord), kCmpWordEqual, 0},
      {"lit-word vs word, op 10", word("cmp-a", kTypeLitWord), word("cmp-a"), kCmpWordEqual, 0},
      {"op 10 is exact", word("cmp-a"), word("CMP-A", kTypeLitWord), kCmpWordEqual, 1},
      {"op 11 ignores case", word("cmp-a"), word("CMP-A", kTypeLitWord), kCmpWordCanonEqual, 0},
      {"op 10 other types", word("cmp-a"), word("cmp-a", kTypeSetWord), kCmpWordEqual, 1},
      {"issue vs word", word("cmp-a", kTypeIssue), word("cmp-a"), kCmpEqual, kNotComparable},
      {"word vs issue", word("cmp-a"), word("cmp-a", kTypeIssue), kCmpEqual, kNotComparable},
      {"issue vs issue", word("cmp-a", kTypeIssue), word("CMP-A", kTypeIssue), kCmpEqual, 0},
      {"refinement vs word", word("cmp-a", kTypeRefinement), word("cmp-a"), kCmpEqual, 0},
      {"word vs integer", word("cmp-a"), integer_cell(1), kCmpEqual, kNotComparable},
      {"apple < Banana", word("apple"), word("Banana"), kCmpLesser, -1},
      {"sort folds case", word("apple"), word("Banana"), kCmpSort, -1},
      {"case sort does not", word("apple"), word("Banana"), kCmpCaseSort, 1},
      {"prefix sorts first", word("app"), word("apple"), kCmpSort, -1},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    StackSave save;
    Cell* a = stack_push_value(c.a);
    Cell* b = stack_push_value(c.b);
    EXPECT_EQ(action_compare_values(a, b, c.op), c.expected);
  }
}

// ---------------------------------------------------------------- make and to

TEST(WordTest, MakeAndToFromEachKindOfSpec) {
  struct Case {
    TypeId type;
    Cell spec;
    const char* mold;
  } cases[] = {
      {kTypeWord, text_cell("a:"), "a"},
      {kTypeWord, text_cell("  spaced\t"), "spaced"},
      {kTypeWord, text_cell("'quoted"), "quoted"},
      {kTypeWord, text_cell(":got"), "got"},
      {kTypeWord, text_cell("/ref"), "ref"},
      {kTypeWord, text_cell("#iss"), "iss"},
      {kTypeWord, text_cell("<="), "<="},
      {kTypeWord, text_cell("-"), "-"},
      {kTypeWord, text_cell("/"), "/"},
      {kTypeWord, text_cell("a-b?"), "a-b?"},
      {kTypeSetWord, text_cell("foo"), "foo:"},
      {kTypeLitWord, word("x", kTypeGetWord), "'x"},
      {kTypeWord, word("abc", kTypeIssue), "abc"},
      {kTypeGetWord, word("abc", kTypeRefinement), ":abc"},
      {kTypeRefinement, text_cell("x"), "/x"},
      {kTypeGetWord, char_cell('a'), ":a"},
      {kTypeWord, datatype_cell(kTypeInteger), "integer!"},
      {kTypeWord, kTrueCell, "true"},
      {kTypeSetWord, kFalseCell, "false:"},
      {kTypeIssue, text_cell("12"), "#12"},
      {kTypeIssue, text_cell("a b"), "#a b"},
      {kTypeIssue, word("abc", kTypeSetWord), "#abc"},
      {kTypeIssue, char_cell(0x3C8), "#ψ"},
      {kTypeIssue, datatype_cell(kTypeBlock), "#block!"},
      {kTypeIssue, kTrueCell, "#true"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.mold);
    Cell made = *make(c.type, c.spec);
    EXPECT_EQ(made.type(), c.type);
    EXPECT_EQ(mold_of(made), c.mold);
    EXPECT_EQ(mold_of(*to(c.type, c.spec)), c.mold);
  }
}

TEST(WordTest, MakeRefusesWhatIsNotAWord) {
  struct Case {
    TypeId type;
    Cell spec;
    ErrorId error;
  } cases[] = {
      {kTypeWord, text_cell("12"), kErrScriptInvalidChars},
      {kTypeWord, text_cell("a b"), kErrScriptInvalidChars},
      {kTypeWord, text_cell(""), kErrScriptInvalidChars},
      {kTypeWord, text_cell("1.5"), kErrScriptInvalidChars},
      {kTypeWord, text_cell("-1"), kErrScriptInvalidChars},
      {kTypeWord, text_cell("+.5"), kErrScriptInvalidChars},
      {kTypeWord, text_cell("a/b"), kErrScriptInvalidChars},
      {kTypeWord, text_cell("http://x"), kErrScriptInvalidChars},
      {kTypeWord, text_cell("$1"), kErrScriptInvalidChars},
      {kTypeWord, text_cell("FFh"), kErrScriptInvalidChars},
      {kTypeWord, text_cell("a@b"), kErrScriptInvalidChars},
      {kTypeWord, text_cell("<tag>"), kErrScriptInvalidChars},
      {kTypeWord, text_cell("\"s\""), kErrScriptInvalidChars},
      {kTypeWord, text_cell(":a:"), kErrScriptInvalidChars},
      {kTypeWord, text_cell("'a:"), kErrScriptInvalidChars},
      {kTypeWord, char_cell(':'), kErrScriptInvalidChars},
      {kTypeWord, *make(kTypeIssue, text_cell("12")), kErrScriptBadToArg},
      {kTypeWord, *make(kTypeIssue, text_cell(":a")), kErrScriptBadToArg},
      {kTypeWord, *make(kTypeIssue, text_cell("a:")), kErrScriptBadToArg},
      {kTypeWord, integer_cell(3), kErrScriptBadToArg},
      {kTypeIssue, integer_cell(3), kErrScriptBadToArg},
      {kTypeRefinement, kNoneCell, kErrScriptBadToArg},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(error_info(c.error).word);
    EXPECT_EQ(catch_error([&] { make(c.type, c.spec); }), c.error);
  }
  // bad-to-arg names the target type and the spec.
  Cell spec = integer_cell(3);
  catch_error([&] { make(kTypeSetWord, spec); });
  EXPECT_EQ(mold_of(last_raised_error().args[0]), "set-word!");
  EXPECT_EQ(integer_get(&last_raised_error().args[1]), 3);
}

TEST(WordTest, MadeWordsAreBoundInTheGlobalContext) {
  Cell w = *make(kTypeWord, text_cell("made-global"));
  EXPECT_EQ(word_context(&w), g_global_context);
  EXPECT_EQ(word_index(&w), context_find_symbol(g_global_context, word_symbol(&w), false));
  // A word retyped from an issue binds when its name is a global word.
  Cell issue = *make(kTypeIssue, text_cell("made-global"));
  EXPECT_EQ(word_index(&issue), -1);
  Cell back = *make(kTypeWord, issue);
  EXPECT_EQ(word_index(&back), word_index(&w));
}

// ---------------------------------------------------------------- index?, names, values

TEST(WordTest, IndexQ) {
  Node ctx = context_create(4, false, false, 0, kContextPlain);
  Root keep(series_cell(kTypeBlock, ctx));
  Cell first = word("idx-first");
  context_add_word_unset(ctx, &first);
  context_bind_word(ctx, &first);
  EXPECT_EQ(test::integer_of(call_action(kActionIndexQ, {first})), 1);
  Cell unresolved = word_cell(kTypeLitWord, g_global_context, word_symbol(&first), -1);
  EXPECT_TRUE(call_action(kActionIndexQ, {unresolved}).is(kTypeNone));
  EXPECT_EQ(catch_error([&] { call_action(kActionIndexQ, {word("x", kTypeRefinement)}); }),
            kErrScriptExpectArg);
  EXPECT_EQ(catch_error([&] { call_action(kActionIndexQ, {word("x", kTypeIssue)}); }), kErrScriptExpectArg);
}

TEST(WordTest, PushWordNameGivesACopy) {
  Cell w = word("name-copy");
  Cell* name = push_word_name(&w);
  EXPECT_EQ(text_of(*name), "name-copy");
  string_append_c_string(name, "-changed");
  EXPECT_EQ(form_of(w), "name-copy");
  EXPECT_EQ(symbol_name(word_symbol(&w)), "name-copy");
}

TEST(WordTest, GetAndSetThroughWords) {
  Cell* w = stack_push_value(word("value-holder"));
  EXPECT_EQ(catch_error([&] { word_get(w); }), kErrScriptNoValue);
  EXPECT_TRUE(push_word_value(w)->is(kTypeUnset));

  // set-word: argument 1 the word, argument 2 the value; the value is the result.
  {
    StackSave save;
    open_native_frame({});
    stack_push_value(*w);
    stack_push_value(integer_cell(42));
    Cell* result = set_word();
    EXPECT_EQ(integer_get(result), 42);
  }
  EXPECT_EQ(integer_get(word_get(w)), 42);
  Cell upper = word("VALUE-HOLDER");
  EXPECT_EQ(integer_get(word_get(&upper)), 42);

  EXPECT_EQ(catch_error([&] {
              open_native_frame({});
              stack_push_value(*w);
              stack_push_value(kUnsetCell);
              set_word();
            }),
            kErrScriptNeedValue);
  EXPECT_EQ(integer_get(word_get(w)), 42);
}

TEST(WordTest, NameAndWhereWords) {
  Cell n = name_word_cell("value2");
  EXPECT_TRUE(n.is(kTypeWord));
  EXPECT_EQ(word_context(&n), g_global_context);
  EXPECT_EQ(mold_of(n), "value2");

  EXPECT_EQ(mold_of(where_word_cell()), "<not-found>");
  StackSave save;
  Cell caller = word("my-caller");
  open_native_frame(frame_name_of(&caller));
  Cell body = runtime_value(kWordBody);
  open_native_frame(frame_name_of(&body));  // <body> frames are skipped
  EXPECT_EQ(mold_of(where_word_cell()), "my-caller");
}

TEST(WordTest, LoadedRefinementsAndIssues) {
  Cell r = load_refinement("opt-a");
  EXPECT_EQ(word_context(&r), 0u);
  EXPECT_EQ(mold_of(r), "/opt-a");
  Cell* i = issue_init_cell(stack_push(), "tag-1");
  EXPECT_EQ(mold_of(*i), "#tag-1");
  EXPECT_EQ(word_index(i), -1);

  Cell* block = stack_push_value(series_cell(kTypeBlock, series_alloc_cells(1)));
  issue_make_at("first", block);
  issue_make_at("second", block);
  SeriesBuffer* b = series_buffer(block->node());
  ASSERT_EQ(b->length(), 2u);
  EXPECT_EQ(symbol_name(word_symbol(&b->cells()[1])), "second");
}

// ---------------------------------------------------------------- word syntax

TEST(WordTest, ScanWordText) {
  struct Case {
    const char* text;
    TypeId type;  // kTypeNil: not a word
    const char* name;
  } cases[] = {
      {"abc", kTypeWord, "abc"},
      {"abc:", kTypeSetWord, "abc"},
      {":abc", kTypeGetWord, "abc"},
      {"'abc", kTypeLitWord, "abc"},
      {"/abc", kTypeRefinement, "abc"},
      {"/1", kTypeRefinement, "1"},
      {"#12", kTypeIssue, "12"},
      {"//", kTypeWord, "//"},
      {"+", kTypeWord, "+"},
      {"...", kTypeWord, "..."},
      {"<>", kTypeWord, "<>"},
      {"->", kTypeWord, "->"},
      {"é", kTypeWord, "é"},
      {"Ah", kTypeNil, ""},
      {"0Fh", kTypeNil, ""},
      {"ABh", kTypeNil, ""},
      {"#(true)", kTypeNil, ""},
      {"#[map]", kTypeNil, ""},
      {"1x2", kTypeNil, ""},
      {"%file", kTypeNil, ""},
      {"%", kTypeWord, "%"},
      {"%:", kTypeSetWord, "%"},
      {"a%b", kTypeWord, "a%b"},
      {"%%", kTypeNil, ""},
      {"a,b", kTypeNil, ""},
      {"[a]", kTypeNil, ""},
      {"a;b", kTypeNil, ""},
      {"", kTypeNil, ""},
      {"a:b", kTypeNil, ""},
      {"'", kTypeNil, ""},
      {":", kTypeNil, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    WordScan scan{};
    std::string t = c.text;
    bool ok = scan_word_text(t, &scan);
    EXPECT_EQ(ok, c.type != kTypeNil);
    if (!ok || c.type == kTypeNil) continue;
    EXPECT_EQ(scan.type, c.type);
    EXPECT_EQ(t.substr(scan.name_start, scan.name_length), c.name);
  }
}

// ---------------------------------------------------------------- runtime word cache

TEST(WordTest, RuntimeSymbolsKeepTheirOrderAndSpelling) {
  int32_t previous = 0;
  for (int i = 0; i < kRuntimeSymbolCount; i++) {
    RuntimeSymbol s = RuntimeSymbol(i);
    std::string text = runtime_symbol_text(s);
    SCOPED_TRACE(text);
    EXPECT_EQ(symbol_name(runtime_symbol(s)), text);
    if (text.back() == '!') continue;  // type names are loaded before the cache
    EXPECT_GT(runtime_symbol(s), previous);
    previous = runtime_symbol(s);
  }
  EXPECT_EQ(runtime_symbol_text(kSymSpec), std::string("spec"));
  EXPECT_EQ(runtime_symbol_text(kSymBar), std::string("|"));
  EXPECT_EQ(runtime_symbol_text(kSymChange), std::string("change"));
  EXPECT_EQ(runtime_symbol_text(kSymMinus), std::string("-"));
}

TEST(WordTest, RuntimeValuesAreGlobalWordsInOrder) {
  int32_t previous_slot = -1;
  for (int i = 0; i < kRuntimeValueCount; i++) {
    RuntimeValue v = RuntimeValue(i);
    Cell c = runtime_value(v);
    std::string text = runtime_value_text(v);
    SCOPED_TRACE(text);
    EXPECT_EQ(symbol_name(word_symbol(&c)), text);
    // The block held by the root slot carries the same cells.
    const Cell& kept = series_buffer(root_slot(kRootWordCache)->node())->cells()[i];
    EXPECT_EQ(std::memcmp(&kept, &c, sizeof c), 0);
    if (c.is(kTypeRefinement)) {
      EXPECT_EQ(word_context(&c), 0u);
      continue;
    }
    if (c.is(kTypeIssue)) {
      EXPECT_EQ(mold_of(c), "#ooo");
      continue;
    }
    ASSERT_TRUE(c.is(kTypeWord));
    EXPECT_EQ(word_context(&c), g_global_context);
    EXPECT_GT(word_index(&c), previous_slot);
    previous_slot = word_index(&c);
  }
  EXPECT_EQ(mold_of(runtime_value(kRefinementPart)), "/part");
  EXPECT_EQ(mold_of(runtime_value(kWordPutEd)), "put-ed");
  EXPECT_EQ(mold_of(runtime_value(kWordSwaped)), "swaped");
}

TEST(WordTest, WordsFromSymbolsShareTheCachedSymbol) {
  struct Pair {
    RuntimeValue word;
    RuntimeSymbol symbol;
  } pairs[] = {{kWordRemove, kSymRemove}, {kWordInsert, kSymInsert}, {kWordCopy, kSymCopy},
               {kWordSet, kSymSet},       {kWordCase, kSymCase},     {kWordEnd, kSymEnd},
               {kWordLinux, kSymLinux},   {kWordMacOS, kSymMacOS},   {kWordBar, kSymBar},
               {kWordChange, kSymChange}};
  for (const Pair& p : pairs) EXPECT_EQ(test::symbol_of(runtime_value(p.word)), runtime_symbol(p.symbol));
}

TEST(WordTest, RuntimeSymbolsMatchIgnoringCase) {
  EXPECT_TRUE(runtime_symbol_q(symbol_make("YEAR"), kSymYear));
  EXPECT_TRUE(runtime_symbol_q(symbol_make("Year"), kSymYear));
  EXPECT_FALSE(runtime_symbol_q(symbol_make("years"), kSymYear));
  EXPECT_TRUE(runtime_symbol_q(symbol_make("linux"), kSymLinux));
}

TEST(WordTest, CollectorAndStackGetTheirSymbols) {
  EXPECT_EQ(g_self_symbol, uint32_t(runtime_symbol(kSymSelf)));
  EXPECT_EQ(symbol_name(int32_t(g_stack.body_symbol)), "<body>");
  EXPECT_EQ(symbol_name(int32_t(g_stack.anon_symbol)), "<anon>");
}

}  // namespace
}  // namespace kiv
