// uname(2) and /proc/self/cmdline.
#include "platform/system_info.h"

#include <sys/utsname.h>

#include <fstream>
#include <iterator>

namespace kiv {

bool os_system_name(SystemName* out) {
  struct utsname u;
  if (uname(&u) != 0) return false;
  *out = {u.sysname, u.release, u.version, u.machine};
  return true;
}

bool os_process_arguments(std::vector<std::string>* out) {
  out->clear();
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  if (!in) return false;
  const std::string all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  // Each argument ends in a NUL byte.
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    out->push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

}  // namespace kiv
