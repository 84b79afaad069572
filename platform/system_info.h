// What the kernel says about the running system (uname) and the process's
// own argument list (/proc/self/cmdline).
#pragma once

#include <string>
#include <vector>

namespace kiv {

struct SystemName {
  std::string system;   // "Linux"
  std::string release;  // "6.1.0-18-amd64"
  std::string version;  // "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)"
  std::string machine;  // "x86_64"
};
// uname(2); false when it fails.
bool os_system_name(SystemName* out);

// The process's arguments, its program name first, as the kernel keeps them;
// false when they cannot be read.
bool os_process_arguments(std::vector<std::string>* out);

}  // namespace kiv
