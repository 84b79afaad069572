// The process's current directory.
#pragma once

#include <string>

namespace kiv {

// The current directory's path as the OS gives it (bytes, normally UTF-8),
// without a trailing "/" except for the root itself; false when the OS cannot
// give it (the directory was removed, or a part of it is unreadable).
bool os_get_current_dir(std::string* out);

}  // namespace kiv
