// Standard output as a file descriptor: whether it is a terminal, and writes
// that go on after short writes and interrupted calls.
#pragma once

#include <cstddef>

namespace kiv {

// True when [fd] is a terminal.
bool fd_is_terminal(int fd);

// Writes the [n] bytes at [bytes] to [fd], going on after short writes and
// interrupted calls. Returns 0, or the errno of the write that failed (the
// rest is not written).
int fd_write_all(int fd, const void* bytes, size_t n);

}  // namespace kiv
