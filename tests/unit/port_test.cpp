// port!: a native actor (C++ code added through registry_add_port_actor)
// behind a scheme answers the actions forwarded to a port, receiving the
// same values a Kiv actor function does.
#include "datatypes/port.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/context.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/word.h"
#include "eval_test.h"
#include "evaluator/base_env.h"

namespace kiv {
namespace {

std::vector<std::string> g_calls;

// Records each call as the action's word and the molded values after the
// port; length? answers the number of values, anything else the port.
Cell* recording_actor(ActionId action, Cell* port, Cell* args, int32_t count) {
  std::string call = g_actions_table[action].word;
  for (int32_t i = 0; i < count; i++) call += " " + test::mold(args[i]);
  g_calls.push_back(call);
  static Cell answer;
  answer = action == kActionLengthQ ? integer_cell(count) : *port;
  return &answer;
}

class PortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_environment_init();
    g_calls.clear();
  }

  // Makes `system` hold a scheme `native` whose actor is [actor].
  void define_scheme(Cell actor) {
    StackSave save;
    Cell* word = stack_push_value(load_word("native-actor"));
    set_word_value(word, &actor);
    EXPECT_EQ(
        test::eval_mold("system: make object! [schemes: reduce ['native make object! [name: title: info: "
                        "none actor: :native-actor]] standard: make object! [port: make object! [spec: "
                        "scheme: actor: awake: state: data: extra: none] port-spec: make object! "
                        "[scheme: ref: none]]] 'ok"),
        "ok");
  }
};

TEST_F(PortTest, NativeActorReceivesTheForwardedValues) {
  define_scheme(port_actor_handle(registry_add_port_actor(recording_actor)));
  EXPECT_EQ(test::eval_mold("p: make port! [scheme: 'native ref: 5] reduce [p/scheme p/spec/ref length? p]"),
            "[native 5 0]");
  EXPECT_EQ(test::eval_mold("port! = type? p"), "true");
  g_calls.clear();
  test::eval_mold("append/part p \"ab\" 1 pick p 3 read/part p 2 close p");
  EXPECT_EQ(g_calls, (std::vector<std::string>{"append \"ab\" true 1 false false none", "pick 3",
                                               "open false false false false false none",
                                               "copy true 2 false false none", "close", "close"}));
}

TEST_F(PortTest, ActorHandleOfNoRegisteredActorIsAnInvalidPort) {
  define_scheme(port_actor_handle(999999));
  EXPECT_EQ(test::eval_mold("p: make port! [scheme: 'native] type? p"), "port!");
  EXPECT_EQ(test::eval_mold("close p"), "!invalid-port");
  // A handle of another kind is no actor either.
  define_scheme(handle_cell(kHandleFd, 1));
  EXPECT_EQ(test::eval_mold("close make port! [scheme: 'native]"), "!invalid-port");
}

}  // namespace
}  // namespace kiv
