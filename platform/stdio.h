// Standard input and output as file descriptors: whether they are terminals,
// and writes that go on after short writes and interrupted calls.
#pragma once

#include <cstddef>

namespace kiv {

// True when [fd] is a terminal.
bool fd_is_terminal(int fd);

// True when standard input is a terminal: anything that reads keys waits for
// them there.
bool stdin_is_terminal();
// True when standard input and standard output are both terminals: lines are
// edited on screen, and a text-mode GUI can draw.
bool stdio_are_terminals();

// Writes the [n] bytes at [bytes] to [fd], going on after short writes and
// interrupted calls. Returns 0, or the errno of the write that failed (the
// rest is not written).
int fd_write_all(int fd, const void* bytes, size_t n);

}  // namespace kiv
