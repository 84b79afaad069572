// What the fuzz targets of the data library share: start-up with the
// library loaded (once), and a call of one library function on a string!
// made from the input's UTF-8 (input that is not UTF-8 is skipped: the
// functions take text). A Kiv error is an answer, not a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "boot/init.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "evaluator/base_env.h"
#include "evaluator/interpreter.h"
#include "fuzz/guarded.h"
#include "library/library.h"
#include "runtime/collector.h"
#include "runtime/stack.h"

namespace kiv::fuzz {

// Brings the runtime, the base environment and the library up, once.
inline void library_started() {
  static const bool started = [] {
    runtime_init();
    g_collector_active = true;
#if defined(KIV_GC_STRESS)
    // As in kiv: start-up is the same in every run, so the stress build
    // collects through it only when asked, and through everything after.
    const bool stress_boot = std::getenv("KIV_GC_STRESS_BOOT") || std::getenv("KIV_GC_STRESS");
    if (!stress_boot) gc_set_stress(false);
#endif
    base_environment_init();
    library_init();
#if defined(KIV_GC_STRESS)
    if (!stress_boot) gc_set_stress(true);
#endif
    return true;
  }();
  (void)started;
}

// Calls the function [code] evaluates to (in the library's own context) with
// the string! of [data]. Input that is not UTF-8 raises invalid-utf8 before
// the call. A call that answers false found a fault: the process aborts.
// The function is made once and kept in the data stack's first cell, below
// every run's own cells.
inline void call_on_text(const char* code, const uint8_t* data, size_t size) {
  static const char* made_from = nullptr;
  library_started();
  g_stack.frames_top = g_stack.frames_base;
  if (made_from != code) {
    g_stack.arguments = g_stack.top = g_stack.bottom;
    Cell* fn = stack_push();
    made_from = nullptr;
    if (!guarded([&] { *fn = *library_eval_in_library(code); })) return;
    made_from = code;
  }
  g_stack.arguments = g_stack.top = g_stack.bottom + 1;
  if (size > (1u << 16)) return;
  bool answer = true;
  guarded([&] {
    Cell* text = stack_push();
    string_make_at(text, uint32_t(size));
    string_append_utf8(text, std::string_view(reinterpret_cast<const char*>(data), size));
    Cell* result = stack_push();
    call_value(g_stack.bottom, text, 1, result);
    answer = !result->is(kTypeLogic) || logic_get(result) != 0;
  });
  if (!answer) std::abort();
}

}  // namespace kiv::fuzz
