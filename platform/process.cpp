// process_exit and write_all over the POSIX calls.
#include "platform/process.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kiv {

void (*g_before_exit)() = nullptr;

void process_exit(int status) {
  if (g_before_exit) g_before_exit();
  std::fflush(nullptr);
  _exit(status & 0xFF);
}

void process_exit_unflushed(int status) { _exit(status & 0xFF); }

bool write_all(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= size_t(n);
  }
  return true;
}

}  // namespace kiv
