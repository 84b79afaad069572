// getcwd(3), with a buffer that grows until the path fits.
#include "platform/directory.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kiv {

bool os_get_current_dir(std::string* out) {
  std::string buffer(256, '\0');
  for (;;) {
    if (getcwd(buffer.data(), buffer.size())) break;
    if (errno != ERANGE || buffer.size() > (size_t(1) << 24)) return false;
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(buffer.find('\0'));
  *out = std::move(buffer);
  return true;
}

}  // namespace kiv
