// POSIX environment calls, and stat on an opened descriptor for file sizes.
#include "platform/environment.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace kiv {

namespace {

bool valid_name_q(const std::string& name) {
  return !name.empty() && name.find('=') == std::string::npos && name.find('\0') == std::string::npos;
}

}  // namespace

bool os_get_env(const std::string& name, std::string* value) {
  if (!valid_name_q(name)) return false;
  const char* v = getenv(name.c_str());
  if (!v) return false;
  *value = v;
  return true;
}

bool os_set_env(const std::string& name, const std::string* value) {
  if (!valid_name_q(name)) return false;
  if (!value) return unsetenv(name.c_str()) == 0;
  if (value->find('\0') != std::string::npos) return false;
  return setenv(name.c_str(), value->c_str(), 1) == 0;
}

std::vector<std::pair<std::string, std::string>> os_list_env() {
  std::vector<std::pair<std::string, std::string>> out;
  for (char** e = environ; e && *e; e++) {
    std::string entry(*e);
    size_t eq = entry.find('=');
    if (eq == std::string::npos) {
      out.emplace_back(std::move(entry), std::string());
    } else {
      out.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
    }
  }
  return out;
}

int64_t os_file_size(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return -1;
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st {};
  int64_t size = -1;
  if (fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode)) size = int64_t(st.st_size);
  close(fd);
  return size;
}

bool os_home_dir(std::string* out) {
  if (os_get_env("HOME", out) && !out->empty()) return true;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(size > 0 ? size_t(size) : 16384, '\0');
  struct passwd entry;
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir ||
      !*found->pw_dir)
    return false;
  *out = found->pw_dir;
  return true;
}

}  // namespace kiv
