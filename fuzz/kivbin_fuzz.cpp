// libFuzzer target of the KIVBIN decoder: any bytes are decoded in user
// mode as they are, then behind a compact and a plain header; whatever
// decodes is encoded again in both forms (access no-codec allowed) and the
// result decoded once more, which must mold as the first decoding did. Every
// outcome must be values or a Kiv error: never a crash, a hang or a sanitizer
// report. tests/unit/kivbin_fuzz_seeds_test.cpp runs the seeds of
// fuzz/corpus/kivbin_fuzz/ through kivbin_fuzz_one as ordinary tests.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "fuzz/guarded.h"
#include "runtime/cycle.h"
#include "runtime/exits.h"
#include "runtime/stack.h"
#include "services/kivbin.h"

namespace kiv::fuzz {

// The mold/all of [value], cut to a budget: a decoded graph may share one
// block many times over.
inline std::string kivbin_fuzz_mold(Cell* value) {
  Cell* text = stack_push();
  string_make_at(text, 64);
  Cell* limit = stack_push_value(integer_cell(1 << 16));
  MoldArgs args;
  args.buffer = text;
  args.all = true;
  args.part = limit;
  args.limit = 1 << 16;
  action_mold(value, args);
  return string_to_utf8(text);
}

// Decodes [data] into a new block, molds it, re-encodes it in both forms and
// checks that each decodes to the same mold: false when one does not.
inline bool kivbin_fuzz_round(const uint8_t* data, size_t size) {
  std::string first;
  std::vector<std::vector<uint8_t>> again;
  bool decoded = fuzz::guarded([&] {
    Cell* out = block_push_only(1);
    Cell arg = kNoneCell;
    kivbin_decode(data, size, out, &arg);
    first = kivbin_fuzz_mold(out);
    for (bool compact : {true, false}) {
      fuzz::guarded([&] {
        // The decoded values go again in one block: encode one value.
        Cell* bin = kivbin_encode(out, compact);
        const uint8_t* p = binary_head_ptr(bin);
        again.emplace_back(p, p + binary_length(bin));
      });
    }
  });
  if (!decoded) return true;
  bool same = true;
  for (const std::vector<uint8_t>& bytes : again) {
    // What the encoder wrote decodes: an error here is a fault too.
    same &= fuzz::guarded([&] {
      Cell* out = block_push_only(1);
      Cell arg = kNoneCell;
      kivbin_decode(bytes.data(), bytes.size(), out, &arg);
      // The re-encoded stream holds the first decoding's block as its one value.
      Cell* inner = stack_push_value(*block_ks_abs_at(out, 0));
      same &= kivbin_fuzz_mold(inner) == first;
    });
  }
  return same;
}

// One fuzz input: as it is, then its bytes behind each form's header. False
// when a round trip changed what decoded.
inline bool kivbin_fuzz_one(const uint8_t* data, size_t size) {
  bool same = kivbin_fuzz_round(data, size);
  for (uint8_t flags : {uint8_t(kKivbinCompact | kKivbinSymbols), uint8_t(kKivbinSymbols)}) {
    std::vector<uint8_t> stream = {'K', 'I', 'V', 'B', 'I', 'N', kKivbinVersion, flags};
    stream.insert(stream.end(), data, data + size);
    same &= kivbin_fuzz_round(stream.data(), stream.size());
  }
  return same;
}

}  // namespace kiv::fuzz

#ifndef KIV_FUZZ_BODY_ONLY

#include "boot/init.h"
#include "platform/thread.h"
#include "runtime/collector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool initialised = [] {
    kiv::runtime_init();
    kiv::register_this_thread_stack();
    kiv::g_collector_active = true;
    return true;
  }();
  (void)initialised;
  if (size > (1u << 20)) return 0;
  kiv::g_stack.arguments = kiv::g_stack.top = kiv::g_stack.bottom;
  kiv::g_stack.frames_top = kiv::g_stack.frames_base;
  if (!kiv::fuzz::kivbin_fuzz_one(data, size)) __builtin_trap();
  return 0;
}

#endif
