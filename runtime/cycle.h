// The cycle stack: nodes of the series a nested walk (form, mold, compare,
// copy) is inside of, so a series met again inside itself is elided instead
// of recursed into. At most 999 nodes: the 1,000th push raises internal too-deep.
// A push with the native stack running low raises internal stack-overflow.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

inline constexpr uint32_t kCycleStackSize = 1000;

void cycle_stack_push(Node node);
void cycle_stack_pop();
void cycle_stack_drop(uint32_t n);
void cycle_stack_reset();
bool cycle_stack_find(Node node);
uint32_t cycle_stack_depth();
// The nodes on the stack, bottom first (the collector marks nothing here:
// every node on it belongs to a value being walked, which is rooted).
const Node* cycle_stack_base();

// RAII push/pop around a nested walk.
class CycleGuard {
 public:
  explicit CycleGuard(Node node) { cycle_stack_push(node); }
  ~CycleGuard() { cycle_stack_pop(); }
  CycleGuard(const CycleGuard&) = delete;
  CycleGuard& operator=(const CycleGuard&) = delete;
};

}  // namespace kiv
