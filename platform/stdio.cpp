// Standard output as a file descriptor (stdio.h).
#include "platform/stdio.h"

#include <unistd.h>

#include <cerrno>

namespace kiv {

bool fd_is_terminal(int fd) { return isatty(fd) == 1; }

bool stdin_is_terminal() { return fd_is_terminal(0); }

bool stdio_are_terminals() { return fd_is_terminal(0) && fd_is_terminal(1); }

int fd_write_all(int fd, const void* bytes, size_t n) {
  const char* p = static_cast<const char*>(bytes);
  while (n > 0) {
    ssize_t k = write(fd, p, n);
    if (k < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (k == 0) return EIO;  // a write that takes nothing would never end
    p += k;
    n -= size_t(k);
  }
  return 0;
}

}  // namespace kiv
