// Display width of a code point in terminal cells, from tables generated out
// of the Unicode data (tools/make_char_width.py).
#pragma once

#include <cstdint>

namespace kiv {

// 0 for U+0000 and for combining characters (nonspacing and enclosing marks,
// Hangul medial and final Jamo); 1 for the other control codes (below 32, 127
// to 159); 2 for East Asian wide and fullwidth characters; 1 otherwise.
int char_width(uint32_t cp);

}  // namespace kiv
