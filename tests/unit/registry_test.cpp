// The datatype registry: names, parents, handler rows and inheritance.
#include "datatypes/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

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

TEST(Registry, WrongActionCountEndsTheProcess) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    register_datatype({kTypeString, kTypeSeries, "string!", 61, {}});
    _exit(77);
  }
  close(out[1]);
  std::string text;
  char buf[256];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(text, "*** Datatype Error: invalid actions count for type: 7\n*** Found: 61\n*** Expected: 62\n");
}

}  // namespace
}  // namespace kiv
