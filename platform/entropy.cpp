// getrandom(2), retried after EINTR and short reads.
#include "platform/entropy.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>

namespace kiv {

bool os_secure_random(void* out, size_t size) {
  auto* p = static_cast<uint8_t*>(out);
  size_t got = 0;
  while (got < size) {
    ssize_t r = getrandom(p + got, size - got, 0);
    if (r > 0)
      got += size_t(r);
    else if (errno != EINTR)
      return false;
  }
  return true;
}

}  // namespace kiv
