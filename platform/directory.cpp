// getcwd(3), with a buffer that grows until the path fits; chdir, mkdir, stat.
#include "platform/directory.h"

#include <sys/stat.h>
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

bool os_set_current_dir(const std::string& path) { return !path.empty() && chdir(path.c_str()) == 0; }

bool os_make_dir(const std::string& path, unsigned mode) {
  return !path.empty() && mkdir(path.c_str(), mode_t(mode)) == 0;
}

bool os_path_exists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

}  // namespace kiv
