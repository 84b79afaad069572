// The cycle stack and its elision texts.
#include "runtime/cycle.h"

#include "platform/thread.h"
#include "runtime/errors.h"

namespace kiv {

namespace {
Node g_cycle[kCycleStackSize];
uint32_t g_cycle_top = 0;
}  // namespace

void cycle_stack_push(Node node) {
  // Each level of a nested walk is a level of C++ recursion too.
  if (native_stack_low(kNativeStackMargin)) {
    g_cycle_top = 0;
    raise_error(kErrInternalStackOverflow);
  }
  g_cycle[g_cycle_top++] = node;
  if (g_cycle_top == kCycleStackSize) {
    g_cycle_top = 0;
    raise_error(kErrInternalTooDeep);
  }
}

void cycle_stack_pop() {
  if (g_cycle_top > 0) g_cycle_top--;
}

void cycle_stack_drop(uint32_t n) { g_cycle_top = n < g_cycle_top ? g_cycle_top - n : 0; }

void cycle_stack_reset() { g_cycle_top = 0; }

bool cycle_stack_find(Node node) {
  for (uint32_t i = 0; i < g_cycle_top; i++)
    if (g_cycle[i] == node) return true;
  return false;
}

uint32_t cycle_stack_depth() { return g_cycle_top; }
const Node* cycle_stack_base() { return g_cycle; }

}  // namespace kiv
