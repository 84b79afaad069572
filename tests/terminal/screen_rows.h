// Rows of a screen grid as text, for tests that compare them with tables.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/unicode.h"
#include "tui/screen_buffer.h"

namespace kiv::test {

inline std::string utf8_of(uint32_t code) {
  uint8_t bytes[4];
  uint8_t* end = utf8_put(bytes, code);
  return std::string(reinterpret_cast<char*>(bytes), size_t(end - bytes));
}

// Row [y] as the terminal shows it: continuation cells left out, code 0 as
// a space, a password cell as "*".
inline std::string row_text(ScreenBuffer& s, int32_t y) {
  std::string text;
  for (int32_t x = 0; x < s.width; x++) {
    const ScreenCell& c = *s.at(x, y);
    if (c.attributes & kAttrContinuation) continue;
    text += (c.attributes & kAttrPassword) ? std::string("*")
            : c.code == 0                  ? std::string(" ")
                                           : utf8_of(c.code);
  }
  return text;
}

}  // namespace kiv::test
