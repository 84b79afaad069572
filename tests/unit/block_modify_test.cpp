// block! search and modification through the action entry points: find and
// select with every refinement (on block! and, through its index, on hash!),
// insert, append, change, put, swap, take, trim, copy, sort and the set
// operations. Inputs are written in a small subset of the literal syntax and
// results compared as molded text, with the index of a series result.
//
// The fixture adds hash! as a test row that inherits everything from block!,
// and puts the registry back afterwards.
#include "datatypes/block_modify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "runtime/cycle.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "tests/unit/kiv_test.h"

namespace kiv {
namespace {

using test::Act;
using test::at_head;
using test::call;
using test::call_action;
using test::catch_error;
using test::kNoError;
using test::mold;
using test::text_cell;

// ---------------------------------------------------------------- reading values
// Integers, words, 'lit-words, "strings", [blocks], (parens), #none, and type
// names ending in "!" as datatype! values. Blocks and strings are pushed on
// the data stack, so they stay rooted for the whole test.

void skip_blanks(const char*& p) {
  while (*p == ' ') p++;
}

Cell read_one(const char*& p) {
  skip_blanks(p);
  if (*p == '[' || *p == '(') {
    char close = *p == '[' ? ']' : ')';
    TypeId type = *p == '[' ? kTypeBlock : kTypeParen;
    p++;
    Cell* b = block_push_only(4);
    for (;;) {
      skip_blanks(p);
      if (*p == close) {
        p++;
        break;
      }
      if (!*p) break;
      Cell v = read_one(p);
      block_append_value(b, &v);
    }
    b->set_type(type);
    return *b;
  }
  if (*p == '"') {
    const char* end = std::strchr(p + 1, '"');
    Cell s = text_cell(std::string_view(p + 1, size_t(end - p - 1)));
    p = end + 1;
    return s;
  }
  const char* start = p;
  while (*p && *p != ' ' && *p != ']' && *p != ')') p++;
  std::string token(start, p);
  if (std::isdigit(uint8_t(token[0])) || (token[0] == '-' && token.size() > 1))
    return integer_cell(std::stoi(token));
  if (token == "#none") return kNoneCell;
  if (token.back() == '!') {
    for (int t = 1; t <= kMaxTypeId; t++)
      if (type_name(TypeId(t)) && token == type_name(TypeId(t))) return datatype_cell(TypeId(t));
    ADD_FAILURE() << "unknown type " << token;
  }
  if (token[0] == '\'') {
    Cell c = load_word(token.c_str() + 1);
    c.set_header(kTypeLitWord);
    return c;
  }
  return load_word(token.c_str());
}

// One value.
Cell val(const char* text) {
  const char* p = text;
  return read_one(p);
}

// The block of the values in [text], at [head] (a block! on the data stack).
Cell* blk(const char* text, int32_t head = 0) {
  std::string wrapped = std::string("[") + text + "]";
  const char* p = wrapped.c_str();
  Cell b = read_one(p);
  b.set_head(head);
  return stack_push_value(b);
}

// Makes the block [b] a hash! with its own index.
void make_hash(Cell* b) {
  b->set_type(kTypeHash);
  block_set_hash_index(b,
                       hashtable_init(uint32_t(std::max(block_total_length(b), 1)), b->node(), kHashBlock));
}

Cell* hsh(const char* text, int32_t head = 0) {
  Cell* h = blk(text, head);
  make_hash(h);
  return h;
}

// ---------------------------------------------------------------- showing results

// A series as "<index> <mold from the head>", anything else molded.
std::string show(Cell v) {
  if (v.is(kTypeNone)) return "none";
  if (!is_any_block(v.type())) return mold(v);
  return std::to_string(v.head() + 1) + " " + mold(v);
}

// The whole block, from its first cell.
std::string whole(Cell v) {
  v.set_head(0);
  v.set_type(kTypeBlock);
  return mold(v);
}

// Every cell of the hash! [h] is found through its index at its own position.
void expect_index_in_step(const Cell* h) {
  ASSERT_TRUE(h->is(kTypeHash));
  int32_t total = block_total_length(h);
  EXPECT_EQ(hashtable_size(block_hash_index(h)), uint32_t(total));
  for (int32_t i = 0; i < total; i++) {
    Cell key = *block_ks_abs_at(h, i);
    EXPECT_EQ(hashtable_find(block_hash_index(h), &key, i, 1, kCmpEqual, false, false), i) << "cell " << i;
  }
}

class BlockModifyTest : public ::testing::Test {
 protected:
  test::RegistrySnapshot registry_;  // the rows below go back afterwards
  void SetUp() override { test::register_test_row(kTypeHash, kTypeBlock, g_action_table[kTypeBlock]); }
  void TearDown() override { EXPECT_EQ(cycle_stack_depth(), 0u); }

 private:
  test::SavedRegistry saved_;
};

// ---------------------------------------------------------------- find and select

// The refinements of a find or select call; a null text is an absent refinement.
struct FindRefs {
  const char* part = nullptr;  // a value, or "@n" for the searched block at head n
  bool only = false, case_ = false, same = false, any = false;
  const char* with = nullptr;
  const char* skip = nullptr;
  bool last = false, reverse = false, tail = false, match = false;
};

// Calls find or select on [series] for [value] with the refinements [r].
Cell run_find(ActionId id, const Cell* series, Cell value, const FindRefs& r) {
  Act act(id, {*series, value});
  auto with_arg = [&](const char* word, const char* text) {
    if (text) act.ref(word, text[0] == '@' ? at_head(series, std::atoi(text + 1)) : val(text));
  };
  auto flag = [&](const char* word, bool on) {
    if (on) act.ref(word);
  };
  with_arg("part", r.part);
  flag("only", r.only);
  flag("case", r.case_);
  flag("same", r.same);
  flag("any", r.any);
  with_arg("with", r.with);
  with_arg("skip", r.skip);
  flag("last", r.last);
  flag("reverse", r.reverse);
  if (id == kActionFind) {
    flag("tail", r.tail);
    flag("match", r.match);
  }
  return act.value();
}

struct FindCase {
  const char* block;
  int32_t head;
  const char* value;
  FindRefs refs;
  const char* expected;  // "<index> <mold>" or "none"
};

const FindCase kFindCases[] = {
    {"a b c", 0, "b", {}, "2 [b c]"},
    {"a b c", 0, "b", {.tail = true}, "3 [c]"},
    {"a b c", 0, "d", {}, "none"},
    {"a b a", 0, "a", {.last = true}, "3 [a]"},
    {"a b a c", 1, "a", {.last = true}, "3 [a c]"},
    {"a b a c", 2, "b", {.last = true}, "none"},
    {"a b c", 0, "[b c]", {}, "2 [b c]"},
    {"a b c b", 0, "[b c]", {.tail = true}, "4 [b]"},
    {"a b", 0, "[b c]", {}, "none"},
    {"a b a b c", 0, "[b c]", {}, "4 [b c]"},
    {"a b a b", 0, "[a b]", {.last = true}, "3 [a b]"},
    {"a b a b", 4, "[a b]", {.reverse = true}, "3 [a b]"},
    {"a b a b", 3, "[a b]", {.reverse = true}, "1 [a b a b]"},
    {"a b c", 0, "[]", {}, "none"},
    {"[b c] b c", 0, "[b c]", {.only = true}, "1 [[b c] b c]"},
    {"b c [b c]", 0, "[b c]", {.only = true, .tail = true}, "4 []"},
    {"a 1 2", 0, "integer!", {}, "2 [1 2]"},
    {"a 1 integer!", 0, "integer!", {.only = true}, "3 [integer!]"},
    {"a 1 b 2", 0, "b", {.skip = "2"}, "3 [b 2]"},
    {"a b 1 b", 0, "b", {.skip = "2"}, "none"},
    {"a 1 b 2", 0, "b", {.skip = "2", .tail = true}, "5 []"},
    {"a 1 b 2 c", 0, "b", {.skip = "2", .tail = true}, "5 [c]"},
    {"a 1 a 2 b 3", 0, "a", {.skip = "2", .last = true}, "3 [a 2 b 3]"},
    {"x a 1 a", 0, "a", {.skip = "2", .last = true}, "none"},
    {"a 1 b 2 c 3", 4, "a", {.skip = "2", .reverse = true}, "1 [a 1 b 2 c 3]"},
    {"1 a b 2 c 3", 4, "a", {.skip = "2", .reverse = true}, "none"},
    {"a b c", 0, "c", {.part = "2"}, "none"},
    {"a b c", 0, "c", {.part = "3"}, "3 [c]"},
    {"a b c", 0, "c", {.part = "@2"}, "none"},
    {"a b c", 0, "c", {.part = "@3"}, "3 [c]"},
    {"a b c", 0, "a", {.part = "0"}, "none"},
    {"a b c", 1, "c", {.part = "99"}, "3 [c]"},
    {"a b c", 0, "[b c]", {.part = "2"}, "none"},
    {"a b a c", 0, "a", {.part = "3", .last = true}, "3 [a c]"},
    {"a b a c", 0, "a", {.part = "2", .last = true}, "1 [a b a c]"},
    {"a b a c", 3, "a", {.part = "1", .reverse = true}, "3 [a c]"},
    {"a b c a", 3, "a", {.part = "2", .reverse = true}, "none"},
    {"a b c a", 3, "a", {.part = "@0", .reverse = true}, "1 [a b c a]"},
    {"a b c", 0, "a", {.match = true}, "1 [a b c]"},
    {"a b c", 0, "b", {.match = true}, "none"},
    {"a b c", 0, "a", {.tail = true, .match = true}, "2 [b c]"},
    {"a b c", 0, "[a b]", {.tail = true, .match = true}, "3 [c]"},
    {"a b a c", 3, "a", {.reverse = true}, "3 [a c]"},
    {"a b a c", 2, "a", {.reverse = true}, "1 [a b a c]"},
    {"a b a c", 2, "a", {.reverse = true, .tail = true}, "2 [b a c]"},
    {"a b", 0, "a", {.reverse = true}, "none"},
    {"a b", 9, "b", {.reverse = true}, "2 [b]"},
    {"a b", 9, "b", {}, "none"},
    {"a b", -4, "a", {}, "1 [a b]"},
    {"", 0, "a", {}, "none"},
    {"\"A\" \"a\"", 0, "\"a\"", {}, "1 [\"A\" \"a\"]"},
    {"\"A\" \"a\"", 0, "\"a\"", {.case_ = true}, "2 [\"a\"]"},
    {"1 a \"x\"", 0, "\"x\"", {.same = true}, "none"},
    {"a b c", 0, "c", {.any = true, .with = "\"*?\""}, "3 [c]"},
};

// The same searches on a block! and on a hash! (whose single-value searches
// go through its index) give the same answers.
TEST_F(BlockModifyTest, FindTable) {
  for (bool hashed : {false, true}) {
    for (const FindCase& c : kFindCases) {
      SCOPED_TRACE(std::string(hashed ? "hash " : "block ") + "[" + c.block + "] " + c.value);
      Cell* series = hashed ? hsh(c.block, c.head) : blk(c.block, c.head);
      Cell r = run_find(kActionFind, series, val(c.value), c.refs);
      if (hashed && r.is(kTypeHash)) r.set_type(kTypeBlock);
      EXPECT_EQ(show(r), c.expected);
    }
  }
}

TEST_F(BlockModifyTest, FindSameAndTypeset) {
  Cell* text = stack_push_value(val("\"x\""));
  Cell* b = blk("a 1");
  block_append_value(b, text);
  EXPECT_EQ(show(run_find(kActionFind, b, *text, {.same = true})), "3 [\"x\"]");
  EXPECT_EQ(show(run_find(kActionFind, b, val("\"x\""), {.same = true})), "none");
  Cell numbers = typeset_cell({kTypeInteger, kTypeString});
  EXPECT_EQ(show(run_find(kActionFind, b, numbers, {})), "2 [1 \"x\"]");
  EXPECT_EQ(show(run_find(kActionFind, b, numbers, {.last = true})), "3 [\"x\"]");
}

TEST_F(BlockModifyTest, FindRefinementErrors) {
  struct Case {
    FindRefs refs;
    ErrorId error;
  } cases[] = {
      {{.skip = "0"}, kErrScriptOutOfRange},
      {{.skip = "-1"}, kErrScriptOutOfRange},
      {{.skip = "\"x\""}, kErrScriptInvalidRefineArg},
      {{.part = "\"x\""}, kErrScriptInvalidRefineArg},
      {{.part = "[a b c]"}, kErrScriptInvalidRefineArg},
  };
  for (const Case& c : cases) {
    Cell* b = blk("a b c");
    EXPECT_EQ(catch_error([&] { run_find(kActionFind, b, val("a"), c.refs); }), c.error);
    EXPECT_EQ(catch_error([&] { run_find(kActionSelect, b, val("a"), c.refs); }), c.error);
  }
  // The error names the refinement and carries the argument (a word: error
  // arguments are not rooted until error! values exist).
  Cell* b = blk("a b");
  catch_error([&] { run_find(kActionFind, b, val("a"), {.skip = "x"}); });
  EXPECT_EQ(mold(last_raised_error().args[0]), "/skip");  // the refinement itself
  EXPECT_EQ(mold(last_raised_error().args[1]), "x");
}

TEST_F(BlockModifyTest, SelectTable) {
  const FindCase cases[] = {
      {"a 1 b 2", 0, "b", {}, "2"},
      {"a 1 b", 0, "b", {}, "none"},
      {"a 1 b 2", 0, "c", {}, "none"},
      {"a b c d", 0, "[b c]", {}, "d"},
      {"a b [b c] d", 0, "[b c]", {.only = true}, "d"},
      {"x a a 1", 0, "a", {.skip = "2"}, "1"},
      {"a 1 a 2", 0, "a", {.last = true}, "2"},
      {"a 1 a 2", 2, "a", {.reverse = true}, "1"},
      {"a 1 b 2", 0, "b", {.part = "2"}, "none"},
      {"\"K\" 1 \"k\" 2", 0, "\"k\"", {.case_ = true}, "2"},
      {"1 x", 0, "integer!", {}, "x"},
  };
  for (bool hashed : {false, true}) {
    for (const FindCase& c : cases) {
      SCOPED_TRACE(std::string("[") + c.block + "] " + c.value);
      Cell* series = hashed ? hsh(c.block, c.head) : blk(c.block, c.head);
      EXPECT_EQ(show(run_find(kActionSelect, series, val(c.value), c.refs)), c.expected);
    }
  }
}

// A hash! with repeated values, searched through its index far and near.
TEST_F(BlockModifyTest, HashFindThroughIndexAgreesWithScan) {
  std::string text;
  for (int i = 0; i < 600; i++) text += std::to_string(i % 37) + " ";
  Cell* b = blk(text.c_str());
  Cell* h = hsh(text.c_str());
  std::mt19937 rng(7);
  for (int round = 0; round < 600; round++) {
    int32_t head = int32_t(rng() % 620);
    Cell key = integer_cell(int32_t(rng() % 40));
    FindRefs refs;
    char skip[8];
    std::snprintf(skip, sizeof skip, "%d", int(1 + rng() % 4));
    if (rng() % 2) refs.skip = skip;
    char part[8];
    std::snprintf(part, sizeof part, "%d", int(rng() % 80));
    if (rng() % 3 == 0) refs.part = part;
    refs.last = rng() % 3 == 0;
    refs.reverse = rng() % 3 == 0;
    Cell x = run_find(kActionFind, stack_push_value(at_head(b, head)), key, refs);
    Cell y = run_find(kActionFind, stack_push_value(at_head(h, head)), key, refs);
    ASSERT_EQ(x.is(kTypeNone), y.is(kTypeNone)) << round;
    if (!x.is(kTypeNone)) {
      EXPECT_EQ(x.head(), y.head()) << round;
    }
  }
}

// ---------------------------------------------------------------- insert and append

// Calls append or insert with /part [part], /only, /dup [dup] (0: absent).
Cell run_insert(bool append, Cell series, Cell value, int32_t part = -1, bool only = false, int32_t dup = 0) {
  Act act(append ? kActionAppend : kActionInsert, {series, value});
  if (part >= 0) act.ref("part", integer_cell(part));
  if (only) act.ref("only");
  if (dup) act.ref("dup", integer_cell(dup));
  return act.value();
}

TEST_F(BlockModifyTest, InsertAndAppendTable) {
  struct Case {
    bool append;
    const char* block;
    int32_t head;
    const char* value;
    int32_t part;
    bool only;
    int32_t dup;
    const char* result;  // the result's index and mold
    const char* after;   // the whole block afterwards
  } cases[] = {
      {false, "", 0, "x", -1, false, 3, "4 []", "[x x x]"},
      {true, "", 0, "[1 2]", -1, true, 0, "1 [[1 2]]", "[[1 2]]"},
      {true, "1", 0, "[2 3]", -1, false, 0, "1 [1 2 3]", "[1 2 3]"},
      {true, "1 2", 1, "3", -1, false, 0, "2 [2 3]", "[1 2 3]"},
      {false, "1 2", 1, "9", -1, false, 0, "3 [2]", "[1 9 2]"},
      {false, "1 2", 0, "[a b]", -1, false, 0, "3 [1 2]", "[a b 1 2]"},
      {false, "1", 0, "[a b c]", 2, false, 0, "3 [1]", "[a b 1]"},
      {false, "1", 0, "[a b c]", 0, false, 0, "1 [1]", "[1]"},
      {true, "1", 0, "[a b]", 9, false, 2, "1 [1 a b a b]", "[1 a b a b]"},
      {true, "1", 0, "[a b]", -1, false, 0, "1 [1 a b]", "[1 a b]"},
      {false, "1", 0, "[]", -1, false, 0, "1 [1]", "[1]"},
      {false, "1", 0, "x", -1, false, -2, "1 [1]", "[1]"},
      {false, "1 2", 7, "x", -1, false, 0, "4 []", "[1 2 x]"},
      {true, "1 2", 7, "x", -1, false, 0, "3 [x]", "[1 2 x]"},
      {false, "1 2", -3, "x", -1, false, 0, "2 [1 2]", "[x 1 2]"},
      {false, "1", 0, "\"ab\"", -1, false, 2, "3 [1]", "[\"ab\" \"ab\" 1]"},
      {true, "", 0, "(1 2)", -1, false, 0, "1 [1 2]", "[1 2]"},
      {true, "", 0, "(1 2)", -1, true, 0, "1 [(1 2)]", "[(1 2)]"},
  };
  for (bool hashed : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.append ? "append [" : "insert [") + c.block + "] " + c.value);
      Cell* b = hashed ? hsh(c.block, c.head) : blk(c.block, c.head);
      Cell r = run_insert(c.append, *b, val(c.value), c.part, c.only, c.dup);
      r.set_type(kTypeBlock);
      EXPECT_EQ(show(r), c.result);
      EXPECT_EQ(whole(*b), c.after);
      if (hashed) expect_index_in_step(b);
    }
  }
}

// A block given to itself, whole or in part, reads as it was before the call.
TEST_F(BlockModifyTest, SelfInsertionCopiesTheSourceFirst) {
  struct Case {
    bool append;
    int32_t head;        // the series' head
    int32_t value_head;  // the inserted value's head (the same block)
    int32_t dup;
    const char* after;
  } cases[] = {
      {false, 0, 0, 0, "[1 2 3 1 2 3]"},   {true, 0, 0, 0, "[1 2 3 1 2 3]"},
      {false, 1, 0, 0, "[1 1 2 3 2 3]"},   {false, 1, 1, 0, "[1 2 3 2 3]"},
      {false, 2, 1, 2, "[1 2 2 3 2 3 3]"}, {true, 0, 2, 3, "[1 2 3 3 3 3]"},
      {false, 0, 1, 0, "[2 3 1 2 3]"},     {false, 1, 2, 2, "[1 3 3 2 3]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.after);
    Cell* b = blk("1 2 3");
    run_insert(c.append, at_head(b, c.head), at_head(b, c.value_head), -1, false, c.dup);
    EXPECT_EQ(whole(*b), c.after);
  }
  // A block much larger than its buffer's spare room.
  std::string text;
  for (int i = 0; i < 3000; i++) text += std::to_string(i) + " ";
  Cell* big = blk(text.c_str());
  run_insert(false, *big, at_head(big, 1000));
  ASSERT_EQ(block_total_length(big), 5000);
  for (int32_t i = 0; i < 5000; i++)
    ASSERT_EQ(integer_get(block_ks_abs_at(big, i)), i < 2000 ? i + 1000 : i - 2000) << i;
}

TEST_F(BlockModifyTest, InsertErrorsChangeNothing) {
  Cell* b = blk("1 2");
  EXPECT_EQ(Act(kActionInsert, {*b, val("x")}).ref("dup", val("\"no\"")).error(), kErrScriptInvalidArg);
  // Sizes past the largest buffer are refused before anything moves.
  EXPECT_EQ(catch_error([&] { run_insert(true, *b, val("[a b]"), -1, false, 2000000000); }),
            kErrInternalNoMemory);
  EXPECT_EQ(catch_error([&] { run_insert(false, *b, val("x"), -1, false, 2147483647); }),
            kErrInternalNoMemory);
  EXPECT_EQ(whole(*b), "[1 2]");
}

TEST_F(BlockModifyTest, LargeAppendAndInsert) {
  Cell* b = blk("");
  for (int32_t i = 0; i < 200000; i++) run_insert(true, *b, integer_cell(i));
  ASSERT_EQ(block_total_length(b), 200000);
  Cell* front = blk("");
  for (int32_t i = 0; i < 2000; i++) run_insert(false, *front, integer_cell(i));
  for (int32_t i = 0; i < 200000; i += 997) ASSERT_EQ(integer_get(block_ks_abs_at(b, i)), i);
  for (int32_t i = 0; i < 2000; i++) ASSERT_EQ(integer_get(block_ks_abs_at(front, i)), 1999 - i);
  Cell* dup = blk("a");
  run_insert(true, *dup, val("[x y z]"), -1, false, 100000);
  EXPECT_EQ(block_total_length(dup), 300001);
  EXPECT_EQ(mold(at_head(dup, 299998)), "[x y z]");
}

// ---------------------------------------------------------------- change

Cell run_change(Cell series, Cell value, const char* part = nullptr, bool only = false, int32_t dup = 0) {
  Act act(kActionChange, {series, value});
  if (part) act.ref("part", part[0] == '@' ? at_head(&series, std::atoi(part + 1)) : val(part));
  if (only) act.ref("only");
  if (dup) act.ref("dup", integer_cell(dup));
  return act.value();
}

TEST_F(BlockModifyTest, ChangeTable) {
  struct Case {
    const char* block;
    int32_t head;
    const char* value;
    const char* part;
    bool only;
    int32_t dup;
    const char* result;
    const char* after;
  } cases[] = {
      {"1 2 3", 0, "[a b]", nullptr, false, 0, "3 [3]", "[a b 3]"},
      {"1 2 3", 0, "x", "2", false, 0, "2 [3]", "[x 3]"},
      {"1 2 3", 0, "[a b]", nullptr, true, 0, "2 [2 3]", "[[a b] 2 3]"},
      {"1 2 3 4", 0, "x", nullptr, false, 2, "3 [3 4]", "[x x 3 4]"},
      {"1 2", 1, "[a b c]", nullptr, false, 0, "5 []", "[1 a b c]"},
      {"1 2 3", 0, "x", "0", false, 0, "2 [1 2 3]", "[x 1 2 3]"},
      {"1 2 3", 0, "[a]", "9", false, 0, "2 []", "[a]"},
      {"1 2 3", 0, "[]", "2", false, 0, "1 [3]", "[3]"},
      {"1 2 3", 1, "x", "@3", false, 0, "3 []", "[1 x]"},
      {"1 2 3", 0, "[a b]", "1", false, 3, "7 [2 3]", "[a b a b a b 2 3]"},
      {"1 2", 5, "x", nullptr, false, 0, "4 []", "[1 2 x]"},
      {"1 2", 0, "[]", nullptr, false, 0, "1 [1 2]", "[1 2]"},
      {"1 2", 0, "x", nullptr, false, -1, "1 [1 2]", "[1 2]"},
  };
  for (bool hashed : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string("change [") + c.block + "] " + c.value);
      Cell* b = hashed ? hsh(c.block, c.head) : blk(c.block, c.head);
      Cell r = run_change(*b, val(c.value), c.part, c.only, c.dup);
      r.set_type(kTypeBlock);
      EXPECT_EQ(show(r), c.result);
      EXPECT_EQ(whole(*b), c.after);
      if (hashed) expect_index_in_step(b);
    }
  }
}

TEST_F(BlockModifyTest, ChangeWithItselfAndErrors) {
  Cell* b = blk("1 2 3 4");
  run_change(at_head(b, 1), *b);
  EXPECT_EQ(whole(*b), "[1 1 2 3 4]");
  Cell* c = blk("1 2 3 4");
  run_change(*c, at_head(c, 2), "1");
  EXPECT_EQ(whole(*c), "[3 4 2 3 4]");
  Cell* d = blk("1 2 3");
  EXPECT_EQ(catch_error([&] { run_change(*d, val("x"), "\"p\""); }), kErrScriptInvalidRefineArg);
  EXPECT_EQ(catch_error([&] { run_change(*d, val("x"), "[1 2]"); }), kErrScriptInvalidRefineArg);
  EXPECT_EQ(catch_error([&] { run_change(*d, val("[a b]"), nullptr, false, 1500000000); }),
            kErrInternalNoMemory);
  EXPECT_EQ(whole(*d), "[1 2 3]");
}

// ---------------------------------------------------------------- put, swap, trim, take

TEST_F(BlockModifyTest, PutTable) {
  struct Case {
    const char* block;
    const char* key;
    const char* value;
    bool case_;
    const char* after;
  } cases[] = {
      {"a 1", "b", "2", false, "[a 1 b 2]"},
      {"a 1 b 2", "a", "5", false, "[a 5 b 2]"},
      {"a", "a", "5", false, "[a 5]"},
      {"a 1", "a", "1", false, "[a 1]"},
      {"\"K\" 1", "\"k\"", "2", false, "[\"K\" 2]"},
      {"\"K\" 1", "\"k\"", "2", true, "[\"K\" 1 \"k\" 2]"},
      {"[1 2] x", "[1 2]", "y", false, "[[1 2] y]"},
      {"1 integer!", "integer!", "3", false, "[1 integer! 3]"},
  };
  for (bool hashed : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string("put [") + c.block + "] " + c.key);
      Cell* b = hashed ? hsh(c.block) : blk(c.block);
      Act put(kActionPut, {*b, val(c.key), val(c.value)});
      if (c.case_) put.ref("case");
      Cell r = put.value();
      EXPECT_EQ(mold(r), c.value);
      EXPECT_EQ(whole(*b), c.after);
      if (hashed) expect_index_in_step(b);
    }
  }
}

TEST_F(BlockModifyTest, Swap) {
  Cell* a = blk("1 2");
  Cell* b = blk("3 4", 1);
  Cell r = call_action(kActionSwap, {*a, *b});
  EXPECT_EQ(show(r), "1 [4 2]");
  EXPECT_EQ(whole(*b), "[3 1]");
  // At either tail nothing happens.
  call_action(kActionSwap, {*a, at_head(b, 2)});
  call_action(kActionSwap, {at_head(a, 5), *b});
  EXPECT_EQ(whole(*a), "[4 2]");
  // Within one block, and within one hash! whose index follows both cells.
  Cell* h = hsh("a b c");
  call_action(kActionSwap, {*h, at_head(h, 2)});
  EXPECT_EQ(whole(*h), "[c b a]");
  expect_index_in_step(h);
  call_action(kActionSwap, {at_head(h, 1), at_head(h, 1)});
  expect_index_in_step(h);
  Cell* text = stack_push_value(val("\"ab\""));
  EXPECT_EQ(catch_error([&] { call_action(kActionSwap, {*a, *text}); }), kErrScriptInvalidArg);
  EXPECT_EQ(mold(last_raised_error().args[0]), "\"ab\"");
}

TEST_F(BlockModifyTest, Trim) {
  Cell* b = blk("1 #none 2 #none #none 3");
  call_action(kActionTrim, {*b});
  EXPECT_EQ(whole(*b), "[1 2 3]");
  // From the head on only; the word none is not a none! value.
  Cell* c = blk("#none 1 #none none", 1);
  Cell r = call_action(kActionTrim, {*c});
  EXPECT_EQ(show(r), "2 [1 none]");
  EXPECT_EQ(whole(*c), "[none 1 none]");
  Cell* h = hsh("#none a #none b");
  call_action(kActionTrim, {*h});
  EXPECT_EQ(whole(*h), "[a b]");
  expect_index_in_step(h);
}

TEST_F(BlockModifyTest, TakeTable) {
  struct Case {
    const char* block;
    int32_t head;
    const char* part;  // null: no /part
    bool last;
    const char* result;
    const char* after;
  } cases[] = {
      {"1 2 3", 0, nullptr, false, "1", "[2 3]"},
      {"1 2 3", 0, nullptr, true, "3", "[1 2]"},
      {"", 0, nullptr, false, "none", "[]"},
      {"1 2", 2, nullptr, false, "none", "[1 2]"},
      {"1 2", 0, "1", false, "1 [1]", "[2]"},
      {"1 2 3", 0, "2", true, "1 [2 3]", "[1]"},
      {"1 2 3", 2, "-2", false, "1 [1 2]", "[3]"},
      {"1 2 3", 0, "0", false, "1 []", "[1 2 3]"},
      {"[a b] 2", 0, nullptr, false, "1 [a b]", "[2]"},
  };
  for (bool hashed : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string("take [") + c.block + "]");
      Cell* b = hashed ? hsh(c.block, c.head) : blk(c.block, c.head);
      Act take(kActionTake, {*b});
      if (c.part) take.ref("part", val(c.part));
      if (c.last) take.ref("last");
      Cell r = take.value();
      if (hashed && r.is(kTypeHash)) r.set_type(kTypeBlock);
      EXPECT_EQ(show(r), c.result);
      EXPECT_EQ(whole(*b), c.after);
      if (hashed) expect_index_in_step(b);
    }
  }
}

TEST_F(BlockModifyTest, TakeDeepCopiesWhatItTakes) {
  Cell* inner = blk("1 2");
  Cell* b = blk("");
  block_append_value(b, inner);
  block_append_value(b, inner);
  Cell* taken = Act(kActionTake, {*b}).ref("deep").run();
  ASSERT_TRUE(taken->is(kTypeBlock));
  EXPECT_NE(taken->node(), inner->node());
  EXPECT_EQ(mold(*taken), "[1 2]");
  Cell* part = Act(kActionTake, {*b}).ref("part", integer_cell(1)).ref("deep").run();
  EXPECT_NE(block_ks_abs_at(part, 0)->node(), inner->node());
  EXPECT_EQ(mold(*part), "[[1 2]]");
  // A copy that fails takes nothing away.
  Cell* cyclic = blk("1");
  block_append_value(cyclic, cyclic);
  Cell* holder = blk("x");
  block_append_value(holder, cyclic);
  EXPECT_EQ(Act(kActionTake, {*holder}).ref("deep").ref("last").error(), kErrInternalNoCycle);
  EXPECT_EQ(block_total_length(holder), 2);
  EXPECT_EQ(cycle_stack_depth(), 0u);
}

// ---------------------------------------------------------------- copy

TEST_F(BlockModifyTest, CopyDeepAndTypes) {
  Cell* b = blk("1 [2 [3]] \"s\" (4)");
  Cell* shallow = call(kActionCopy, {*b});
  Cell* deep = Act(kActionCopy, {*b}).ref("deep").run();
  EXPECT_EQ(mold(*deep), "[1 [2 [3]] \"s\" (4)]");
  auto nested = [](const Cell* v, int32_t i) { return block_ks_abs_at(v, i)->node(); };
  EXPECT_EQ(nested(shallow, 1), nested(b, 1));
  EXPECT_NE(nested(deep, 1), nested(b, 1));
  EXPECT_NE(nested(deep, 2), nested(b, 2));
  EXPECT_NE(nested(deep, 3), nested(b, 3));
  Cell deeper = *block_ks_abs_at(deep, 1);
  EXPECT_NE(block_ks_abs_at(&deeper, 1)->node(), block_ks_abs_at(block_ks_abs_at(b, 1), 1)->node());
  // /part, then deep.
  Cell* part = Act(kActionCopy, {*b}).ref("part", integer_cell(2)).ref("deep").run();
  EXPECT_EQ(mold(*part), "[1 [2 [3]]]");
  EXPECT_NE(nested(part, 1), nested(b, 1));
  // /types: only the values of the type given are copied.
  Cell* typed = Act(kActionCopy, {*b}).ref("types", datatype_cell(kTypeString)).run();
  EXPECT_EQ(nested(typed, 1), nested(b, 1));
  EXPECT_NE(nested(typed, 2), nested(b, 2));
  // A hash! copied deep is a block!.
  Cell* h = hsh("a [b]");
  EXPECT_TRUE(Act(kActionCopy, {*h}).ref("deep").run()->is(kTypeBlock));
}

TEST_F(BlockModifyTest, CopyDeepOfACycleRaisesNoCycle) {
  Cell* b = blk("1 [2]");
  Cell* inner = stack_push_value(*block_ks_abs_at(b, 1));
  block_append_value(inner, b);
  EXPECT_EQ(Act(kActionCopy, {*b}).ref("deep").error(), kErrInternalNoCycle);
  EXPECT_EQ(cycle_stack_depth(), 0u);
  Cell* self = blk("1");
  block_append_value(self, self);
  EXPECT_EQ(Act(kActionCopy, {*self}).ref("deep").error(), kErrInternalNoCycle);
  EXPECT_EQ(catch_error([&] { call_action(kActionCopy, {*self}); }), kNoError);
}

// ---------------------------------------------------------------- sort

// The refinements of a sort call.
struct SortRefs {
  bool case_ = false;
  const char* skip = nullptr;
  const char* compare = nullptr;
  const char* part = nullptr;
  bool all = false, reverse = false, stable = false;
};

Cell run_sort(const Cell* series, const SortRefs& r, const Cell* compare = nullptr) {
  Act act(kActionSort, {*series});
  auto with_arg = [&](const char* word, const char* text) {
    if (text) act.ref(word, text[0] == '@' ? at_head(series, std::atoi(text + 1)) : val(text));
  };
  if (r.case_) act.ref("case");
  with_arg("skip", r.skip);
  with_arg("compare", r.compare);
  if (compare) act.ref("compare", *compare);
  with_arg("part", r.part);
  if (r.all) act.ref("all");
  if (r.reverse) act.ref("reverse");
  if (r.stable) act.ref("stable");
  return act.value();
}

TEST_F(BlockModifyTest, SortTable) {
  struct Case {
    const char* block;
    int32_t head;
    SortRefs refs;
    const char* after;
  } cases[] = {
      {"3 1 2", 0, {}, "[1 2 3]"},
      {"3 1 2", 0, {.reverse = true}, "[3 2 1]"},
      {"b 2 a 1", 0, {.skip = "2"}, "[a 1 b 2]"},
      {"b 1 a 2", 0, {.skip = "2", .compare = "2"}, "[b 1 a 2]"},
      {"a 2 b 1", 0, {.skip = "2", .compare = "2"}, "[b 1 a 2]"},
      {"a 2 a 1", 0, {.skip = "2", .all = true}, "[a 1 a 2]"},
      {"a 2 a 1", 0, {.skip = "2", .stable = true}, "[a 2 a 1]"},
      {"1 b 0 a 1 a", 0, {.skip = "2", .stable = true}, "[0 a 1 b 1 a]"},
      {"1 b 0 a 1 a", 0, {.skip = "2", .reverse = true, .stable = true}, "[1 b 1 a 0 a]"},
      {"3 1 2", 0, {.part = "2"}, "[1 3 2]"},
      {"3 2 1", 1, {.part = "@3"}, "[3 1 2]"},
      {"5 4 3 2 1", 3, {.part = "-2"}, "[5 3 4 2 1]"},
      {"5 4 3", 1, {.part = "-9"}, "[5 4 3]"},
      {"5 4 3", 2, {.part = "-9"}, "[4 5 3]"},
      {"9 3 2 1", 1, {}, "[9 1 2 3]"},
      {"1 2", 7, {}, "[1 2]"},
      {"", 0, {}, "[]"},
      {"\"b\" \"A\" \"a\" \"B\"", 0, {.stable = true}, "[\"A\" \"a\" \"b\" \"B\"]"},
      {"\"b\" \"A\" \"a\" \"B\"", 0, {.case_ = true}, "[\"A\" \"B\" \"a\" \"b\"]"},
      {"b 2 \"s\" a 1", 0, {}, "[\"s\" 1 2 a b]"},
      {"[2] [1 2] [1]", 0, {}, "[[1] [1 2] [2]]"},
      {"2 1 1 5 1 3", 0, {.skip = "2", .all = true}, "[1 3 1 5 2 1]"},
      {"3 #none 1", 0, {.reverse = true}, "[3 1 none]"},
      {"4 x 2 y 3 z", 0, {.skip = "2", .compare = "1", .reverse = true}, "[4 x 3 z 2 y]"},
  };
  for (bool hashed : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string("sort [") + c.block + "]");
      Cell* b = hashed ? hsh(c.block, c.head) : blk(c.block, c.head);
      Cell r = run_sort(b, c.refs);
      EXPECT_EQ(r.head(), b->head());
      EXPECT_EQ(whole(*b), c.after);
      if (hashed) expect_index_in_step(b);
    }
  }
}

TEST_F(BlockModifyTest, SortRefinementErrors) {
  struct Case {
    SortRefs refs;
    ErrorId error;
  } cases[] = {
      {{.all = true}, kErrScriptBadRefines},
      {{.compare = "1"}, kErrScriptBadRefines},
      {{.skip = "2", .compare = "1", .all = true}, kErrScriptBadRefines},
      {{.skip = "2", .compare = "3"}, kErrScriptOutOfRange},
      {{.skip = "2", .compare = "0"}, kErrScriptOutOfRange},
      {{.skip = "2", .compare = "\"x\""}, kErrScriptInvalidRefineArg},
      {{.skip = "0"}, kErrScriptInvalidRefineArg},
      {{.skip = "a"}, kErrScriptInvalidRefineArg},
      {{.skip = "4"}, kErrScriptInvalidRefineArg},
      {{.skip = "8"}, kErrScriptInvalidRefineArg},
      {{.part = "[1]"}, kErrScriptInvalidRefineArg},
      {{.part = "\"x\""}, kErrScriptInvalidRefineArg},
  };
  for (const Case& c : cases) {
    Cell* b = blk("6 5 4 3 2 1");
    EXPECT_EQ(catch_error([&] { run_sort(b, c.refs); }), c.error);
    EXPECT_EQ(whole(*b), "[6 5 4 3 2 1]");
  }
}

// Without the interpreter a comparator function is not done: the sort stops with the block intact.
TEST_F(BlockModifyTest, SortWithAFunctionLosesNothing) {
  Cell fn = make_cell(kTypeFunction);
  struct NoInterpreter {
    CallValueFn saved = g_hooks.call_value;
    NoInterpreter() { g_hooks.call_value = nullptr; }
    ~NoInterpreter() { g_hooks.call_value = saved; }
  } no_interpreter;
  for (bool stable : {false, true}) {
    Cell* b = blk("3 1 2 5 4");
    EXPECT_EQ(catch_error([&] { run_sort(b, {.stable = stable}, &fn); }), kErrInternalNotDone);
    EXPECT_EQ(whole(*b), "[3 1 2 5 4]");
    Cell* records = blk("b 2 a 1");
    EXPECT_EQ(catch_error([&] { run_sort(records, {.skip = "2", .all = true, .stable = stable}, &fn); }),
              kErrInternalNotDone);
    EXPECT_EQ(whole(*records), "[b 2 a 1]");
  }
}

TEST_F(BlockModifyTest, SortLargeAgainstTheLibrary) {
  std::mt19937 rng(11);
  std::vector<int32_t> values(100000);
  for (auto& v : values) v = int32_t(rng() % 5000);
  Cell* b = block_push_only(int32_t(values.size()));
  for (int32_t v : values) {
    Cell c = integer_cell(v);
    block_append_value(b, &c);
  }
  for (bool stable : {false, true}) {
    run_sort(b, {.reverse = stable, .stable = stable});
    std::vector<int32_t> expected = values;
    if (stable)
      std::sort(expected.begin(), expected.end(), std::greater<>());
    else
      std::sort(expected.begin(), expected.end());
    for (size_t i = 0; i < values.size(); i++)
      ASSERT_EQ(integer_get(block_ks_abs_at(b, int32_t(i))), expected[i]) << i;
  }
}

// Keys that are not plain scalars (here blocks) go through the movable-array engines.
TEST_F(BlockModifyTest, SortLargeByIndex) {
  std::mt19937 rng(5);
  std::vector<int32_t> values(20000);
  Cell* b = block_push_only(int32_t(values.size()));
  for (auto& v : values) {
    v = int32_t(rng() % 1000);
    Cell* key = block_push_only(1);
    Cell n = integer_cell(v);
    block_append_value(key, &n);
    block_append_value(b, key);
    stack_pop(1);
  }
  for (bool stable : {false, true}) {
    run_sort(b, {.reverse = stable, .stable = stable});
    std::vector<int32_t> expected = values;
    if (stable)
      std::sort(expected.begin(), expected.end(), std::greater<>());
    else
      std::sort(expected.begin(), expected.end());
    for (size_t i = 0; i < values.size(); i++) {
      Cell key = *block_ks_abs_at(b, int32_t(i));
      ASSERT_EQ(integer_get(block_ks_abs_at(&key, 0)), expected[i]) << i;
    }
  }
}

// ---------------------------------------------------------------- set operations

Cell run_set_op(SetOp op, Cell a, Cell b, bool case_ = false, const char* skip = nullptr) {
  StackSave save;
  Cell* x = stack_push_value(a);
  Cell* y = stack_push_value(b);
  Cell* s = skip ? stack_push_value(val(skip)) : nullptr;
  return *series_set_op(x, y, {op, case_, {s}});
}

TEST_F(BlockModifyTest, SetOperationTable) {
  struct Case {
    SetOp op;
    const char* a;
    const char* b;
    bool case_;
    const char* skip;
    const char* result;
  } cases[] = {
      {kSetUnique, "1 2 1 3 2", "", false, nullptr, "[1 2 3]"},
      {kSetUnion, "1 2 2", "2 3 1 4", false, nullptr, "[1 2 3 4]"},
      {kSetIntersect, "1 2 3 3", "3 4 2", false, nullptr, "[2 3]"},
      {kSetExclude, "1 2 3 1", "2 4", false, nullptr, "[1 3]"},
      {kSetDifference, "1 2 3", "2 3 4 4", false, nullptr, "[1 4]"},
      {kSetUnique, "\"a\" \"A\" \"b\"", "", false, nullptr, "[\"a\" \"b\"]"},
      {kSetUnique, "\"a\" \"A\" \"b\"", "", true, nullptr, "[\"a\" \"A\" \"b\"]"},
      {kSetIntersect, "\"a\" \"B\"", "\"b\"", false, nullptr, "[\"B\"]"},
      {kSetUnique, "a 1 a 2 b 3 c", "", false, "2", "[a 1 b 3 c]"},
      {kSetUnion, "a 1", "b 2 a 3", false, "2", "[a 1 b 2]"},
      {kSetExclude, "a 1 b 2", "b 9", false, "2", "[a 1]"},
      {kSetIntersect, "a 1 b 2", "1 b", false, "2", "[]"},
      {kSetUnique, "[1] [1] [2] [1]", "", false, nullptr, "[[1] [2]]"},
      {kSetDifference, "[1] x", "[1] y", false, nullptr, "[x y]"},
      {kSetUnique, "", "", false, nullptr, "[]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("[") + c.a + "] [" + c.b + "]");
    Cell r = run_set_op(c.op, *blk(c.a), *blk(c.b), c.case_, c.skip);
    EXPECT_TRUE(r.is(kTypeBlock));
    EXPECT_EQ(show(r), std::string("1 ") + c.result);
  }
}

TEST_F(BlockModifyTest, SetOperationsOnHashesAndHeads) {
  // A hash! on either side of a two-block operation gives a hash! with its index.
  Cell r = run_set_op(kSetUnion, *blk("1 2"), *hsh("2 3"));
  ASSERT_TRUE(r.is(kTypeHash));
  Cell* kept = stack_push_value(r);
  EXPECT_EQ(whole(*kept), "[1 2 3]");
  expect_index_in_step(kept);
  EXPECT_TRUE(run_set_op(kSetUnique, *blk("1 1"), *hsh("2")).is(kTypeBlock));
  EXPECT_TRUE(run_set_op(kSetIntersect, *hsh("1 2"), *blk("2")).is(kTypeHash));
  // From the heads; a head past the tail reads as the tail.
  EXPECT_EQ(show(run_set_op(kSetUnion, *blk("1 2 3", 1), *blk("3 4", 9))), "1 [2 3]");
  EXPECT_EQ(show(run_set_op(kSetExclude, *blk("1 2 3", 1), *blk("1 2 3", 2))), "1 [2]");
  // Errors.
  Cell* b = blk("1 2");
  EXPECT_EQ(catch_error([&] { run_set_op(kSetUnique, *b, *b, false, "0"); }), kErrScriptInvalidRefineArg);
  EXPECT_EQ(catch_error([&] { run_set_op(kSetUnique, *b, *b, false, "x"); }), kErrScriptInvalidRefineArg);
  EXPECT_EQ(catch_error([&] { run_set_op(kSetUnion, *b, integer_cell(1)); }), kErrScriptInvalidArg);
  EXPECT_EQ(catch_error([&] { run_set_op(kSetUnion, integer_cell(1), *b); }), kErrScriptInvalidArg);
}

TEST_F(BlockModifyTest, LargeSetOperations) {
  std::string a, b;
  for (int i = 0; i < 8000; i++) a += std::to_string(i % 1500) + " ";
  for (int i = 1000; i < 2500; i++) b += std::to_string(i) + " ";
  EXPECT_EQ(block_total_length(stack_push_value(run_set_op(kSetUnique, *blk(a.c_str()), *blk("")))), 1500);
  EXPECT_EQ(block_total_length(stack_push_value(run_set_op(kSetUnion, *blk(a.c_str()), *blk(b.c_str())))),
            2500);
  EXPECT_EQ(block_total_length(stack_push_value(run_set_op(kSetIntersect, *blk(a.c_str()), *blk(b.c_str())))),
            500);
  EXPECT_EQ(
      block_total_length(stack_push_value(run_set_op(kSetDifference, *blk(a.c_str()), *blk(b.c_str())))),
      2000);
}

}  // namespace
}  // namespace kiv
