// What the system object gets from C++ once the library's Kiv sources have
// built it: the runtime's error catalogue, month names and currency list, the
// object over the global context, the cache directory and the command line.
#pragma once

#include "runtime/cell.h"

namespace kiv {

// MAY ALLOCATE. Fills system/catalog/errors, system/words,
// system/state/GC, system/locale/months and currencies/list, and
// system/options/cache with what the runtime holds.
void system_object_finish();

// MAY RUN KIV CODE. Puts the command line into the system object:
// system/script/args (the raw text, program path first) split by
// extract-boot-args, then system/options/args from [argv] as the OS gave them.
void system_set_command_line(int argc, char** argv);

// The version this build reports (system/version, as text).
inline constexpr const char* kKivVersion = "0.6.6";

}  // namespace kiv
