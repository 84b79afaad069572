// The library written in Kiv, embedded in the executable as UTF-8 text (the
// table is generated at build time from library/*.kiv, in start-up order).
#pragma once

#include <cstdint>

namespace kiv {

struct LibraryText {
  const char* name;  // the source file's name, such as "core.kiv"
  const unsigned char* text;
  uint32_t length;
};

extern const LibraryText g_library_texts[];
extern const int g_library_text_count;

}  // namespace kiv
