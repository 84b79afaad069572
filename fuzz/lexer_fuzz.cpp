// libFuzzer target of the lexer: any bytes are scanned in the three modes
// (load with errors raised, classification, prescan); a load that succeeds
// is molded and the mold loaded again. Every outcome must be a value or a
// Kiv error: never a crash, a hang or a sanitizer report.
#include <cstddef>
#include <cstdint>
#include <string>

#include "boot/init.h"
#include "datatypes/actions.h"
#include "datatypes/string.h"
#include "evaluator/lexer.h"
#include "fuzz/guarded.h"
#include "runtime/collector.h"
#include "runtime/cycle.h"
#include "runtime/exits.h"
#include "runtime/stack.h"

namespace {

using namespace kiv;

void scan(const uint8_t* data, size_t size, bool full, bool output, bool one) {
  fuzz::guarded([&] {
    TranscodeRequest request;
    request.input = data;
    request.length = uint32_t(size);
    request.full_scan = full;
    request.output = output;
    request.one_value = one;
    transcode_input(stack_push(), request);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool initialised = [] {
    runtime_init();
    g_collector_active = true;
    return true;
  }();
  (void)initialised;
  if (size > (1u << 20)) return 0;
  g_stack.arguments = g_stack.top = g_stack.bottom;
  g_stack.frames_top = g_stack.frames_base;
  std::string molded;
  bool loaded = fuzz::guarded([&] {
    Cell* out = stack_push();
    lexer_load_utf8(out, data, uint32_t(size));
    Cell* text = stack_push();
    string_make_at(text, 64);
    MoldArgs args;
    args.buffer = text;
    args.all = true;
    args.limit = kNoLimit;
    action_mold(out, args);
    molded = string_to_utf8(text);
  });
  if (loaded) {
    fuzz::guarded([&] {
      Cell* again = stack_push();
      lexer_load_utf8(again, reinterpret_cast<const uint8_t*>(molded.data()), uint32_t(molded.size()));
    });
  }
  scan(data, size, true, false, true);
  scan(data, size, false, false, true);
  return 0;
}
