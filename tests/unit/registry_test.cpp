// The datatype registry: names, parents, handler rows and inheritance.
#include "datatypes/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "datatypes/char.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "kiv_test.h"

namespace kiv {
namespace {

TEST(Registry, NamesAndParentsOfAllTypes) {
  struct Case {
    TypeId id;
    const char* name;
    TypeId parent;
  } cases[] = {
      {kTypeDatatype, "datatype!", kTypeNil},    {kTypeBlock, "block!", kTypeSeries},
      {kTypeParen, "paren!", kTypeBlock},        {kTypeFile, "file!", kTypeUrl},
      {kTypeChar, "char!", kTypeInteger},        {kTypeRefinement, "refinement!", kTypeWord},
      {kTypeRoutine, "routine!", kTypeFunction}, {kTypeError, "error!", kTypeObject},
      {kTypeVector, "vector!", kTypeString},     {kTypeTime, "time!", kTypeFloat},
      {kTypeHandle, "handle!", kTypeInteger},    {kTypePoint2D, "point2D!", kTypeNil},
      {kTypeImage, "image!", kTypeSeries},       {kTypeEvent, "event!", kTypeNil},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(type_name(c.id), c.name);
    EXPECT_EQ(type_parent(c.id), c.parent) << c.name;
    EXPECT_EQ(g_type_names[c.id].length, std::string(c.name).size() - 1);
  }
  for (int t = 1; t <= kMaxTypeId; t++) {
    std::string name = type_name(TypeId(t));
    EXPECT_EQ(name.back(), '!');
    TypeId parent = type_parent(TypeId(t));
    EXPECT_TRUE(parent == kTypeNil || parent < kMaxTypeId) << name;
  }
}

int32_t form_a(Cell*, const FormArgs& args) { return args.limit - 1; }
int32_t form_b(Cell*, const FormArgs& args) { return args.limit - 2; }
Cell* head_a(Cell* v, const NoneArgs&) { return v; }

TEST(Registry, InheritanceResolvesAtRegistration) {
  // Spare rows 55 and 56 serve as a parent and a child.
  const TypeId parent = TypeId(55), child = TypeId(56);
  const int saved_max = g_max_type_id;
  register_datatype({parent, kTypeNil, "parent-test!", kActionCount, {.form = form_a, .head = head_a}});
  register_datatype(
      {child, parent, "child-test!", kActionCount, {.form = kInherit, .mold = kInherit, .head = kInherit}});
  EXPECT_EQ(actions_of(child).form, &form_a);
  EXPECT_EQ(actions_of(child).head, &head_a);
  EXPECT_EQ(actions_of(child).mold, nullptr);  // parent has none: unsupported
  EXPECT_EQ(actions_of(child).tail, nullptr);  // not inherited
  // Rows are not linked: changing the parent later does not reach the child.
  register_datatype({parent, kTypeNil, "parent-test!", kActionCount, {.form = form_b}});
  EXPECT_EQ(actions_of(child).form, &form_a);
  EXPECT_EQ(g_max_type_id, 56);
  g_max_type_id = saved_max;
  g_action_table[parent] = g_action_table[child] = ActionSlots{};
}

// Runs [body] in a child process; its standard output and exit status.
struct ChildRun {
  std::string out;
  int status = -1;
};
template <class F>
ChildRun run_in_child(F body) {
  int out[2];
  if (pipe(out) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    body();
    _exit(77);
  }
  close(out[1]);
  ChildRun run;
  char buf[256];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) run.out.append(buf, size_t(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  return run;
}

TEST(Registry, WrongActionCountEndsTheProcess) {
  ChildRun run = run_in_child([] { register_datatype({kTypeString, kTypeSeries, "string!", 61, {}}); });
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "*** Datatype Error: invalid actions count for type: 7\n*** Found: 61\n*** Expected: 62\n");
}

Cell* copy_a(Cell* v, const CopyArgs&) { return v; }
Cell* copy_b(Cell* v, const CopyArgs&) { return v; }
Cell* copy_c(Cell* v, const CopyArgs&) { return v; }

// An install from above reaches every type that inherits the slot, through
// any number of levels, and stops at a type with a handler of its own.
TEST(Registry, InstallFillsTheChildrenThatInherit) {
  test::RegistrySnapshot snapshot;
  const CopyFn series_copy = actions_of(kTypeSeries).copy;
  const CopyFn block_copy = actions_of(kTypeBlock).copy;
  const CopyFn path_copy = actions_of(kTypePath).copy;
  const TypeId inheriting[] = {kTypeString, kTypeUrl, kTypeFile, kTypeVector, kTypeBinary, kTypeTag};
  for (TypeId t : inheriting) ASSERT_EQ(actions_of(t).copy, series_copy) << type_name(t);
  ASSERT_NE(block_copy, series_copy);
  ASSERT_NE(path_copy, block_copy);
  const HeadFn head = actions_of(kTypeFile).head;

  registry_install(kTypeSeries, {.copy = copy_a});
  EXPECT_EQ(actions_of(kTypeSeries).copy, &copy_a);
  for (TypeId t : inheriting) EXPECT_EQ(actions_of(t).copy, &copy_a) << type_name(t);
  // Own handlers stay, and so do their heirs' (paren! through block!, lit-path! through path!).
  EXPECT_EQ(actions_of(kTypeBlock).copy, block_copy);
  EXPECT_EQ(actions_of(kTypeParen).copy, block_copy);
  EXPECT_EQ(actions_of(kTypePath).copy, path_copy);
  EXPECT_EQ(actions_of(kTypeLitPath).copy, path_copy);
  // Null slots are left as they are.
  EXPECT_EQ(actions_of(kTypeFile).head, head);

  // A handler of file!'s own cuts it off from url!; kInherit joins it again.
  registry_install(kTypeFile, {.copy = copy_b});
  registry_install(kTypeSeries, {.copy = copy_c});
  EXPECT_EQ(actions_of(kTypeUrl).copy, &copy_c);
  EXPECT_EQ(actions_of(kTypeFile).copy, &copy_b);
  registry_install(kTypeFile, {.copy = kInherit});
  EXPECT_EQ(actions_of(kTypeFile).copy, &copy_c);
  registry_install(kTypeSeries, {.copy = series_copy});
  for (TypeId t : inheriting) EXPECT_EQ(actions_of(t).copy, series_copy) << type_name(t);
}

// A series type the series! handlers have never heard of: its units read
// as integers 1000 above the code points stored, and take integers only.
Cell plus_thousand(const Cell* s, int32_t i) {
  return integer_cell(int32_t(string_char_at(s, uint32_t(i))) + 1000);
}
void integers_only(const Cell*, const Cell* v) {
  if (!v->is(kTypeInteger)) raise_error(kErrScriptInvalidArg, v);
}
void minus_thousand(const Cell* s, int32_t i, const Cell* v) {
  string_write_char(s->node(), uint32_t(i), uint32_t(integer_get(v) - 1000));
}

TEST(Registry, SeriesHandlersReachTheUnitsThroughTypeSlots) {
  test::RegistrySnapshot snapshot;
  const int saved_max = g_max_type_id;
  // event! stands in; the snapshot puts its own row back afterwards.
  const TypeId units = kTypeEvent;
  constexpr TypeSlots kSlots{.element = SeriesElement::kCodePoint,
                             .unit_value = plus_thousand,
                             .unit_check = integers_only,
                             .unit_store = minus_thousand};
  register_datatype({units, kTypeSeries, "units-test!", kActionCount, inherit_all_slots(), nullptr, &kSlots});
  StackSave save;
  Cell* text = test::push_text("abc");
  Cell* series = stack_push_value(*text);
  series->set_type(units);
  EXPECT_EQ(series_element_kind(units), SeriesElement::kCodePoint);

  Cell* picked = stack_push_value(*series);
  PickArgs pick;
  pick.position = 2;
  EXPECT_EQ(integer_get(actions_of(units).pick(picked, pick)), 1000 + 'b');

  PokeArgs poke;
  poke.position = 1;
  poke.value = stack_push_value(integer_cell(1000 + 'Z'));
  actions_of(units).poke(series, poke);
  EXPECT_EQ(test::text_of(*text), "Zbc");
  poke.value = stack_push_value(char_cell('Y'));
  EXPECT_EQ(test::catch_error([&] { actions_of(units).poke(series, poke); }), kErrScriptInvalidArg);
  EXPECT_EQ(test::text_of(*text), "Zbc");
  g_max_type_id = saved_max;
}

TEST(Registry, InstallAfterStartUpEndsTheProcess) {
  ChildRun run = run_in_child([] {
    registry_install(kTypeFile, {.copy = copy_a});  // still starting up: taken
    if (actions_of(kTypeFile).copy != &copy_a) _exit(78);
    registry_seal();
    registry_install(kTypeFile, {.copy = copy_b});
  });
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "*** Datatype Error: handlers changed after start-up for type: 8\n");
  EXPECT_FALSE(registry_sealed_q());  // the child's seal stayed in the child
}

}  // namespace
}  // namespace kiv
