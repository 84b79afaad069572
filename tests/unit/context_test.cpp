// Contexts: words and values in step, growth, global words and alias
// spellings, getting and setting (function contexts on the stack, object
// fields and their change hook), deep binding (nested, shared and
// self-containing blocks, positions, self), set-word collection, contexts
// from specs, clones and the accessors by slot.
#include "datatypes/context.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "tests/unit/kiv_test.h"

namespace kiv {
namespace {

using test::block_of;
using test::catch_error;
using test::symbol_of;
using test::word;

class ContextTest : public ::testing::Test {
 protected:
  // [ctx], kept reachable on the data stack for the test.
  static Node rooted(Node ctx) {
    stack_push_value(series_cell(kTypeBlock, ctx));
    return ctx;
  }

  // Cell #[i] of a block value's buffer. Short-lived.
  static Cell* at(const Cell* block, int32_t i) { return series_buffer(block->node())->cells() + i; }

  static uint32_t values_count(Node ctx) { return series_length(context_values(ctx)); }

  // Interning thousands of names collects at every one of them in a stress
  // build; the tests are about what is done with the names afterwards.
  static std::vector<int32_t> make_symbols(const std::string& prefix, int n) {
    CollectorPause pause;
    std::vector<int32_t> ids;
    for (int i = 0; i < n; i++) ids.push_back(symbol_make((prefix + std::to_string(i)).c_str()));
    return ids;
  }
};

TEST_F(ContextTest, WordsAndValuesStayInStep) {
  Node ctx = rooted(context_create(2, false, false, 0, kContextPlain));
  Cell a = word("cx-a"), b = word("cx-b"), upper_b = word("CX-B"), c = word("cx-c");
  EXPECT_EQ(context_add_word_unset(ctx, &a), 0);
  EXPECT_EQ(context_add_word_unset(ctx, &b), 1);
  EXPECT_EQ(context_add_word_unset(ctx, &upper_b), 1);  // canonical match
  EXPECT_EQ(context_word_count(ctx), 2u);
  EXPECT_EQ(values_count(ctx), 2u);
  EXPECT_TRUE(word_get_in(ctx, 1)->is(kTypeUnset));

  EXPECT_EQ(context_find_symbol(ctx, word_symbol(&upper_b), false), -1);
  EXPECT_EQ(context_find_symbol(ctx, word_symbol(&upper_b), true), 1);

  // add-symbol adds a word and no value; the next word added pads the values.
  int32_t added = -1;
  EXPECT_EQ(context_add_symbol(ctx, word_symbol(&upper_b), false, &added), -1);
  EXPECT_EQ(added, 2);
  EXPECT_EQ(values_count(ctx), 2u);
  EXPECT_EQ(context_add_word_unset(ctx, &c), 3);
  EXPECT_EQ(values_count(ctx), 4u);

  Cell w = context_node_word_at(ctx, 3);
  EXPECT_TRUE(w.is(kTypeWord));
  EXPECT_EQ(word_context(&w), ctx);
  EXPECT_EQ(word_symbol(&w), word_symbol(&c));
  EXPECT_EQ(word_index(&w), 3);
}

TEST_F(ContextTest, GrowsPastFourThousandWords) {
  constexpr int kWords = 4100;
  std::vector<int32_t> symbols = make_symbols("grow-", kWords);
  Node ctx = rooted(context_create(1, false, false, 0, kContextPlain));
  for (int i = 0; i < kWords; i++) {
    StackSave save;
    Cell* w = stack_push_value(word_cell(kTypeWord, ctx, symbols[i], -1));
    Cell* v = stack_push_value(integer_cell(i));
    context_set_in(w, v, ctx, false);
    ASSERT_EQ(word_index(w), i);
  }
  EXPECT_EQ(context_word_count(ctx), uint32_t(kWords));
  EXPECT_EQ(values_count(ctx), uint32_t(kWords));
  for (int i = 0; i < kWords; i += 37) {
    ASSERT_EQ(context_find_symbol(ctx, symbols[i], false), i);
    Cell w = word_cell(kTypeWord, ctx, symbols[i], i);
    EXPECT_EQ(integer_get(get_word_value(&w)), i);
  }
}

// ---------------------------------------------------------------- binding

TEST_F(ContextTest, BindsNestedBlocksDeeply) {
  Node ctx = rooted(context_create(4, false, false, 0, kContextPlain));
  Cell a = word("bd-a"), b = word("bd-b");
  int32_t slot_a = context_add_word_unset(ctx, &a);
  int32_t slot_b = context_add_word_unset(ctx, &b);

  Cell* inner2 = block_of({word("bd-c"), word("bd-a")});
  Cell* paren = block_of({word("bd-a")}, kTypeParen);
  Cell* inner1 = block_of({word("bd-b"), *paren, *inner2});
  Cell* path = block_of({word("bd-a"), word("bd-b")}, kTypePath);
  Cell* hash = block_of({word("bd-a", kTypeSetWord)}, kTypeHash);
  Cell* top =
      block_of({word("bd-a", kTypeLitWord), word("bd-a", kTypeGetWord), word("BD-A", kTypeSetWord),
                word("bd-a", kTypeRefinement), load_issue("bd-a"), word("bd-a"), *inner1, *path, *hash});
  context_bind_block(top, ctx, false);

  auto bound = [&](const Cell* c, int32_t slot) { return word_context(c) == ctx && word_index(c) == slot; };
  for (int i : {0, 1, 2, 3, 5}) EXPECT_TRUE(bound(at(top, i), slot_a)) << i;
  EXPECT_EQ(word_context(at(top, 4)), g_global_context);  // issue! is never bound
  EXPECT_EQ(word_index(at(top, 4)), -1);
  EXPECT_TRUE(bound(at(inner1, 0), slot_b));
  EXPECT_TRUE(bound(at(paren, 0), slot_a));
  EXPECT_EQ(word_context(at(inner2, 0)), g_global_context);  // not in the context: left alone
  EXPECT_TRUE(bound(at(inner2, 1), slot_a));
  EXPECT_TRUE(bound(at(path, 0), slot_a));
  EXPECT_TRUE(bound(at(path, 1), slot_b));
  EXPECT_TRUE(bound(at(hash, 0), slot_a));
}

TEST_F(ContextTest, BindingMatchesIgnoringCase) {
  Node ctx = rooted(context_create(4, false, false, 0, kContextPlain));
  Cell foo = word("case-foo");
  int32_t slot = context_add_word_unset(ctx, &foo);
  Cell* block = block_of({word("CASE-FOO"), word("Case-Foo", kTypeGetWord)});
  context_bind_block(block, ctx, false);
  EXPECT_EQ(word_context(at(block, 0)), ctx);
  EXPECT_EQ(word_index(at(block, 0)), slot);
  EXPECT_EQ(word_index(at(block, 1)), slot);
  Cell plain = word("CASE-FOO");
  EXPECT_EQ(context_bind_word(ctx, &plain), slot);
  Cell absent = word("case-bar");
  EXPECT_EQ(context_bind_word(ctx, &absent), -1);
  EXPECT_EQ(word_context(&absent), g_global_context);
}

TEST_F(ContextTest, BindingTerminatesOnCyclesAndSharedBlocks) {
  Node ctx = rooted(context_create(4, false, false, 0, kContextPlain));
  Cell a = word("cyc-a");
  int32_t slot = context_add_word_unset(ctx, &a);

  // A block that contains itself.
  Cell* self_block = block_of({word("cyc-a")});
  *append_cell(self_block->node()) = *self_block;
  context_bind_block(self_block, ctx, false);
  EXPECT_EQ(word_index(at(self_block, 0)), slot);

  // 60 levels, each holding the next one twice: walked once each, not 2^60 times.
  Cell* level = block_of({word("cyc-a")});
  for (int i = 0; i < 60; i++) level = block_of({word("cyc-a"), *level, *level});
  context_bind_block(level, ctx, false);
  Cell* deepest = level;
  for (int i = 0; i < 60; i++) {
    EXPECT_EQ(word_index(at(deepest, 0)), slot);
    deepest = at(deepest, 1);
  }
  EXPECT_EQ(word_index(at(deepest, 0)), slot);
}

TEST_F(ContextTest, BindingStartsAtTheBlocksPosition) {
  Node ctx = rooted(context_create(4, false, false, 0, kContextPlain));
  Cell a = word("pos-a");
  context_add_word_unset(ctx, &a);
  Cell* block = block_of({word("pos-a"), word("pos-a"), word("pos-b")});
  block->set_head(1);
  context_bind_block(block, ctx, false);
  EXPECT_EQ(word_context(at(block, 0)), g_global_context);
  EXPECT_EQ(word_context(at(block, 1)), ctx);
  EXPECT_EQ(word_context(at(block, 2)), g_global_context);

  // One series met at position 2 and then at its head: every cell gets bound.
  Cell* shared = block_of({word("pos-a"), word("pos-a"), word("pos-a")});
  Cell later = *shared;
  later.set_head(2);
  Cell* outer = block_of({later, *shared});
  context_bind_block(outer, ctx, false);
  for (int i = 0; i < 3; i++) EXPECT_EQ(word_context(at(shared, i)), ctx) << i;
}

TEST_F(ContextTest, SelfBindsToTheContextsSelfCell) {
  Node ctx = rooted(context_create(4, false, true, 0, kContextObject));
  Cell field = word("self-field");
  context_add_word_unset(ctx, &field);
  Cell* block = block_of({word("self"), word("self", kTypeSetWord), word("self-field")});
  context_bind_block(block, ctx, true);
  EXPECT_EQ(word_context(at(block, 0)), ctx);
  EXPECT_EQ(word_index(at(block, 0)), -1);
  EXPECT_EQ(word_context(at(block, 1)), g_global_context);  // only word! is bound as self
  EXPECT_EQ(word_context(at(block, 2)), ctx);

  *context_self_cell(ctx) = integer_cell(7);
  Cell self = *at(block, 0);
  EXPECT_EQ(integer_get(get_word_value(&self)), 7);

  // Without the flag, self is an ordinary word.
  Cell* plain = block_of({word("self")});
  context_bind_block(plain, ctx, false);
  EXPECT_EQ(word_context(at(plain, 0)), g_global_context);

  // Any other word with index -1 has no value.
  Cell loose = word_cell(kTypeWord, ctx, word_symbol(&field), -1);
  EXPECT_EQ(catch_error([&] { get_word_value(&loose); }), kErrScriptNoValue);
}

// ---------------------------------------------------------------- getting and setting

TEST_F(ContextTest, FunctionContextValuesLiveOnTheStack) {
  Node ctx = rooted(context_create(2, true, false, 0, kContextFunction));
  Cell x = word("fn-x"), y = word("fn-y");
  int32_t sx = context_add_word_unset(ctx, &x);
  int32_t sy = context_add_word_unset(ctx, &y);
  Cell* bx = stack_push_value(word_cell(kTypeWord, ctx, word_symbol(&x), sx));
  Cell* by = stack_push_value(word_cell(kTypeWord, ctx, word_symbol(&y), -1));
  Cell* five = stack_push_value(integer_cell(5));

  // Not running: get and set refuse, and the context is unchanged.
  EXPECT_EQ(catch_error([&] { get_word_value(bx); }), kErrScriptNotInContext);
  EXPECT_EQ(catch_error([&] { set_word_value(by, five); }), kErrScriptNotDefined);
  EXPECT_EQ(word_index(by), -1);
  EXPECT_EQ(context_word_count(ctx), 2u);

  // Running: the values start at the first argument.
  Cell* args = stack_push_value(integer_cell(1));
  stack_push_value(integer_cell(2));
  context_set_values(ctx, stack_index(args) + 1);
  EXPECT_EQ(integer_get(get_word_value(bx)), 1);
  set_word_value(by, five);
  EXPECT_EQ(word_index(by), sy);
  EXPECT_EQ(integer_get(&args[1]), 5);
  EXPECT_EQ(integer_get(push_context_value(ctx, 1)), 5);
  context_set_values(ctx, 0);
  EXPECT_EQ(catch_error([&] { push_context_value(ctx, 0); }), kErrScriptNotDefined);

  // Values of a stack context are looked up in the global context instead.
  Cell* g = stack_push_value(word("fn-x"));
  set_word_value(g, five);
  EXPECT_EQ(integer_get(context_find_value(word_symbol(&x), ctx)), 5);
}

struct HookRecord {
  int calls = 0;
  Cell word{}, old_value{}, new_value{};
};
HookRecord g_hook;

void record_change(Cell*, Cell* word, Cell* old_value, Cell* new_value) {
  g_hook.calls++;
  g_hook.word = *word;
  g_hook.old_value = *old_value;
  g_hook.new_value = *new_value;
}

TEST_F(ContextTest, ObjectFieldsAreMarkedAndNotify) {
  Node ctx = rooted(context_create(4, false, true, 0, kContextObject));
  Cell f = word("obj-f"), g = word("obj-g");
  int32_t sf = context_add_word_unset(ctx, &f);
  int32_t sg = context_add_word_unset(ctx, &g);
  Cell* wf = stack_push_value(word_cell(kTypeWord, ctx, word_symbol(&f), sf));
  Cell* wg = stack_push_value(word_cell(kTypeWord, ctx, word_symbol(&g), sg));

  // No on-change*: the field is still marked as set.
  set_word_value(wf, stack_push_value(integer_cell(1)));
  EXPECT_TRUE(context_node_word_at(ctx, sf).header & kFlagFieldSet);
  EXPECT_FALSE(context_node_word_at(ctx, sg).header & kFlagFieldSet);

  // An object with an event record hears of each change, old and new value.
  ObjectOnChangeFn saved = g_hooks.object_on_change;
  g_hooks.object_on_change = record_change;
  g_hook = {};
  Node events = series_alloc_cells(2);  // an event record is a series of cells
  *context_self_cell(ctx) = object_cell(ctx, 0, events);
  set_word_value(wg, stack_push_value(integer_cell(2)));
  set_word_value(wg, stack_push_value(integer_cell(3)));
  context_set_in(wg, stack_push_value(integer_cell(4)), ctx, false);  // no fire
  g_hooks.object_on_change = saved;
  EXPECT_EQ(g_hook.calls, 2);
  EXPECT_EQ(word_symbol(&g_hook.word), word_symbol(&g));
  EXPECT_EQ(integer_get(&g_hook.old_value), 2);
  EXPECT_EQ(integer_get(&g_hook.new_value), 3);
  EXPECT_EQ(integer_get(word_get_in(ctx, sg)), 4);
  EXPECT_TRUE(context_node_word_at(ctx, sg).header & kFlagFieldSet);
}

TEST_F(ContextTest, AliasSpellingsShareTheGlobalValue) {
  Cell* canon = stack_push_value(load_word("GlobalSpell"));
  set_word_value(canon, stack_push_value(integer_cell(11)));

  // A new alias spelling added by exact match shares the canonical slot.
  uint32_t before = context_word_count(g_global_context);
  Cell* alias = stack_push_value(context_global_word(symbol_make("globalspell")));
  EXPECT_EQ(symbol_name(word_symbol(alias)), "globalspell");
  EXPECT_EQ(word_index(alias), word_index(canon));
  EXPECT_EQ(integer_get(get_word_value(alias)), 11);
  EXPECT_EQ(context_word_count(g_global_context), before + 1);
  EXPECT_EQ(values_count(g_global_context), before + 1);

  // A word loaded from text finds the canonical word and keeps its own spelling.
  Cell* loud = stack_push_value(load_word("GLOBALSPELL"));
  EXPECT_EQ(symbol_name(word_symbol(loud)), "GLOBALSPELL");
  EXPECT_EQ(word_index(loud), word_index(canon));
  set_word_value(loud, stack_push_value(integer_cell(12)));
  EXPECT_EQ(integer_get(get_word_value(alias)), 12);

  // Without the canonical spelling in the global context, an alias gets its own slot.
  int32_t only = symbol_make("OnlyCanonSpelling");
  int32_t lower = symbol_make("onlycanonspelling");
  ASSERT_EQ(symbol_alias(lower), only);
  Cell own = context_global_word(lower);
  EXPECT_EQ(word_index(&own), int32_t(context_word_count(g_global_context)) - 1);
  EXPECT_TRUE(get_word_value(&own)->is(kTypeUnset));
}

TEST_F(ContextTest, AddWordKeepsAndSetOrAddOverwrites) {
  Node ctx = rooted(context_create(2, false, false, 0, kContextPlain));
  Cell k = word("keep-k");
  Cell* one = stack_push_value(integer_cell(1));
  Cell* two = stack_push_value(integer_cell(2));
  int32_t slot = context_add_word(ctx, &k, one);
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(context_add_word(ctx, &k, two), -1);
  EXPECT_EQ(integer_get(word_get_in(ctx, slot)), 1);
  EXPECT_EQ(context_set_or_add(ctx, &k, two), slot);
  EXPECT_EQ(integer_get(word_get_in(ctx, slot)), 2);
  Cell other = word("keep-other");
  EXPECT_EQ(context_set_or_add(ctx, &other, one), 1);
  EXPECT_EQ(integer_get(context_find_value(word_symbol(&other), ctx)), 1);
}

TEST_F(ContextTest, CollectSetWords) {
  Node ctx = rooted(context_create(2, false, false, 0, kContextPlain));
  Cell* block =
      block_of({word("sw-a", kTypeSetWord), integer_cell(1), word("sw-b", kTypeSetWord),
                word("sw-c", kTypeSetWord), word("sw-d", kTypeLitWord), word("SW-B", kTypeSetWord)});
  block->set_head(1);
  EXPECT_TRUE(context_collect_set_words(ctx, block));
  EXPECT_EQ(context_word_count(ctx), 2u);
  EXPECT_EQ(context_find_symbol(ctx, symbol_of(word("sw-a")), true), -1);
  EXPECT_GE(context_find_symbol(ctx, symbol_of(word("sw-c")), true), 0);
  EXPECT_FALSE(context_collect_set_words(ctx, block));
  block->set_head(99);
  EXPECT_FALSE(context_collect_set_words(ctx, block));
  EXPECT_EQ(block->head(), 6);
}

TEST_F(ContextTest, ContextFromSpec) {
  Cell* spec = block_of({word("sp-a"), word("sp-b", kTypeRefinement), word("sp-c", kTypeGetWord),
                         word("sp-d", kTypeLitWord), integer_cell(0), word("sp-e", kTypeSetWord),
                         word("SP-A"), word("sp-f", kTypeIssue)});
  Node heap = rooted(context_from_spec(spec, false, false, kContextPlain));
  EXPECT_EQ(context_word_count(heap), 4u);
  EXPECT_EQ(values_count(heap), 4u);
  EXPECT_EQ(context_find_symbol(heap, symbol_of(word("sp-d")), false), 3);
  Node stack = rooted(context_from_spec(spec, true, false, kContextFunction));
  EXPECT_EQ(context_word_count(stack), 4u);
  EXPECT_EQ(context_values(stack), 0u);
  EXPECT_EQ(context_kind(stack), kContextFunction);
  EXPECT_TRUE(context_stack_q(stack));
}

TEST_F(ContextTest, SlotAccessors) {
  Node ctx = rooted(context_create(2, false, false, 0, kContextObject));
  Cell a = word("acc-a"), b = word("acc-b");
  context_add_word_unset(ctx, &a);
  context_add_word_unset(ctx, &b);
  EXPECT_EQ(word_symbol(push_context_word(ctx, 1)), word_symbol(&b));
  EXPECT_TRUE(push_get_word(stack_last_value())->is(kTypeGetWord));
  EXPECT_TRUE(push_context_refinement(ctx, 0)->is(kTypeRefinement));
  EXPECT_TRUE(push_context_get_word(ctx, 0)->is(kTypeGetWord));

  stack_push_value(integer_cell(8));
  set_context_word_keep(ctx, 0);
  EXPECT_EQ(integer_get(word_get_in(ctx, 0)), 8);
  EXPECT_TRUE(context_node_word_at(ctx, 0).header & kFlagFieldSet);

  stack_push_value(integer_cell(9));
  set_context_word_push_old(ctx, 0);
  EXPECT_EQ(integer_get(stack_last_value()), 8);  // the old value, pushed
  EXPECT_EQ(integer_get(word_get_in(ctx, 0)), 9);
  EXPECT_EQ(integer_get(push_context_value(ctx, 0)), 9);

  Node fn = rooted(context_create(1, true, false, 0, kContextFunction));
  context_add_word_unset(fn, &a);
  stack_push_value(integer_cell(1));
  EXPECT_EQ(catch_error([&] { set_context_word_keep(fn, 0); }), kErrScriptNotDefined);
}

TEST_F(ContextTest, CloneGivesAnObjectItsOwnContext) {
  Node ctx = rooted(context_create(2, false, true, 0, kContextObject));
  Cell a = word("cl-a");
  int32_t slot = context_add_word_unset(ctx, &a);
  *word_get_in(ctx, slot) = integer_cell(1);
  Cell* object = stack_push_value(object_cell(ctx));

  Node copy = context_clone(object, kContextObject);
  EXPECT_NE(copy, ctx);
  EXPECT_EQ(object_context(object), copy);
  Cell in_copy = context_node_word_at(copy, slot), in_ctx = context_node_word_at(ctx, slot);
  EXPECT_EQ(word_context(&in_copy), copy);
  EXPECT_EQ(word_context(&in_ctx), ctx);
  *word_get_in(copy, slot) = integer_cell(2);
  EXPECT_EQ(integer_get(word_get_in(ctx, slot)), 1);
  EXPECT_EQ(object_context(context_self_cell(copy)), copy);
  EXPECT_TRUE(context_cell(copy)->header & kFlagContextSelf);

  // A context made as a clone of another starts with its words, rebound.
  Node made = rooted(context_create(1, false, false, ctx, kContextPlain));
  EXPECT_EQ(context_word_count(made), 1u);
  EXPECT_EQ(values_count(made), 1u);
  Cell in_made = context_node_word_at(made, 0);
  EXPECT_EQ(word_context(&in_made), made);
}

}  // namespace
}  // namespace kiv
