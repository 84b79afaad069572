// The specs of the built-in callables: a spec text checked against the line
// that declares its arguments (the start-up check, and what it does with a
// line written wrong), the fit of another spec to a kept one, and the
// argument check of a routine called from elsewhere than the interpreter.
#include "datatypes/builtin_spec.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "block_reader.h"
#include "datatypes/error.h"
#include "evaluator/base_env.h"
#include "evaluator/routines.h"
#include "kiv_test.h"
#include "library/routines.h"

namespace kiv {
namespace {

using test::read_block;

class BuiltinSpecTest : public ::testing::Test {
 protected:
  void SetUp() override { base_environment_init(); }
};

// The declared list of [items]: "/name" a refinement, else an argument.
std::vector<DeclaredParam> declared_of(std::initializer_list<const char*> items) {
  std::vector<DeclaredParam> list;
  for (const char* item : items)
    list.push_back(item[0] == '/' ? DeclaredParam{DeclaredParam::kRefinement, item + 1}
                                  : DeclaredParam{DeclaredParam::kArgument, item});
  list.push_back({DeclaredParam::kEnd, nullptr});
  return list;
}

TEST_F(BuiltinSpecTest, ASpecTextIsCheckedAgainstItsLineWordForWord) {
  struct Case {
    const char* spec;
    const char* first;
    std::initializer_list<const char*> declared;
    const char* disagreement;  // "" when they agree
  } cases[] = {
      {"\"doc\" a [integer!] \"arg\" /part \"ref\" length [integer!] return: [block!]",
       nullptr,
       {"a", "/part", "length"},
       ""},
      {"cond then-blk [block!]", nullptr, {"cond", "then_blk"}, ""},           // the C++ name's spelling
      {"series [series!] value /case", "series", {"value", "/case"}, ""},      // an action's first argument
      {"'word :get value /local x y", nullptr, {"word", "get", "value"}, ""},  // /local ends the list
      {"", nullptr, {}, ""},
      // Lines written wrong.
      {"a b", nullptr, {"a", "c"}, "its spec has b where its line declares c"},
      {"a /part",
       nullptr,
       {"a", "/part", "length"},
       "its spec has nothing more where its line declares length"},
      {"a b", nullptr, {"a"}, "its spec has b where its line declares nothing more"},
      {"a /b", nullptr, {"a", "b"}, "its spec has /b where its line declares b"},
      {"a /part length /skip size",
       nullptr,
       {"a", "/skip", "size", "/part", "length"},
       "its spec has /part where its line declares /skip"},
      {"value", "series", {"value"}, "its spec has value where its line declares series"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    std::vector<DeclaredParam> declared = declared_of(c.declared);
    EXPECT_EQ(builtin_spec_disagreement(read_block(c.spec), c.first, declared.data()), c.disagreement);
  }
}

TEST_F(BuiltinSpecTest, StartUpEndsTheProcessOnALineWrittenWrong) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::vector<DeclaredParam> declared = declared_of({"value", "/part", "limit"});
  EXPECT_EXIT(builtin_keep_own_spec(Builtin::kRoutine, kBuiltinIdMax, "broken", read_block("value /part"),
                                    nullptr, declared.data()),
              ::testing::ExitedWithCode(98),
              "the routine broken: its spec has nothing more where its line declares limit");
}

TEST_F(BuiltinSpecTest, ASpecFitsTheOwnSpecOfItsCode) {
  // An id no native has: its own spec is this test's.
  const int32_t id = kBuiltinIdMax;
  std::vector<DeclaredParam> declared = declared_of({"a", "/r", "b", "/s"});
  builtin_keep_own_spec(Builtin::kNative, id, "test-native",
                        read_block("a [integer! string!] /r b [block!] /s"), nullptr, declared.data());
  std::string seventy = "x [integer!]";
  for (int i = 0; i < 70; i++) seventy += " /r" + std::to_string(i);
  struct Case {
    std::string spec;
    bool fits;
  } cases[] = {
      {"a [integer! string!] /r b [block!] /s", true},
      {"x [integer!] /r y [block!] /s", true},    // names are free, types may narrow
      {"x [integer!] /R y [block!] /S", true},    // letter case aside
      {"'x [integer!] /r :y [block!] /s", true},  // fetch modes are free
      {"\"doc\" x [string!] \"d\" /r y [block!] /s return: [integer!] /local z", true},
      {"x /r y [block!] /s", false},                    // every type but unset!
      {"x [integer! block!] /r y [block!] /s", false},  // a type its own refuses
      {"x [integer!] /r y [block!]", false},            // a refinement fewer
      {"x [integer!] /r y [block!] /s z", false},       // an argument more
      {"x [integer!] /s /r y [block!]", false},         // the refinements in another order
      {"x [integer!] /r /s y [block!]", false},         // an argument moved
      {"x [integer!] y [block!] /r /s", false},
      {"", false},
      {seventy, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    EXPECT_EQ(builtin_spec_fits(Builtin::kNative, id, read_block(c.spec)), c.fits);
  }
  // Nothing fits an id without an own spec, nor one out of range.
  EXPECT_FALSE(builtin_spec_fits(Builtin::kAction, kBuiltinIdMax, read_block("")));
  EXPECT_FALSE(builtin_spec_fits(Builtin::kNative, kBuiltinIdMax + 1, read_block("")));
}

TEST_F(BuiltinSpecTest, ARoutineChecksItsArgumentsWhenAsked) {
  routines_init();
  auto outcome = [](std::initializer_list<Cell> args) {
    return test::outcome([&] {
      open_native_frame({});
      for (const Cell& c : args) stack_push_value(c);
      int32_t none = -1;
      EXPECT_EQ(routine_entry(kRoutineAsColor)(true, &none), kStatusOk);
      return *g_stack.arguments;
    });
  };
  EXPECT_EQ(outcome({integer_cell(1), integer_cell(2), integer_cell(300)}), "1.2.44");
  EXPECT_EQ(outcome({integer_cell(1), *test::push_text("2"), integer_cell(3)}), "!expect-arg");
  StackSave save;
  std::string report = error_report(stack_push_value(raised_error_value()));
  EXPECT_EQ(report.substr(0, report.find('\n')),
            "*** Script Error: as-color does not allow string! for its g argument");
}

}  // namespace
}  // namespace kiv
