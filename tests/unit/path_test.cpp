// paren!, the four path types and triple!: make, to, form and mold with their
// own syntax, inheritance from block!, the actions they refuse, and triple!'s
// text. The fixture registers the datatypes in parent-first order and
// restores the registry afterwards.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/triple.h"
#include "datatypes/word.h"
#include "runtime/cycle.h"
#include "runtime/runtime_words.h"
#include "tests/unit/kiv_test.h"

namespace kiv {
namespace {

using test::call_action;
using test::catch_error;
using test::integer_cell;
using test::text_of;
constexpr ErrorId kNoError = kErrorIdCount;

class PathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int t = 0; t < kTypeTableRows; t++) saved_[t] = g_action_table[t];
    saved_max_ = g_max_type_id;
    symbol_table_init();
    global_context_init();
    series_datatype_init();
    block_datatype_init();
    paren_datatype_init();
    string_datatype_init();
    integer_datatype_init();
    char_datatype_init();
    symbol_datatype_init();
    context_datatype_init();
    word_datatype_init();
    lit_word_datatype_init();
    set_word_datatype_init();
    get_word_datatype_init();
    refinement_datatype_init();
    issue_datatype_init();
    path_datatype_init();
    lit_path_datatype_init();
    set_path_datatype_init();
    get_path_datatype_init();
    triple_datatype_init();
    runtime_words_init();
  }
  void TearDown() override {
    EXPECT_EQ(cycle_stack_depth(), 0u);
    for (int t = 0; t < kTypeTableRows; t++) g_action_table[t] = saved_[t];
    g_max_type_id = saved_max_;
  }

  // Pushes (and so roots) a new series of [type] holding copies of [cells].
  static Cell* seq(std::initializer_list<Cell> cells, TypeId type) {
    Cell* b = block_push_only(int32_t(cells.size()));
    for (const Cell& c : cells) block_append_value(b, &c);
    b->set_header(type);
    return b;
  }
  static Cell w(const char* name) { return load_word(name); }
  static Cell str(const char* text) {
    Cell* s = string_make_at(stack_push(), 16);
    string_append_utf8(s, text);
    return *s;
  }
  static Cell* call(ActionId id, std::initializer_list<Cell> args, std::initializer_list<int32_t> refs = {}) {
    Cell r = call_action(id, args, refs);
    return stack_push_value(r);
  }
  static std::string mold(Cell v, bool only = false, int32_t part = -1) {
    if (part >= 0) return text_of(call_action(kActionMold, {v, integer_cell(part)}, {only ? 0 : -1, -1, -1, 1}));
    return text_of(call_action(kActionMold, {v}, {only ? 0 : -1, -1, -1, -1}));
  }
  static std::string form(Cell v, int32_t part = -1) {
    if (part >= 0) return text_of(call_action(kActionForm, {v, integer_cell(part)}, {1}));
    return text_of(call_action(kActionForm, {v}));
  }
  static Cell* make(TypeId type, Cell spec) { return call(kActionMake, {datatype_cell(type), spec}); }
  static Cell* to(TypeId type, Cell spec) { return call(kActionTo, {datatype_cell(type), spec}); }

 private:
  ActionSlots saved_[kTypeTableRows];
  int saved_max_ = 0;
};

TEST_F(PathTest, FormAndMoldTable) {
  Cell inner = *seq({integer_cell(1), integer_cell(2)}, kTypeBlock);
  Cell marked = w("b");
  marked.header |= kFlagNewLine;
  struct Case {
    const char* name;
    Cell value;
    const char* mold;
    const char* form;
  } cases[] = {
      {"path", *seq({w("a"), w("b"), integer_cell(1)}, kTypePath), "a/b/1", "a/b/1"},
      {"lit-path", *seq({w("a"), w("b")}, kTypeLitPath), "'a/b", "a/b"},
      {"set-path", *seq({w("a"), w("b")}, kTypeSetPath), "a/b:", "a/b"},
      {"get-path", *seq({w("a"), w("b")}, kTypeGetPath), ":a/b", "a/b"},
      {"one element", *seq({w("a")}, kTypePath), "a", "a"},
      {"empty path", *seq({}, kTypePath), "", ""},
      {"empty set-path", *seq({}, kTypeSetPath), ":", ""},
      {"markers are not looked at", *seq({w("a"), marked}, kTypePath), "a/b", "a/b"},
      {"block element", *seq({w("a"), inner, str("s")}, kTypePath), "a/[1 2]/\"s\"", "a/1 2/s"},
      {"paren", *seq({integer_cell(1), w("+"), integer_cell(2)}, kTypeParen), "(1 + 2)", "1 + 2"},
      {"empty paren", *seq({}, kTypeParen), "()", ""},
      {"paren with a marker", *seq({w("a"), marked}, kTypeParen), "(a\nb)", "a b"},
      {"paren in a path", *seq({w("a"), *seq({w("i")}, kTypeParen)}, kTypePath), "a/(i)", "a/i"},
      {"path in a block", *seq({*seq({w("a"), w("b")}, kTypeSetPath), integer_cell(1)}, kTypeBlock), "[a/b: 1]",
       "a/b 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(mold(c.value), c.mold);
    EXPECT_EQ(form(c.value), c.form);
  }
  EXPECT_EQ(mold(*seq({integer_cell(1), w("+"), integer_cell(2)}, kTypeParen), true), "1 + 2");
}

TEST_F(PathTest, PartAndCycles) {
  Cell* p = seq({w("alpha"), w("beta"), w("gamma")}, kTypePath);
  // Stops after the element that brings the budget below 1.
  EXPECT_EQ(form(*p, 7), "alpha/b");
  EXPECT_EQ(mold(*p, false, 5), "alpha");
  EXPECT_EQ(mold(*seq({w("a"), w("b")}, kTypeLitPath), false, 3), "'a/");
  // A path inside itself.
  Cell* self = seq({w("a")}, kTypePath);
  block_append_value(self, self);
  EXPECT_EQ(mold(*self), "a/...");
  EXPECT_EQ(form(*self), "a/...");
  Cell* in_block = seq({*self}, kTypeBlock);
  EXPECT_EQ(mold(*in_block), "[a/...]");
}

TEST_F(PathTest, MakeAndTo) {
  Cell* words = seq({w("a"), w("b")}, kTypeBlock);
  Cell half = make_cell(kTypeFloat);
  half.set_float(2.9);
  Cell pct = make_cell(kTypePercent);
  pct.set_float(-3.0);
  struct Case {
    const char* name;
    bool make;
    TypeId type;
    Cell spec;
    const char* mold;
  } cases[] = {
      {"make path from block", true, kTypePath, *words, "a/b"},
      {"make set-path from block", true, kTypeSetPath, *words, "a/b:"},
      {"make with room", true, kTypePath, integer_cell(3), ""},
      {"make with float room", true, kTypeLitPath, half, "'"},
      {"make with percent room", true, kTypeGetPath, pct, ":"},
      {"to path from block", false, kTypePath, *words, "a/b"},
      {"to get-path from path", false, kTypeGetPath, *seq({w("x"), w("y")}, kTypePath), ":x/y"},
      {"to path wraps a value", false, kTypePath, integer_cell(4), "4"},
      {"to paren from block", false, kTypeParen, *words, "(a b)"},
      {"make paren from path", true, kTypeParen, *seq({w("x"), w("y")}, kTypePath), "(x y)"},
      {"to block from path", false, kTypeBlock, *seq({w("x"), w("y")}, kTypeSetPath), "[x y]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cell* r = c.make ? make(c.type, c.spec) : to(c.type, c.spec);
    EXPECT_EQ(r->type(), c.type);
    EXPECT_EQ(mold(*r), c.mold);
  }
  // Room for the count asked, at least one cell.
  EXPECT_GE(series_buffer(make(kTypePath, integer_cell(40))->node())->capacity, 40u * sizeof(Cell));
  EXPECT_GE(series_buffer(make(kTypePath, integer_cell(-1))->node())->capacity, sizeof(Cell));
  // A typeset! becomes the single element of a path.
  Cell typeset = make_cell(kTypeTypeset, 0x1000, 0, 0);
  Cell* r = to(kTypePath, typeset);
  ASSERT_EQ(block_total_length(r), 1);
  EXPECT_TRUE(block_ks_abs_at(r, 0)->is(kTypeTypeset));
}

TEST_F(PathTest, Errors) {
  Cell huge = make_cell(kTypeFloat);
  huge.set_float(-3e9);
  Cell* p = seq({w("a")}, kTypePath);
  Cell* paren = seq({w("a")}, kTypeParen);
  struct Case {
    const char* name;
    std::function<void()> run;
    ErrorId expected;
  } cases[] = {
      {"make path from text", [] { make(kTypePath, str("a")); }, kErrScriptBadMakeArg},
      {"make set-path from a word", [] { make(kTypeSetPath, w("a")); }, kErrScriptBadMakeArg},
      {"make path from a huge float", [&] { make(kTypePath, huge); }, kErrScriptOutOfRange},
      {"to path from text needs the lexer", [] { to(kTypePath, str("a/b")); }, kErrInternalNotDone},
      {"random on a path", [&] { call(kActionRandom, {*p}); }, kErrScriptExpectArg},
      {"sort on a path", [&] { call(kActionSort, {*p}); }, kErrScriptExpectArg},
      {"trim on a path", [&] { call(kActionTrim, {*p}); }, kErrScriptExpectArg},
      {"sort on a set-path", [&] { call(kActionSort, {*seq({}, kTypeSetPath)}); }, kErrScriptExpectArg},
      {"trim on a paren", [&] { call(kActionTrim, {*paren}); }, kErrScriptExpectArg},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(catch_error(c.run), c.expected);
  }
  // What they inherit from block! works.
  EXPECT_EQ(catch_error([&] { call(kActionRandom, {*paren}); }), kNoError);
  EXPECT_EQ(call(kActionLengthQ, {*p})->data2, 1u);
  EXPECT_EQ(mold(*call(kActionPick, {*paren, integer_cell(1)})), "a");
  EXPECT_EQ(mold(*call(kActionNext, {*seq({w("a"), w("b")}, kTypeGetPath)})), ":b");
}

TEST_F(PathTest, PathCompare) {
  Cell a = *seq({w("a"), w("b")}, kTypePath);
  Cell b = *seq({w("a"), w("b")}, kTypeLitPath);
  Cell c = *seq({w("a"), w("b")}, kTypePath);
  auto cmp = [](Cell x, Cell y, CompareOp op) {
    return call_action(kActionCompare, {x, y, integer_cell(op)}).data1 == 1;
  };
  EXPECT_TRUE(cmp(a, c, kCmpEqual));
  EXPECT_FALSE(cmp(a, b, kCmpEqual));
  EXPECT_TRUE(cmp(a, b, kCmpWordEqual));
  EXPECT_TRUE(cmp(b, a, kCmpWordCanonEqual));
  EXPECT_FALSE(cmp(a, *seq({w("a"), w("b")}, kTypeSetPath), kCmpWordEqual));
}

TEST_F(PathTest, Producers) {
  Cell* b = seq({w("a")}, kTypeBlock);
  b->header |= kFlagNewLine;
  struct Case {
    Cell* (*push)(Cell*);
    TypeId type;
  } cases[] = {{push_path, kTypePath},
               {push_lit_path, kTypeLitPath},
               {push_set_path, kTypeSetPath},
               {push_get_path, kTypeGetPath},
               {push_paren, kTypeParen}};
  for (const Case& c : cases) {
    Cell* cell = stack_push_value(*b);
    Cell* r = c.push(cell);
    EXPECT_EQ(r->header, uint32_t(c.type));  // flags cleared
    EXPECT_EQ(cell->header, uint32_t(c.type));
    EXPECT_EQ(r->node(), b->node());
    EXPECT_EQ(r, g_stack.top - 1);
  }
  Cell* p = path_init(stack_push(), 5);
  EXPECT_TRUE(p->is(kTypePath));
  EXPECT_EQ(block_total_length(p), 0);
}

// ---------------------------------------------------------------- triple!

TEST_F(PathTest, TripleText) {
  struct Case {
    Cell value;
    const char* text;
  } cases[] = {
      {triple_cell(1, -2, 3), "make triple! [1 -2 3]"},
      {triple_cell(INT32_MIN, 0, INT32_MAX), "make triple! [-2147483648 0 2147483647]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(form(c.value), c.text);
    EXPECT_EQ(mold(c.value), c.text);
    EXPECT_EQ(text_of(call_action(kActionMold, {c.value}, {0, 0, 0, -1})), c.text);
  }
  EXPECT_EQ(mold(*seq({triple_cell(4, 5, 6)}, kTypeBlock)), "[make triple! [4 5 6]]");
}

TEST_F(PathTest, TripleRefusesEverythingElse) {
  Cell t = triple_cell(1, 2, 3);
  struct Case {
    const char* name;
    std::function<void()> run;
  } cases[] = {
      {"make", [&] { call(kActionMake, {datatype_cell(kTypeTriple), integer_cell(1)}); }},
      {"to", [&] { call(kActionTo, {datatype_cell(kTypeTriple), integer_cell(1)}); }},
      {"pick", [&] { call(kActionPick, {t, integer_cell(1)}); }},
      {"length?", [&] { call(kActionLengthQ, {t}); }},
      {"add", [&] { call(kActionAdd, {t, t}); }},
      {"random", [&] { call(kActionRandom, {t}); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(catch_error(c.run), kErrScriptExpectArg);
  }
  // Not comparable: equality is false.
  EXPECT_EQ(actions_of(kTypeTriple).compare, nullptr);
}

}  // namespace
}  // namespace kiv
