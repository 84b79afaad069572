// The terminal's size in character cells (TIOCGWINSZ). A change is signalled
// by SIGWINCH, which wakes the key reader (terminal_mode.h).
#pragma once

namespace kiv {

// The columns and rows of the terminal [fd] is on. False when [fd] is no
// terminal or the size cannot be read; a width of 0 is returned as it is.
bool terminal_size(int fd, int* columns, int* rows);

}  // namespace kiv
