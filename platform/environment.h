// The process environment (getenv, setenv, unsetenv, environ) and the size of
// a file (stat).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kiv {

// The value of variable [name], or false when it is not set (or the name
// holds "=" or a NUL byte, which no variable can have).
bool os_get_env(const std::string& name, std::string* value);
// Sets [name] to [value], or removes it when [value] is null. False when the
// name is refused (empty, holding "=" or a NUL byte) or there is no memory.
bool os_set_env(const std::string& name, const std::string* value);
// Every variable as (name, value), in the environment's order.
std::vector<std::pair<std::string, std::string>> os_list_env();

// The user's home directory: $HOME when set and not empty, else the
// password database's entry for the user; false when neither gives one.
bool os_home_dir(std::string* out);

// The size in bytes of the regular file at [path] that can be opened for
// reading, or -1 (missing, unreadable, a directory, a NUL byte in the path).
int64_t os_file_size(const std::string& path);

}  // namespace kiv
