// One case per fixed fault, named for what went wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "eval_test.h"
#include "evaluator/base_env.h"
#include "kiv_test.h"
#include "runtime/array.h"
#include "runtime/collector.h"
#include "runtime/gc_root.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace kiv {
namespace {

// Growing a buffer to a byte size that is not a multiple of its unit rounded
// the new capacity down, and the loader then wrote past it.
TEST(Regression, Utf16LoadIntoANarrowerUnitStaysInsideItsBuffer) {
  StackSave save;
  Cell* s = string_init_unit(stack_push(), 8, 2);  // unit 2, 16 bytes
  std::vector<uint8_t> in;
  for (int i = 0; i < 17; i++) in.insert(in.end(), {'a', 0});
  load_utf16le(ByteSource(in.data()), 17, s, false);
  SeriesBuffer* b = series_buffer(s->node());
  EXPECT_LE(b->tail, b->capacity);
  EXPECT_EQ(string_to_utf8(s), std::string(17, 'a'));
}

TEST(Regression, AppendingOddByteCountsToAWideArray) {
  StackSave save;
  Cell* a = stack_push_value(series_cell(kTypeBinary, array_make(4, 4)));
  for (int i = 0; i < 4; i++) array_append_int(a->node(), i);
  char data[17];
  std::memset(data, 'x', sizeof data);
  array_append_bytes(a->node(), data, sizeof data);
  SeriesBuffer* b = series_buffer(a->node());
  EXPECT_LE(b->tail, b->capacity);
  EXPECT_EQ(b->tail, 16u + 17u);
}

// An insertion before more than 30,000 cells rebuilds a hash! index: the
// rebuild indexed the gap's placeholders and the inserted value was never found.
TEST(Regression, HashInsertBeforeManyCellsIsFound) {
  StackSave save;
  Cell* h = block_push_only(40001);
  for (int i = 0; i < 40000; i++) *append_cell(h->node()) = integer_cell(i);
  h->set_header(kTypeHash);
  series_hash_index_new(h);
  Cell* v = stack_push_value(integer_cell(999999));
  block_insert_value(h, v, false, true);
  EXPECT_EQ(hashtable_find(block_hash_index(h), v, 0, 1, kCmpEqual, false, false), 0);
  Cell* old = stack_push_value(integer_cell(39999));
  EXPECT_EQ(hashtable_find(block_hash_index(h), old, 0, 1, kCmpEqual, false, false), 40000);
  Cell* unset = stack_push_value(kUnsetCell);
  EXPECT_EQ(hashtable_find(block_hash_index(h), unset, 0, 1, kCmpEqual, false, false), -1);
}

// Hostile heads in the /part arithmetic of insert no longer overflow.
TEST(Regression, InsertPartWithHostileHeads) {
  StackSave save;
  Cell* block = block_push_only(4);
  for (int i = 0; i < 3; i++) *append_cell(block->node()) = integer_cell(i);
  Cell target = *block_push_only(4);
  Cell value = *block;
  value.set_head(-2000000000);
  Cell part = *block;
  part.set_head(2000000000);
  Cell r = test::Act(kActionInsert, {target, value}).ref("part", part).value();
  EXPECT_TRUE(r.is(kTypeBlock));
}

// Once doubling passed the 2 GB limit a string grew by just the bytes it
// needed, so every append past 1 GB copied the whole buffer again.
TEST(Regression, StringPastOneGigabyteGrowsOnceToTheLimit) {
  // Molding 1.1 G characters into a string, 64 KB at a time, up to the limit.
  constexpr uint64_t kPiece = 0x10000;
  uint64_t capacity = 1100000000, growths = 0;
  for (uint64_t length = capacity; length + kPiece <= kMaxCapacity; length += kPiece) {
    if (length + kPiece <= capacity) continue;
    capacity = series_grown_capacity(capacity, length + kPiece);
    growths++;
  }
  EXPECT_EQ(capacity, kMaxCapacity);
  EXPECT_EQ(growths, 1u);
}

// append_cell and reserve_tail always asked for twice the capacity and refused
// it past the limit, so a block of 67,108,865 cells could not take one more.
TEST(Regression, BlockPastHalfTheLimitStillGrows) {
  constexpr uint64_t kCell = sizeof(Cell);
  struct Case {
    uint64_t capacity, need, grown;
  } cases[] = {
      {67108865 * kCell, 67108866 * kCell, kMaxCapacity},
      {67108864 * kCell, 67108865 * kCell, kMaxCapacity},  // exactly 1 GB
      {kMaxCapacity - kCell, kMaxCapacity, kMaxCapacity},  // the last cell that fits
      {kMaxCapacity / 2 - kCell, kMaxCapacity / 2, kMaxCapacity - 2 * kCell},
      {kCell, 2 * kCell, 2 * kCell},
  };
  for (const auto& c : cases) EXPECT_EQ(series_grown_capacity(c.capacity, c.need), c.grown) << c.capacity;
  // A need past the limit is still refused, before anything is allocated.
  StackSave save;
  Cell* bin = stack_push_value(series_cell(kTypeBinary, series_alloc_bytes(16)));
  reserve_tail(bin->node(), 16);
  EXPECT_EQ(test::catch_error([&] { reserve_tail(bin->node(), kMaxCapacity - 15); }), kErrInternalNoMemory);
  EXPECT_EQ(series_buffer(bin->node())->used(), 16u);
}

// integer round returned -2147483648 unchanged before looking at the scale, so
// round/to gave it back whatever the scale and mode.
TEST(Regression, RoundToScalesTheSmallestInteger) {
  struct Case {
    int32_t scale;
    const char* mode;  // a refinement of round, or null: to the nearest
    int32_t expected;
    ErrorId error = test::kNoError;
  } cases[] = {
      {10, "down", -2147483640},
      {10, "ceiling", -2147483640},
      {-10, "down", -2147483640},
      {7, nullptr, -2147483646},  // 2147483648 = 7 * 306783378 + 2: below the half
      {7, "floor", 0, kErrMathOverflow},
      {3, "half-down", 0, kErrMathOverflow},  // above the half: away from zero
      {1000, "down", -2147483000},
      {1000, "ceiling", -2147483000},
      {10, nullptr, 0, kErrMathOverflow},
      {10, "even", 0, kErrMathOverflow},
      {8, "floor", INT32_MIN},  // a multiple of the scale stands
      {1, nullptr, INT32_MIN},
      {0, "floor", INT32_MIN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "scale " << c.scale << " mode " << (c.mode ? c.mode : "nearest"));
    test::Act act(kActionRound, {integer_cell(INT32_MIN)});
    act.ref("to", integer_cell(c.scale));
    if (c.mode) act.ref(c.mode);
    Cell r{};
    EXPECT_EQ(test::catch_error([&] { r = act.value(); }), c.error);
    if (c.error == test::kNoError) {
      EXPECT_TRUE(r.is(kTypeInteger));
      EXPECT_EQ(integer_get(&r), c.expected);
    }
  }
}

// The UTF-8 loader checked only the bit patterns of a sequence, so overlong
// forms loaded: C0 AF as "/", E0 80 AF and F0 80 80 AF too.
TEST(Regression, Utf8LoaderRefusesOverlongForms) {
  StackSave save;
  for (std::string overlong : {"\xC0\xAF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF"}) {
    std::string in = "a" + overlong + "b";
    SCOPED_TRACE(testing::PrintToString(in));
    EXPECT_EQ(test::catch_error([&] { load_utf8_new(in.data(), uint32_t(in.size())); }),
              kErrAccessInvalidUtf8);
    uint32_t count = uint32_t(overlong.size());
    EXPECT_EQ(test::catch_error(
                  [&] { utf8_decode_char(reinterpret_cast<const uint8_t*>(overlong.data()), &count); }),
              kErrAccessInvalidUtf8);
  }
  // C0 80 still loads as U+0000.
  Cell* s = stack_push_value(series_cell(kTypeString, load_utf8_new("a\xC0\x80"
                                                                    "b",
                                                                    4)));
  EXPECT_EQ(test::text_of(*s), std::string("a\0b", 3));
}

}  // namespace
}  // namespace kiv

namespace kiv {
namespace {

Node g_resized_table = 0;
int g_resizes = 0;

// An integer compare that, like code run by a comparison, resizes the table it searches.
int resizing_compare(Cell* a, const CompareArgs& args) {
  Cell* b = args.value2;
  static const uint32_t kSizes[] = {20000, 60, 60};  // grow, then shrink under the probe
  if (g_resizes < 3) hashtable_rebuild(g_resized_table, kSizes[g_resizes++]);
  if (!b->is(kTypeInteger)) return kNotComparable;
  return integer_get(a) < integer_get(b) ? -1 : integer_get(a) > integer_get(b);
}

// A probe whose comparison resizes the table starts over on the new buckets
// (it used to go on with the old bucket count) and still finds the value.
TEST(Regression, HashProbeSurvivesATableResizedByItsComparison) {
  StackSave save;
  Cell* h = block_push_only(64);
  for (int i = 0; i < 50; i++) *append_cell(h->node()) = integer_cell(i % 7);
  h->set_header(kTypeHash);
  series_hash_index_new(h);
  CompareFn saved = g_action_table[kTypeInteger].compare;
  g_action_table[kTypeInteger].compare = resizing_compare;
  g_resized_table = block_hash_index(h);
  g_resizes = 0;
  Cell* key = stack_push_value(integer_cell(5));
  int32_t at = hashtable_find(block_hash_index(h), key, 0, 1, kCmpEqual, false, false);
  g_action_table[kTypeInteger].compare = saved;
  EXPECT_EQ(at, 5);
  EXPECT_EQ(g_resizes, 3);
}

}  // namespace
}  // namespace kiv

namespace kiv {
namespace {

// A function's context with its values on the data stack, as a call would
// point it: a recursive call saves the outer call's reference in its frame.
struct RecursiveCall {
  Node ctx = context_create(1, true, false, 0, kContextFunction);
  Root keep{context_view(ctx)};

  // Opens a call of the function with one argument; returns the context's
  // values reference while it runs.
  uint32_t enter() {
    open_function_frame({}, ctx);
    stack_push_value(integer_cell(1));
    stack_mark_function_body({}, ctx);
    return context_values(ctx);
  }
};

// A catch point's StackSave put the stack pointers back but not the values
// reference of the function contexts whose frames it dropped: after an error
// caught in the outer call of a recursive function, its context still named
// the dead inner call's slots.
TEST(Regression, CatchPointRestoresTheOuterCallsContext) {
  StackSave save;
  RecursiveCall f;
  uint32_t outer = f.enter();
  ErrorId id = test::catch_error([&] {
    EXPECT_NE(f.enter(), outer);
    raise_error(kErrScriptInvalidArg);
  });
  EXPECT_EQ(id, kErrScriptInvalidArg);
  EXPECT_EQ(context_values(f.ctx), outer);
}

// break settled on the loop frame by moving the frame top, so a break out of a
// function to a loop outside it left the function's context naming the call.
TEST(Regression, BreakOutOfAFunctionRestoresItsContext) {
  StackSave save;
  RecursiveCall f;
  uint32_t before = context_values(f.ctx);
  stack_mark_loop({});
  f.enter();
  open_native_frame({});  // break itself
  EXPECT_EQ(stack_throw_break(false, false), Status::kBreak);
  EXPECT_EQ(context_values(f.ctx), before);
}

}  // namespace
}  // namespace kiv

namespace kiv {
namespace {

// form/part and mold/part read their limit as an integer without checking
// its type: a float gave "", a string the whole text.
TEST(Regression, FormAndMoldPartTakeOnlyAnInteger) {
  StackSave save;
  Cell text = test::text_cell("abcdef");
  for (ActionId id : {kActionForm, kActionMold}) {
    for (Cell limit : {float_cell(2.0), test::text_cell("x"), kNoneCell}) {
      EXPECT_EQ(test::Act(id, {text}).ref("part", limit).error(), kErrScriptInvalidRefineArg);
    }
    EXPECT_EQ(test::text_of(test::Act(id, {text}).ref("part", integer_cell(0)).value()), "");
  }
  EXPECT_EQ(test::form_of(text, 3), "abc");
  EXPECT_EQ(test::mold(text, false, false, false, 3), "\"ab");
}

}  // namespace
}  // namespace kiv

namespace kiv {
namespace {

// call_value allocated the block of a call's arguments before it copied
// them: a function or an argument that only the caller's C++ local held was
// freed by the collection that allocation could run.
TEST(Regression, CallValueHoldsWhatItIsGivenBeforeItAllocates) {
  base_environment_init();
  Cell fn, block;
  {
    StackSave save;
    Cell* out;
    ASSERT_EQ(test::evaluate("func [b] [length? b]", &out), kStatusOk);
    fn = *out;
    ASSERT_EQ(test::evaluate("append copy [] [1 2 3]", &out), kStatusOk);
    block = *out;
  }
  // Only the locals name the two now; every allocation collects and moves.
  const bool stressed = gc_stress_move_q();
  gc_set_stress(true);
  StackSave save;
  Cell* result = stack_push();
  call_value(&fn, &block, 1, result);
  gc_set_stress(stressed);
  EXPECT_EQ(test::integer_of(*result), 3);
}

// An infix call set the stack top to the operator's slot while it built the
// operator's argument list, which allocates on an operator's first call: the
// left operand, just past the slot, went unmarked, and a series made by the
// operand (a paren's copy) was freed and its node reused.
TEST(Regression, AnOperatorsFirstCallKeepsItsLeftOperand) {
  base_environment_init();
  const bool stressed = gc_stress_move_q();
  gc_set_stress(true);
  std::string got =
      test::eval_mold("lt: make op! :lesser? reduce [(copy \"ab\") lt \"x\" (copy \"cd\") lt \"c\"]");
  gc_set_stress(stressed);
  EXPECT_EQ(got, "[true false]");
  EXPECT_EQ(gc_verify(), 0);
}

}  // namespace
}  // namespace kiv
