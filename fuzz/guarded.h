// What the fuzz targets run their Kiv work under: a try frame, so a Kiv
// error is an answer, not a finding.
#pragma once

#include "runtime/cycle.h"
#include "runtime/exits.h"
#include "runtime/stack.h"

namespace kiv::fuzz {

// Runs [body] under a try frame; false when it raised a Kiv error.
template <typename F>
bool guarded(F&& body) {
  StackSave save;
  stack_mark_try({});
  try {
    body();
  } catch (KivThrow&) {
    g_last_throw_code = 0;
    cycle_stack_reset();
    return false;
  }
  return true;
}

}  // namespace kiv::fuzz
