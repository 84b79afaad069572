// What the system object gets from C++ once the library's Kiv sources have
// built it: the error catalogue, the object over the global context, the
// currency list, the cache directory and the command line.
#pragma once

#include "runtime/cell.h"

namespace kiv {

// MAY RUN KIV CODE. Fills system/catalog/errors, system/words,
// system/locale/currencies/list and system/options/cache.
void system_object_finish();

// MAY RUN KIV CODE. Puts the command line into the system object:
// system/script/args (the raw text, program path first) split by
// extract-boot-args, then system/options/args from [argv] as the OS gave them.
void system_set_command_line(int argc, char** argv);

// The version this build reports (system/version, as text).
inline constexpr const char* kKivVersion = "0.6.6";

// MAY ALLOCATE. Records the script the command line runs: system/options/script
// is [script] (a file!), system/options/args the block [args] of its own
// arguments, system/script/args their raw text [raw] (all stable cells).
void system_set_script(const Cell* script, const Cell* args, const Cell* raw);

}  // namespace kiv
