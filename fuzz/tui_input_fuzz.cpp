// libFuzzer target of the terminal input decoder the text-mode GUI reads keys
// and mouse reports with: any bytes, whole or cut into reads at the places
// the first byte picks, decode to the same events without a crash; once the
// escape wait is over (a final drain) nothing stays held, and a key typed
// next comes out as that key.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/terminal_keys.h"

namespace tui_input_fuzz {

void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "tui_input_fuzz: %s\n", what);
    abort();
  }
}

std::string text_of(kiv::KeyDecoder::Event e, const kiv::TerminalInputEvent& in) {
  return std::to_string(int(e)) + ":" + std::to_string(in.key) + ":" + std::to_string(in.modifiers) + ":" +
         std::to_string(in.row) + ":" + std::to_string(in.col) + ":" + std::to_string(in.button) + ":" +
         std::to_string(in.release) + ";";
}

// Drains [decoder]; the events decoded appended to [out].
void drain(kiv::KeyDecoder& decoder, bool final, std::string* out) {
  for (int guard = 0;; guard++) {
    check(guard < 1 << 20, "the decoder never runs dry");
    kiv::TerminalInputEvent in;
    kiv::KeyDecoder::Event e = decoder.next_input(final, &in);
    if (e == kiv::KeyDecoder::Event::kNone) return;
    *out += text_of(e, in);
  }
}

// The events of [data] fed in reads of [step] bytes (0: in one read).
std::string decode(const uint8_t* data, size_t size, size_t step, kiv::KeyDecoder& decoder) {
  std::string events;
  if (step == 0) step = size ? size : 1;
  for (size_t i = 0; i < size; i += step) {
    decoder.feed(data + i, size - i < step ? size - i : step);
    drain(decoder, false, &events);
  }
  drain(decoder, true, &events);
  check(decoder.empty(), "bytes stay held after the escape wait");
  return events;
}

int run(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  size_t step = data[0] % 7;
  kiv::KeyDecoder whole;
  std::string expected = decode(data + 1, size - 1, 0, whole);
  kiv::KeyDecoder cut;
  check(decode(data + 1, size - 1, step, cut) == expected, "a cut between reads changes the events");
  // The next key after whatever came before.
  static const uint8_t kKey[] = {'q'};
  cut.feed(kKey, 1);
  kiv::TerminalInputEvent in;
  check(cut.next_input(false, &in) == kiv::KeyDecoder::Event::kKey && in.key == 'q',
        "the next key is swallowed");
  check(cut.empty(), "the next key left bytes behind");
  return 0;
}

}  // namespace tui_input_fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return tui_input_fuzz::run(data, size);
}
