// The process's current directory, and making and testing directories.
#pragma once

#include <string>

namespace kiv {

// The current directory's path as the OS gives it (bytes, normally UTF-8),
// without a trailing "/" except for the root itself; false when the OS cannot
// give it (the directory was removed, or a part of it is unreadable).
bool os_get_current_dir(std::string* out);

// Makes [path] the current directory; false when the OS refuses.
bool os_set_current_dir(const std::string& path);

// Makes the directory [path] (mode 0777 less the umask, or [mode]); false when
// it cannot be made, also when something of that name exists.
bool os_make_dir(const std::string& path, unsigned mode = 0777);

// True when a file or directory exists at [path].
bool os_path_exists(const std::string& path);

}  // namespace kiv
