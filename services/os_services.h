// What the system and the process say about themselves: the os-info object
// and the process's command line. The current directory is in
// services/file_access.h (current_dir_file, set_current_dir); the clock,
// sleeping and the environment are the natives now, wait, get-env, set-env
// and list-env over platform/clock.h and platform/environment.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/cell.h"

namespace kiv {

// The fields of os-info, read from the kernel's names.
struct OsInfo {
  std::string name;    // "Linux " and the release
  std::string arch;    // "x86-64", "x86-32", "ARM", "ARM64", "IA-64" or "Unknown"
  uint8_t version[3];  // the release's first three numbers (each at most 255)
  int32_t build;       // the number after "#" that starts the kernel's version text, else 0
};

// The processor word for uname's machine name [machine].
std::string os_arch_name(std::string_view machine);
// The fields for the uname texts [release], [version] and [machine].
OsInfo os_info_from(std::string_view release, std::string_view version, std::string_view machine);

// MAY ALLOCATE. Pushes the os-info object: name (string!), arch (word!),
// version (tuple! of three bytes), build (integer!), in that order. When
// uname fails the name is "Linux", the arch Unknown, the version 0.0.0.
Cell* os_info_object();

// [args] joined by blanks; an argument that is empty or holds a blank or a
// tab is written between double quotes.
std::string command_line_text(const std::vector<std::string>& args);
// MAY ALLOCATE. Pushes the process's command line (command_line_text of its
// arguments, program name first) as a string!; "" when it cannot be read.
Cell* command_line();

}  // namespace kiv
