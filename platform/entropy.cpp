// getrandom(2), retried after EINTR and short reads, with /dev/urandom behind it.
#include "platform/entropy.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace kiv {

namespace {

// Reads [size] bytes of /dev/urandom into [p].
bool read_urandom(uint8_t* p, size_t size) {
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t got = 0;
  while (got < size) {
    ssize_t r = read(fd, p + got, size - got);
    if (r > 0)
      got += size_t(r);
    else if (r == 0 || errno != EINTR)
      break;
  }
  close(fd);
  return got == size;
}

}  // namespace

bool crypto_random_bytes(void* out, size_t size) {
  auto* p = static_cast<uint8_t*>(out);
  size_t got = 0;
  while (got < size) {
    ssize_t r = getrandom(p + got, size - got, 0);
    if (r > 0)
      got += size_t(r);
    else if (errno != EINTR)
      return read_urandom(p, size);
  }
  return true;
}

}  // namespace kiv
