// Standard input read as UTF-8 lines or as bytes, through one buffer, so that
// lines and bytes can be read in turn without losing what was read ahead.
// Used when standard input is a pipe or a file, and on a terminal outside
// raw mode (standard output no terminal): the terminal's own line editing
// then makes the lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kiv {

// Reads one line into [out] (appended): every code point up to a line feed,
// which is not stored; a carriage return before it is kept; a byte that
// cannot be UTF-8 is U+FFFD. False when the input ended (or failed) before
// any character or line feed came; a last line without a line feed is a
// line. Never busy: once the input ended, later calls return false at once.
bool stdin_read_line(std::u32string* out);

// Reads up to [n] bytes into [bytes]: those read ahead first, else one read
// of the descriptor. The count, 0 at the end of the input or on a failure.
size_t stdin_read_bytes(uint8_t* bytes, size_t n);

// Forgets the end of the input and what was read ahead (tests that swap
// descriptor 0).
void stdin_lines_reset();

}  // namespace kiv
