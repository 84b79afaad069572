// Cycle stack and runtime utilities.
#include <gtest/gtest.h>

#include <cmath>

#include "datatypes/float.h"
#include "datatypes/form.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "kiv_test.h"
#include "platform/thread.h"
#include "runtime/cycle.h"
#include "runtime/numbers.h"

namespace kiv {
namespace {

TEST(CycleStack, NestsTo999AndRaisesAtTheThousandth) {
  cycle_stack_reset();
  for (Node n = 1; n <= 999; n++) cycle_stack_push(n);
  EXPECT_EQ(cycle_stack_depth(), 999u);
  EXPECT_TRUE(cycle_stack_find(500));
  EXPECT_FALSE(cycle_stack_find(1000));
  EXPECT_EQ(test::catch_error([] { cycle_stack_push(1000); }), kErrInternalTooDeep);
  EXPECT_EQ(cycle_stack_depth(), 0u);  // emptied
  cycle_stack_pop();                   // popping an empty stack is harmless
  EXPECT_EQ(cycle_stack_depth(), 0u);
}

// Takes 4 KB of native stack per level until the depth check reports the
// stack low, then tries one more level of a nested walk.
__attribute__((noinline)) ErrorId push_with_the_stack_low() {
  char pad[4096];
  asm volatile("" : : "r"(pad) : "memory");  // the array escapes: all of it is laid out
  ErrorId id = native_stack_low(kNativeStackMargin) ? test::catch_error([] { cycle_stack_push(2); })
                                                    : push_with_the_stack_low();
  asm volatile("" : : "r"(pad) : "memory");  // and stays live across the call
  return id;
}

// Every level of a nested walk (mold, compare, copy) is a level of C++
// recursion: one begun with the native stack low raises stack-overflow
// instead of running into the end of the stack.
TEST(CycleStack, RaisesStackOverflowWhenTheNativeStackRunsLow) {
  ASSERT_GT(this_thread_stack_bounds().limit, 0u) << "the test's thread has no known stack bounds";
  cycle_stack_reset();
  cycle_stack_push(1);
  EXPECT_EQ(push_with_the_stack_low(), kErrInternalStackOverflow);
  EXPECT_EQ(cycle_stack_depth(), 0u);
}

TEST(CycleStack, ElisionTexts) {
  struct Case {
    TypeId type;
    const char *mold, *form;
  } cases[] = {{kTypeBlock, "[...]", "..."},
               {kTypeHash, "[...]", "..."},
               {kTypeParen, "(...)", "..."},
               {kTypeMap, "#[...]", "..."},
               {kTypeObject, "make object! [...]", "..."},
               {kTypePath, "...", "..."},
               {kTypeSetPath, "...", "..."}};
  for (const Case& c : cases) {
    for (bool molding : {true, false}) {
      StackSave save;
      cycle_stack_reset();
      Cell value = c.type == kTypeObject ? object_cell(77) : series_cell(c.type, 77);
      Cell* out = string_make_at(stack_push(), 16);
      int32_t remaining = 100;
      EXPECT_FALSE(cycle_elide(&value, out, &remaining, molding));
      cycle_stack_push(77);
      EXPECT_TRUE(cycle_elide(&value, out, &remaining, molding));
      std::string text = molding ? c.mold : c.form;
      EXPECT_EQ(test::text_of(*out), text);
      EXPECT_EQ(remaining, 100 - int32_t(text.size()));
      cycle_stack_reset();
    }
  }
}

TEST(Utilities, FloatToInt) {
  auto f = [](double d) {
    Cell c = make_cell(kTypeFloat);
    float_set(&c, d);
    return c;
  };
  Cell a = f(2147483647.0), b = f(-2147483648.0), c = f(-1.9), big = f(2147483648.0), nan = f(std::nan(""));
  EXPECT_EQ(float_to_int(&a), 2147483647);
  EXPECT_EQ(float_to_int(&b), INT32_MIN);
  EXPECT_EQ(float_to_int(&c), -1);
  EXPECT_EQ(test::catch_error([&] { float_to_int(&big); }), kErrScriptOutOfRange);
  EXPECT_EQ(test::catch_error([&] { float_to_int(&nan); }), kErrScriptOutOfRange);
  Cell i = integer_cell(-7);
  EXPECT_EQ(float_to_int(&i), -7);
  EXPECT_EQ(double_to_int32(std::nan("")), INT32_MIN);
  EXPECT_EQ(double_to_int32(1e10), INT32_MIN);
  EXPECT_EQ(double_to_int32(-3.99), -3);
}

TEST(Utilities, FillPatternAndIndent) {
  uint8_t buf[32] = {'a', 'b', 'c'};
  EXPECT_EQ(fill_pattern(buf, 3, 5), buf + 15);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 15), "abcabcabcabcabc");
  EXPECT_EQ(buf[15], 0);
  StackSave save;
  Cell* out = string_make_at(stack_push(), 16);
  EXPECT_EQ(mold_indent(out, 2, 50), 42);
  EXPECT_EQ(test::text_of(*out), "        ");
  Cell t = kTrueCell;
  EXPECT_EQ(test::text_of(*form_to_new_string(&t, 3)), "tru");
}

}  // namespace
}  // namespace kiv
