// Helpers shared by the unit tests: calling actions through their entry
// points, and catching the errors they raise.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>

#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/errors.h"
#include "runtime/exits.h"

namespace kiv::test {

// Runs [body] inside a try frame; returns the id of the error it raised, or
// kErrorIdCount when it raised none. The stacks are restored either way.
inline ErrorId catch_error(const std::function<void()>& body) {
  StackSave save;
  stack_mark_try(nullptr);
  try {
    body();
  } catch (KivThrow& t) {
    EXPECT_EQ(t.code, kThrowError);
    g_last_throw_code = 0;
    return last_raised_error().id;
  }
  return kErrorIdCount;
}

// Calls action [id] through its entry point with [args] pushed in a native
// frame and refinement argument indexes [refs]; returns the result cell's copy.
inline Cell call_action(ActionId id, std::initializer_list<Cell> args, std::initializer_list<int32_t> refs = {}) {
  StackSave save;
  open_native_frame(nullptr);
  for (const Cell& c : args) stack_push_value(c);
  int32_t r[16];
  int n = 0;
  for (int32_t x : refs) r[n++] = x;
  while (n < 16) r[n++] = kNoRefinement;
  g_actions_table[id].entry(r);
  return *g_stack.arguments;
}

// The text of a string! cell.
inline std::string text_of(const Cell& c) { return string_to_utf8(&c); }

inline std::string form_of(Cell v) { return text_of(call_action(kActionForm, {v})); }
inline std::string mold_of(Cell v, bool all = false) {
  return all ? text_of(call_action(kActionMold, {v}, {-1, 0, -1, -1})) : text_of(call_action(kActionMold, {v}));
}

inline Cell integer_cell(int32_t n) { return make_cell(kTypeInteger, 0, uint32_t(n)); }

}  // namespace kiv::test
