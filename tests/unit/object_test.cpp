// object!: make (from a block and from an object, derived from a prototype),
// copy, construct and set, path steps, select and put, reflect, modify, form
// and mold, compare, make/to block! of an object; the change handlers; and
// the ownership of series with the notifications they send.
//
// There is no evaluator yet: the fixture installs two stand-ins through the
// object hooks. The spec evaluator sets each run of set-words to the value
// after it (a word is looked up first), enough to show binding; the handler
// runner records each call (frame name, flags, locals count and the molded
// arguments) instead of running the function.
#include "datatypes/object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/owner.h"
#include "datatypes/word.h"
#include "kiv_test.h"
#include "runtime/cycle.h"
#include "runtime/stack.h"

namespace kiv {
namespace {

using test::Act;
using test::block_of;
using test::call_action;
using test::catch_error;
using test::compare;
using test::form_of;
using test::mold;
using test::mold_of;
using test::push_text;
using test::text_cell;
using test::word;

// ---------------------------------------------------------------- the stand-ins

// The spec evaluator: [a: b: 1 c: a] sets a and b to 1, then c to a's value.
void set_words_eval(Cell* block) {
  StackSave save;
  Cell* target = stack_push();
  Cell* value = stack_push();
  Node node = block->node();
  int32_t i = std::max(block->head(), 0);
  while (i < int32_t(series_length(node))) {
    int32_t first = i;
    while (i < int32_t(series_length(node)) && series_cells(node)[i].is(kTypeSetWord)) i++;
    if (i == first) {
      i++;
      continue;
    }
    *value = i < int32_t(series_length(node)) ? series_cells(node)[i] : kUnsetCell;
    if (value->is(kTypeWord)) *value = *get_word_value(value);
    for (int32_t k = first; k < i; k++) {
      *target = series_cells(node)[k];
      set_word_value(target, value);
    }
    i++;
  }
}

// One handler call as the runner saw it.
struct HandlerCall {
  std::string frame;  // the frame's name
  uint32_t flags;
  int32_t locals;
  Node object;       // the context the handler runs for
  std::string args;  // the arguments molded, space-separated (an object as "<object>")
};
std::vector<HandlerCall> g_calls;

std::string symbol_text(int32_t symbol) {
  Cell w = word_cell(kTypeWord, 0, symbol, -1);
  return form_of(w);
}

void record_handler(Cell* handler, Node object, const Cell* name, uint32_t flags) {
  EXPECT_TRUE(handler->is(kTypeFunction));
  EXPECT_EQ(stack_top_frame()->kind(), kFrameFunction);
  EXPECT_EQ(stack_top_frame()->symbol(), uint32_t(word_symbol(name)) & 0xFFFF);
  // The arguments, then the locals: false for /local, none for each word.
  int32_t argc = flags == kHandlerOnChange ? 3 : 7;
  int32_t locals = int32_t(g_stack.top - g_stack.arguments) - argc;
  if (locals > 0) {
    EXPECT_TRUE(g_stack.arguments[argc].is(kTypeLogic));
    for (int32_t i = 1; i < locals; i++) EXPECT_TRUE(g_stack.arguments[argc + i].is(kTypeNone));
  }
  std::string args;
  for (Cell* a = g_stack.arguments; a < g_stack.arguments + argc; a++) {
    if (!args.empty()) args += ' ';
    args += is_any_object(a->type()) ? "<object>" : mold_of(*a);
  }
  g_calls.push_back({symbol_text(word_symbol(name)), flags, locals, object, args});
}

class ObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_eval_ = g_hooks.object_eval_block;
    saved_invoke_ = g_hooks.object_invoke_handler;
    g_hooks.object_eval_block = set_words_eval;
    g_hooks.object_invoke_handler = record_handler;
    g_calls.clear();
  }
  void TearDown() override {
    g_hooks.object_eval_block = saved_eval_;
    g_hooks.object_invoke_handler = saved_invoke_;
  }

  static Cell sw(const char* name) { return word(name, kTypeSetWord); }

  // make object! from a block of [cells].
  static Cell* object(std::initializer_list<Cell> cells) { return test::make(kTypeObject, *block_of(cells)); }

  // A function! whose spec holds the words of [spec] (a name starting with
  // "/" is a refinement), with an empty body.
  static Cell* function(std::initializer_list<const char*> spec) {
    Cell* block = block_of({});
    for (const char* name : spec) {
      Cell w = name[0] == '/' ? word(name + 1, kTypeRefinement) : word(name);
      block_append_value(block, &w);
    }
    Cell* body = block_of({});
    make_function_value(block, body, 0, 0, 0, 0);
    return stack_last_value();
  }
  static Cell* on_change() { return function({"word", "old", "new"}); }
  static Cell* on_deep_change() {
    return function({"owner", "word", "target", "action", "new", "index", "part"});
  }

  // A copy of [object]'s field [name], pushed.
  static Cell* field(Cell* object, const char* name) {
    Cell w = word(name);
    return stack_push_cell(object_field_by_word(object, &w));
  }

  // One path step on [object] through the eval-path dispatch: get, or set [value].
  static Cell path(Cell* object, const char* name, Cell* value = nullptr, bool absent_ok = false,
                   bool by_key = false) {
    EvalPathArgs a;
    a.element = stack_push_value(word(name));
    a.value = value;
    a.absent_ok = absent_ok;
    a.by_key = by_key;
    return *action_eval_path(object, a);
  }

  // An object with on-deep-change* owning blk: [1 2 3] and str: "abc".
  static Cell* owner_object() {
    return object({sw("blk"), *block_of({integer_cell(1), integer_cell(2), integer_cell(3)}), sw("str"),
                   text_cell("abc"), sw("on-deep-change*"), *on_deep_change()});
  }

  static std::string reflect(Cell* object, const char* field) {
    return mold_of(call_action(kActionReflect, {*object, word(field)}));
  }

 private:
  ObjectEvalBlockFn saved_eval_;
  ObjectInvokeHandlerFn saved_invoke_;
};

// ---------------------------------------------------------------- make

TEST_F(ObjectTest, MakeBindsTheSetWordsBeforeEvaluating) {
  Cell* o = object({sw("a"), integer_cell(1), sw("b"), word("a"), sw("c"), sw("d"), text_cell("x")});
  EXPECT_EQ(mold_of(*o), "make object! [\n    a: 1\n    b: 1\n    c: \"x\"\n    d: \"x\"\n]");
  EXPECT_NE(object_class(o), 0u);
  EXPECT_EQ(reflect(o, "changed"), "[]");  // the marks of the evaluation are cleared
  EXPECT_EQ(reflect(o, "events?"), "false");
  EXPECT_EQ(object_context(context_self_cell(object_context(o))), object_context(o));
  // Each make from a block without a prototype takes a new class.
  Cell* p = object({sw("a"), integer_cell(1)});
  EXPECT_NE(object_class(p), object_class(o));
}

TEST_F(ObjectTest, MakeErrors) {
  EXPECT_EQ(catch_error([] { test::make(kTypeObject, integer_cell(1)); }), kErrSyntaxMalconstruct);
  EXPECT_EQ(catch_error([] { object({sw("on-change*"), integer_cell(1)}); }), kErrScriptBadFieldSet);
  EXPECT_EQ(catch_error([] { object({sw("on-deep-change*"), text_cell("x")}); }), kErrScriptBadFieldSet);
  g_hooks.object_eval_block = nullptr;
  EXPECT_EQ(catch_error([] { object({sw("a"), integer_cell(1)}); }), kErrInternalNotDone);
}

TEST_F(ObjectTest, DerivedObjectsAndTheirClasses) {
  Cell* proto = object({sw("a"), integer_cell(1), sw("b"), integer_cell(2)});
  struct Case {
    const char* name;
    Cell spec;
    bool new_class;
    const char* mold;
  } cases[] = {
      {"a block setting a field", *block_of({sw("a"), integer_cell(5)}), false,
       "make object! [\n    a: 5\n    b: 2\n]"},
      {"a block adding a field", *block_of({sw("c"), integer_cell(3)}), true,
       "make object! [\n    a: 1\n    b: 2\n    c: 3\n]"},
      {"an object setting a field", *object({sw("b"), integer_cell(7)}), false,
       "make object! [\n    a: 1\n    b: 7\n]"},
      {"an object adding a field", *object({sw("d"), integer_cell(4)}), true,
       "make object! [\n    a: 1\n    b: 2\n    d: 4\n]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cell* derived = test::call(kActionMake, {*proto, c.spec});
    EXPECT_EQ(mold_of(*derived), c.mold);
    EXPECT_EQ(object_class(derived) != object_class(proto), c.new_class);
    EXPECT_NE(object_context(derived), object_context(proto));
  }
  EXPECT_EQ(mold_of(*proto), "make object! [\n    a: 1\n    b: 2\n]");
}

TEST_F(ObjectTest, DerivedObjectsCopyTheSeriesAndRebindThem) {
  Cell* a = stack_push_value(word("a"));
  Cell* proto = object({sw("a"), integer_cell(1), sw("blk"), *block_of({*a}), sw("s"), text_cell("x")});
  Cell* derived = test::call(kActionMake, {*proto, *block_of({sw("a"), integer_cell(2)})});
  Cell* blk = field(derived, "blk");
  EXPECT_NE(blk->node(), field(proto, "blk")->node());
  EXPECT_NE(field(derived, "s")->node(), field(proto, "s")->node());
  call_action(kActionAppend, {*blk, integer_cell(9)});
  EXPECT_EQ(mold_of(*field(proto, "blk")), "[a]");
  EXPECT_EQ(mold_of(*blk), "[a 9]");
  // The word in the copied block names the derived object's field.
  EXPECT_EQ(word_context(series_cells(blk->node())), object_context(derived));
  EXPECT_EQ(word_context(series_cells(field(proto, "blk")->node())), object_context(proto));
  // Made from an object spec, the series are copied too.
  Cell* extended = test::call(kActionMake, {*proto, *proto});
  EXPECT_NE(field(extended, "blk")->node(), field(proto, "blk")->node());
}

TEST_F(ObjectTest, MethodsOfADerivedObjectUseItsFields) {
  Cell* body = block_of({word("a")});
  Cell* spec = block_of({word("x")});
  make_function_value(spec, body, 0, 0, 0, 0);
  Cell* method = stack_last_value();
  Cell* proto = object({sw("a"), integer_cell(1), sw("f"), *method});
  Cell* derived = test::call(kActionMake, {*proto, *block_of({sw("a"), integer_cell(2)})});
  auto body_word = [](Cell* fn) { return series_cells(series_cells(function_more(fn))->node())[0]; };
  Cell* f_proto = field(proto, "f");
  Cell* f_derived = field(derived, "f");
  EXPECT_NE(function_more(f_proto), function_more(f_derived));
  Cell w_proto = body_word(f_proto), w_derived = body_word(f_derived);
  EXPECT_EQ(word_context(&w_derived), object_context(derived));
  // The stand-in evaluator stores the function as it is: its body, and that
  // of the original, still name the global a.
  Cell w_method = body_word(method);
  EXPECT_EQ(word_context(&w_proto), g_global_context);
  EXPECT_EQ(word_context(&w_method), g_global_context);
}

// ---------------------------------------------------------------- copy, construct, set

TEST_F(ObjectTest, Copy) {
  Cell* inner = block_of({integer_cell(1)});
  Cell* o = object({sw("blk"), *block_of({*inner}), sw("s"), text_cell("x"), sw("n"), integer_cell(1)});
  Cell* shallow = test::call(kActionCopy, {*o});
  EXPECT_NE(object_context(shallow), object_context(o));
  EXPECT_EQ(object_class(shallow), object_class(o));
  EXPECT_EQ(field(shallow, "blk")->node(), field(o, "blk")->node());
  EXPECT_EQ(mold_of(*shallow), mold_of(*o));

  Cell* deep = Act(kActionCopy, {*o}).ref("deep").run();
  Cell* blk = field(deep, "blk");
  EXPECT_NE(blk->node(), field(o, "blk")->node());
  EXPECT_NE(series_cells(blk->node())->node(), inner->node());  // nested blocks too
  EXPECT_NE(field(deep, "s")->node(), field(o, "s")->node());

  Cell* typed = Act(kActionCopy, {*o}).ref("deep").ref("types", datatype_cell(kTypeString)).run();
  EXPECT_EQ(field(typed, "blk")->node(), field(o, "blk")->node());
  EXPECT_NE(field(typed, "s")->node(), field(o, "s")->node());

  EXPECT_EQ(Act(kActionCopy, {*o}).ref("part", integer_cell(1)).error(), kErrScriptInvalidRefineArg);
  // An object inside itself cannot be copied by type.
  path(o, "n", o);
  EXPECT_EQ(Act(kActionCopy, {*o}).ref("deep").ref("types", datatype_cell(kTypeObject)).error(),
            kErrInternalNoCycle);
}

TEST_F(ObjectTest, Construct) {
  Cell* spec = block_of({sw("a"), sw("b"), integer_cell(1), sw("t"), word("yes"), sw("f"), word("OFF"),
                         sw("n"), word("none"), sw("w"), word("other"), sw("last")});
  Cell* o = object_construct(nullptr, spec, false);
  EXPECT_EQ(mold(*o, false, false, true),
            "make object! [a: 1 b: 1 t: true f: false n: none w: 'other last: none]");
  Cell* raw = object_construct(nullptr, spec, true);
  EXPECT_EQ(mold(*raw, false, false, true),
            "make object! [a: 1 b: 1 t: 'yes f: 'OFF n: 'none w: 'other last: none]");
  EXPECT_NE(object_class(o), object_class(raw));
  Cell* derived = object_construct(o, block_of({sw("a"), integer_cell(5)}), false);
  EXPECT_EQ(mold(*derived, false, false, true),
            "make object! [a: 5 b: 1 t: true f: false n: none w: 'other last: none]");
  EXPECT_EQ(object_class(derived), object_class(o));
  EXPECT_NE(object_class(object_construct(o, block_of({sw("z"), integer_cell(5)}), false)), object_class(o));
}

TEST_F(ObjectTest, SetFields) {
  Cell* o = object({sw("a"), integer_cell(1), sw("b"), integer_cell(2), sw("c"), integer_cell(3),
                    sw("on-change*"), *on_change()});
  object_set_fields(o, block_of({integer_cell(10), kNoneCell}), false, true);  // /some skips none
  object_set_fields(o, object({sw("c"), integer_cell(30), sw("z"), integer_cell(0)}), false, false);
  EXPECT_EQ(mold_of(*field(o, "a")) + mold_of(*field(o, "b")) + mold_of(*field(o, "c")), "10230");
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].args, "a 1 10");
  EXPECT_EQ(g_calls[1].args, "c 3 30");
  EXPECT_EQ(reflect(o, "changed"), "[a c]");

  Cell* plain = object({sw("x"), integer_cell(1), sw("y"), integer_cell(2)});
  object_set_fields(plain, stack_push_value(integer_cell(7)), false, false);
  EXPECT_EQ(mold(*plain, false, false, true), "make object! [x: 7 y: 7]");
  EXPECT_EQ(catch_error([&] {
              object_set_fields(plain, block_of({integer_cell(1), kUnsetCell}), false, false);
            }),
            kErrScriptNeedValue);
  EXPECT_EQ(mold(*plain, false, false, true), "make object! [x: 7 y: 7]");  // checked before any change
  object_set_fields(plain, block_of({kUnsetCell}), true, false);
  EXPECT_TRUE(field(plain, "x")->is(kTypeUnset));
}

// ---------------------------------------------------------------- change handlers

TEST_F(ObjectTest, OnChangeHearsFieldsSetByPathAndByWord) {
  Cell* o = object({sw("a"), integer_cell(1), sw("on-change*"), *on_change()});
  Node ctx = object_context(o);
  EXPECT_EQ(reflect(o, "events?"), "true");
  EXPECT_TRUE(path(o, "a", stack_push_value(integer_cell(2))).is(kTypeInteger));
  Cell* a = stack_push_value(word("a"));
  context_bind_word(ctx, a);
  set_word_value(a, stack_push_value(integer_cell(3)));
  context_set_in(a, stack_push_value(integer_cell(4)), ctx, false);  // no call
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].frame, "on-change*");
  EXPECT_EQ(g_calls[0].flags, kHandlerOnChange);
  EXPECT_EQ(g_calls[0].locals, 0);
  EXPECT_EQ(g_calls[0].object, ctx);
  EXPECT_EQ(g_calls[0].args, "a 1 2");
  EXPECT_EQ(g_calls[1].args, "a 2 3");
  EXPECT_EQ(reflect(o, "changed"), "[a]");

  // A replaced handler is noticed: its locals are counted again.
  Cell* h = stack_push_value(word("on-change*"));
  context_bind_word(ctx, h);
  context_set_in(h, function({"w", "o", "n", "/local", "x", "y"}), ctx, false);
  path(o, "a", stack_push_value(integer_cell(5)));
  EXPECT_EQ(g_calls.back().locals, 3);
  // A handler field that holds no function fails at the next change.
  context_set_in(h, stack_push_value(integer_cell(1)), ctx, false);
  EXPECT_EQ(catch_error([&] { path(o, "a", stack_push_value(integer_cell(6))); }), kErrScriptInvalidObjEvt);
  g_hooks.object_invoke_handler = nullptr;
  context_set_in(h, on_change(), ctx, false);
  EXPECT_EQ(catch_error([&] { path(o, "a", stack_push_value(integer_cell(7))); }), kErrInternalNotDone);
}

TEST_F(ObjectTest, OnDeepChangeCallErrors) {
  Cell* plain = object({sw("a"), integer_cell(1)});
  Cell* w = stack_push_value(word("a"));
  EXPECT_EQ(catch_error([&] { object_on_deep_change(plain, w, w, w, nullptr, 0, 0); }),
            kErrScriptInvalidObjEvt);
  // Only on-change*: nothing to call.
  Cell* o = object({sw("on-change*"), *on_change()});
  object_on_deep_change(o, w, w, w, nullptr, 0, 0);
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(ObjectTest, ObjectsMadeOverAContext) {
  // A context of three words and one value: the object gets a value per word.
  Cell* spec = block_of({word("a"), word("b"), word("on-deep-change*")});
  Node ctx = context_from_spec(spec, false, true, kContextObject);
  stack_push_value(context_view(ctx));
  series_buffer(context_values(ctx))->tail = 16;
  Cell* o = object_from_context(ctx, 7);
  EXPECT_EQ(object_class(o), 7u);
  EXPECT_EQ(series_length(context_values(ctx)), 3u);
  Cell* blk = block_of({integer_cell(1)});
  *word_get_in(ctx, 0) = *blk;
  *word_get_in(ctx, 2) = *on_deep_change();
  Cell* finished = stack_push_cell(o);  // the object last pushed takes the events
  object_attach_events(ctx, -1, 0, 2, 0);
  EXPECT_EQ(object_events(context_self_cell(ctx)), object_events(finished));
  EXPECT_EQ(reflect(finished, "events?"), "true");
  EXPECT_EQ(reflect(finished, "owner"), "true");
  call_action(kActionAppend, {*blk, integer_cell(2)});
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].locals, 0);  // counted at the first call: the spec was not known
  EXPECT_EQ(g_calls[1].args, "<object> a [1 2] appended 2 1 1");
  EXPECT_EQ(object_field_count(finished), 3u);
  EXPECT_EQ(mold_of(object_first_word(finished)), "a");
  EXPECT_TRUE(object_field_class_q(ctx, 0, 0) == false);

  // on-change* after a compiled set: the new value, then the old one, on the stack.
  Cell* c = object({sw("a"), integer_cell(1), sw("on-change*"), *on_change()});
  Cell* a = stack_push_value(word("a"));
  stack_push_value(integer_cell(2));
  stack_push_value(integer_cell(1));
  object_on_change_top(c, a);
  ASSERT_EQ(g_calls.size(), 3u);
  EXPECT_EQ(g_calls[2].args, "a 1 2");
}

// ---------------------------------------------------------------- path steps, select, put

TEST_F(ObjectTest, PathSteps) {
  Cell* o = object({sw("a"), integer_cell(1), sw("u")});
  Cell* two = stack_push_value(integer_cell(2));
  struct Case {
    const char* name;
    std::function<Cell()> step;
    const char* outcome;
  } cases[] = {
      {"get", [&] { return path(o, "a"); }, "1"},
      {"get in another letter case", [&] { return path(o, "A"); }, "1"},
      {"get an absent field", [&] { return path(o, "zz"); }, "!unset-path"},
      {"get an unset field", [&] { return path(o, "u"); }, "!unset-path"},
      {"absent by key", [&] { return path(o, "zz", nullptr, false, true); }, "!invalid-path"},
      {"absent, both flags", [&] { return path(o, "zz", nullptr, true, true); }, "unset"},
      {"absent, first flag alone", [&] { return path(o, "zz", nullptr, true, false); }, "!unset-path"},
      {"set an absent field", [&] { return path(o, "zz", two); }, "!unset-path"},
      {"set self", [&] { return path(o, "self", two); }, "!invalid-path"},
      {"element not a word",
       [&] {
         EvalPathArgs a;
         a.element = stack_push_value(integer_cell(1));
         return *action_eval_path(o, a);
       },
       "!invalid-path"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(test::outcome(c.step), c.outcome);
  }
  EXPECT_EQ(mold(*o, false, false, true), "make object! [a: 1 u: unset]");
  EXPECT_EQ(test::outcome([&] { return path(o, "u", two); }), "2");
  // The element is bound to the object on the way.
  EvalPathArgs a;
  a.element = stack_push_value(word("a"));
  action_eval_path(o, a);
  EXPECT_EQ(word_context(a.element), object_context(o));
  EXPECT_EQ(word_index(a.element), 0);
}

TEST_F(ObjectTest, SelectAndPut) {
  Cell* o = object({sw("a"), integer_cell(1), sw("on-change*"), *on_change()});
  EXPECT_EQ(test::outcome(kActionSelect, {*o, word("a")}), "1");
  EXPECT_EQ(test::outcome(kActionSelect, {*o, word("a", kTypeLitWord)}), "1");
  EXPECT_EQ(test::outcome(kActionSelect, {*o, word("zz")}), "none");
  EXPECT_EQ(test::outcome(kActionSelect, {*o, text_cell("a")}), "!invalid-type");
  EXPECT_EQ(test::outcome(kActionPut, {*o, word("a"), integer_cell(5)}), "5");
  EXPECT_EQ(mold_of(*field(o, "a")), "5");
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].args, "a 1 5");
  EXPECT_EQ(test::outcome(kActionPut, {*o, word("zz"), integer_cell(5)}), "!invalid-path");
  EXPECT_EQ(test::outcome(kActionPut, {*o, word("a", kTypeSetWord), integer_cell(5)}), "!invalid-key-type");
}

// ---------------------------------------------------------------- reflect, modify, block! of an object

TEST_F(ObjectTest, Reflect) {
  Cell* o = object_construct(nullptr, block_of({sw("a"), integer_cell(1), sw("w"), word("x")}), false);
  path(o, "a", stack_push_value(integer_cell(2)));
  struct Case {
    const char* field;
    std::string outcome;
  } cases[] = {
      {"changed", "[a]"},
      {"class", std::to_string(object_class(o))},
      {"words", "[a w]"},
      {"values", "[2 x]"},
      {"body", "[\n    a: 2\n    w: 'x\n]"},
      {"owner", "false"},
      {"events?", "false"},
      {"spec", "!not-done"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    EXPECT_EQ(test::outcome(kActionReflect, {*o, word(c.field)}), c.outcome);
  }
  Cell words = call_action(kActionReflect, {*o, word("words")});
  EXPECT_EQ(word_context(series_cells(words.node())), object_context(o));
  EXPECT_EQ(series_cells(words.node())->header, uint32_t(kTypeWord));  // no field-set mark
  // make and to block! give the body, as the type asked for.
  EXPECT_EQ(test::outcome(kActionTo, {datatype_cell(kTypeBlock), *o}), "[\n    a: 2\n    w: 'x\n]");
  EXPECT_EQ(test::outcome(kActionMake, {datatype_cell(kTypeParen), *o}), "(\n    a: 2\n    w: 'x\n)");
}

TEST_F(ObjectTest, Modify) {
  Cell* o = object({sw("a"), integer_cell(1), sw("blk"), *block_of({integer_cell(1)})});
  path(o, "a", stack_push_value(integer_cell(2)));
  EXPECT_EQ(test::outcome(kActionModify, {*o, word("changed"), integer_cell(1)}), "!invalid-arg");
  EXPECT_EQ(reflect(o, "changed"), "[a]");
  EXPECT_EQ(test::outcome(kActionModify, {*o, word("changed"), kNoneCell}), "none");
  EXPECT_EQ(reflect(o, "changed"), "[]");
  EXPECT_EQ(test::outcome(kActionModify, {*o, word("other"), integer_cell(3)}), "3");

  Cell* blk = field(o, "blk");
  Cell* other = object({sw("x"), integer_cell(0)});
  EXPECT_EQ(test::outcome(kActionModify, {*o, word("owned"), *block_of({*other, word("w")})}),
            "[make object! [\n    x: 0\n] w]");
  EXPECT_EQ(object_context(stack_push_value(owner_lookup(blk->node()))), object_context(other));
  EXPECT_EQ(reflect(other, "owner"), "true");
  EXPECT_EQ(reflect(o, "owner"), "false");
  EXPECT_EQ(test::outcome(kActionModify, {*o, word("owned"), *block_of({integer_cell(1)})}), "!invalid-arg");
  call_action(kActionModify, {*blk, word("owned"), kNoneCell});
  EXPECT_TRUE(owner_lookup(blk->node()).is(kTypeNone));
  call_action(kActionModify, {*o, word("owner"), kTrueCell});
  EXPECT_EQ(reflect(o, "owner"), "true");
  EXPECT_EQ(object_context(stack_push_value(owner_lookup(blk->node()))), object_context(o));
}

// ---------------------------------------------------------------- form and mold

TEST_F(ObjectTest, FormAndMold) {
  Cell* o = object_construct(
      nullptr, block_of({sw("a"), integer_cell(1), sw("w"), word("x"), sw("s"), text_cell("t")}), false);
  Cell* outer = object({sw("n"), *object({sw("b"), *block_of({integer_cell(1)})})});
  Cell* handled = object({sw("a"), integer_cell(1), sw("on-change*"), *on_change()});
  Cell* empty = object({});
  Cell* self_holding = object({sw("me"), kNoneCell});
  path(self_holding, "me", self_holding);
  struct Case {
    const char* name;
    std::function<std::string()> text;
    const char* expected;
  } cases[] = {
      {"mold", [&] { return mold_of(*o); }, "make object! [\n    a: 1\n    w: 'x\n    s: \"t\"\n]"},
      {"mold/flat", [&] { return mold(*o, false, false, true); }, "make object! [a: 1 w: 'x s: \"t\"]"},
      {"mold/only", [&] { return mold(*o, true); }, "a: 1\nw: 'x\ns: \"t\""},
      {"mold/part", [&] { return mold(*o, false, false, false, 17); }, "make object! [\n  "},
      {"form", [&] { return form_of(*o); }, "a: 1\nw: 'x\ns: \"t\""},
      {"nested", [&] { return mold_of(*outer); },
       "make object! [\n    n: make object! [\n        b: [1]\n    ]\n]"},
      {"nested in a block", [&] { return mold_of(*block_of({*empty})); }, "[make object! [\n]]"},
      {"handler fields hidden", [&] { return mold_of(*handled); }, "make object! [\n    a: 1\n]"},
      {"inside itself", [&] { return mold_of(*self_holding); },
       "make object! [\n    me: make object! [...]\n]"},
      {"form inside itself", [&] { return form_of(*self_holding); }, "me: make object! [...]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.text(), c.expected);
  }
}

// ---------------------------------------------------------------- compare

TEST_F(ObjectTest, Compare) {
  Cell* a = object({sw("a"), integer_cell(1), sw("b"), integer_cell(2)});
  Cell* same = object({sw("a"), integer_cell(1), sw("b"), integer_cell(2)});
  Cell* swapped = object({sw("b"), integer_cell(2), sw("a"), integer_cell(1)});
  Cell* longer = object({sw("a"), integer_cell(1), sw("b"), integer_cell(2), sw("c"), integer_cell(3)});
  Cell* as_float = object({sw("a"), float_cell(1.0), sw("b"), integer_cell(2)});
  Cell* greater = object({sw("a"), integer_cell(1), sw("b"), integer_cell(3)});
  Cell* texty = object({sw("a"), text_cell("1"), sw("b"), integer_cell(2)});
  struct Case {
    const char* name;
    Cell* x;
    Cell* y;
    CompareOp op;
    bool expected;
  } cases[] = {
      {"same words, equal values", a, same, kCmpEqual, true},
      {"itself", a, a, kCmpSame, true},
      {"equal but not the same", a, same, kCmpSame, false},
      {"fields in another order", a, swapped, kCmpEqual, false},
      {"more fields is greater", longer, a, kCmpGreater, true},
      {"numbers of two types", a, as_float, kCmpEqual, true},
      {"numbers of two types, strictly", a, as_float, kCmpStrictEqual, false},
      {"first different value decides", a, greater, kCmpLesser, true},
      {"lower type id first", texty, a, kCmpLesser, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(compare(*c.x, *c.y, c.op), c.expected);
  }
  EXPECT_FALSE(compare(*a, integer_cell(1), kCmpEqual));
  EXPECT_EQ(catch_error([&] { compare(*a, integer_cell(1), kCmpLesser); }), kErrScriptInvalidCompare);
  // Objects holding each other compare without endless recursion.
  Cell* p = object({sw("me"), kNoneCell});
  Cell* q = object({sw("me"), kNoneCell});
  path(p, "me", p);
  path(q, "me", q);
  EXPECT_TRUE(compare(*p, *q, kCmpEqual));
}

// ---------------------------------------------------------------- ownership

TEST_F(ObjectTest, OwnedSeriesNotifyBeforeAndAfterEachChange) {
  using Change = std::function<void(Cell * blk, Cell * str)>;
  struct Case {
    const char* name;
    Change change;
    std::vector<std::string> calls;  // the handler's arguments after the owner
  } cases[] = {
      {"append",
       [](Cell* b, Cell*) {
         call_action(kActionAppend, {*b, integer_cell(4)});
       },
       {"blk [1 2 3] append 4 3 1", "blk [1 2 3 4] appended 4 3 1"}},
      {"insert",
       [](Cell* b, Cell*) {
         call_action(kActionInsert, {*b, integer_cell(0)});
       },
       {"blk [1 2 3] insert 0 0 1", "blk [0 1 2 3] inserted 0 0 1"}},
      {"change",
       [](Cell* b, Cell*) {
         call_action(kActionChange, {*b, integer_cell(9)});
       },
       {"blk [1 2 3] change 9 0 1", "blk [9 2 3] changed 9 0 1"}},
      {"poke",
       [](Cell* b, Cell*) {
         call_action(kActionPoke, {*b, integer_cell(2), integer_cell(7)});
       },
       {"blk [1 2 3] poke 7 1 1", "blk [1 7 3] poked 7 1 1"}},
      {"clear",
       [](Cell* b, Cell*) { call_action(kActionClear, {test::at_head(b, 1)}); },
       {"blk [2 3] clear none 1 2", "blk [] cleared none 1 2"}},
      {"remove",
       [](Cell* b, Cell*) { call_action(kActionRemove, {*b}); },
       {"blk [1 2 3] remove none 0 1", "blk [2 3] removed none 0 1"}},
      {"reverse",
       [](Cell* b, Cell*) { call_action(kActionReverse, {*b}); },
       {"blk [1 2 3] reverse none 0 3", "blk [3 2 1] reversed none 0 3"}},
      {"sort",
       [](Cell* b, Cell*) { Act(kActionSort, {*b}).ref("reverse").run(); },
       {"blk [1 2 3] sort none 0 3", "blk [3 2 1] sorted none 0 3"}},
      {"take",
       [](Cell* b, Cell*) { Act(kActionTake, {*b}).ref("last").run(); },
       {"blk [1 2 3] take none 2 1", "blk [1 2] taken none 2 1"}},
      {"move",
       [](Cell* b, Cell*) {
         call_action(kActionMove, {*b, test::at_head(b, 2)});
       },
       {"blk [2 3 1] moved none 2 1"}},  // lands after the target unit
      {"swap",
       [](Cell* b, Cell*) {
         call_action(kActionSwap, {*b, *block_of({integer_cell(9)})});
       },
       {"blk [1 2 3] swap [9] 0 1", "blk [9 2 3] swaped [1] 0 1"}},
      {"append to text",
       [](Cell*, Cell* s) {
         call_action(kActionAppend, {*s, text_cell("d")});
       },
       {"str \"abc\" append none 3 1", "str \"abcd\" appended none 3 1"}},
      {"uppercase",
       [](Cell*, Cell* s) { change_case(s, nullptr, true); },
       {"str \"ABC\" uppercase none 0 3"}},  // told once, after
      {"path assignment",
       [](Cell* b, Cell*) { notify_owner(b, kOwnerSetPath, 1, 1, b); },
       {"blk [1 2 3] set-path [1 2 3] 1 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StackSave save;
    g_calls.clear();
    Cell* o = owner_object();
    c.change(field(o, "blk"), field(o, "str"));
    std::vector<std::string> seen;
    for (const HandlerCall& call : g_calls) {
      EXPECT_EQ(call.frame, "on-deep-change*");
      EXPECT_EQ(call.flags, kHandlerOnDeepChange);
      EXPECT_EQ(call.object, object_context(o));
      ASSERT_EQ(call.args.rfind("<object> ", 0), 0u) << call.args;
      seen.push_back(call.args.substr(9));
    }
    EXPECT_EQ(seen, c.calls);
  }
}

TEST_F(ObjectTest, WhatAnObjectOwns) {
  // A block two levels deep tells the owner the outer field's word.
  Cell* inner = block_of({integer_cell(1)});
  Cell* o =
      object({sw("blk"), *block_of({*inner, integer_cell(2)}), sw("on-deep-change*"), *on_deep_change()});
  call_action(kActionAppend, {*inner, integer_cell(5)});
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[1].args, "<object> blk [1 5] appended 5 1 1");
  EXPECT_EQ(reflect(o, "owner"), "true");
  EXPECT_EQ(object_context(stack_push_value(call_action(kActionReflect, {*inner, word("owned")}))),
            object_context(o));

  // A block holding itself is owned without endless recursion.
  g_calls.clear();
  Cell* loop = block_of({integer_cell(1)});
  call_action(kActionAppend, {*loop, *loop}, {0});  // /only
  Cell* p = object({sw("loop"), *loop, sw("on-deep-change*"), *on_deep_change()});
  call_action(kActionAppend, {*loop, integer_cell(2)});
  EXPECT_EQ(g_calls.size(), 2u);

  // The first owner keeps a series another object takes.
  g_calls.clear();
  object({sw("again"), *loop, sw("on-deep-change*"), *on_deep_change()});
  call_action(kActionClear, {*loop});
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].object, object_context(p));
  EXPECT_EQ(g_calls[0].args.substr(0, 14), "<object> loop ");

  // Released, the series notifies nobody.
  g_calls.clear();
  call_action(kActionModify, {*loop, word("owned"), kNoneCell});
  call_action(kActionAppend, {*loop, integer_cell(3)});
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(test::outcome(kActionReflect, {*loop, word("owned")}), "none");

  // A nested object that is no owner itself is walked field by field.
  Cell* items = block_of({integer_cell(1)});
  object({sw("sub"), *object({sw("items"), *items}), sw("on-deep-change*"), *on_deep_change()});
  call_action(kActionRemove, {*items});
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].args, "<object> items [1] remove none 0 1");

  // modify of owned hands a series to an object's field.
  g_calls.clear();
  Cell* loose = block_of({});
  call_action(kActionModify, {*loose, word("owned"), *block_of({*o, word("given")})});
  call_action(kActionAppend, {*loose, integer_cell(1)});
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].args, "<object> given [] append 1 0 1");
  EXPECT_EQ(test::outcome(kActionModify, {*loose, word("owned"), integer_cell(1)}), "!invalid-arg");
}

TEST_F(ObjectTest, ADerivedOwnerKeepsHearingAfterACollection) {
  // Making from a prototype finishes the object twice; the records of its
  // series must name the object, not the event record of the first finish.
  Cell* proto = owner_object();
  Cell* derived = test::call(kActionMake, {*proto, *block_of({sw("x"), integer_cell(1)})});
  gc_collect();
  call_action(kActionAppend, {*field(derived, "blk"), integer_cell(4)});
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].object, object_context(derived));
  EXPECT_EQ(object_context(stack_push_value(owner_lookup(field(derived, "blk")->node()))),
            object_context(derived));
}

TEST_F(ObjectTest, OwnerRecordsDieWithTheirOwner) {
  Cell* kept = block_of({integer_cell(1)});
  {
    StackSave save;
    object({sw("blk"), *kept, sw("on-deep-change*"), *on_deep_change()});
  }
  gc_collect();
  call_action(kActionAppend, {*kept, integer_cell(2)});
  EXPECT_TRUE(g_calls.empty());
  EXPECT_TRUE(owner_lookup(kept->node()).is(kTypeNone));
}

}  // namespace
}  // namespace kiv
