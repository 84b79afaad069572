// The library: the routines (C++ code behind a Kiv spec) and the functions
// and objects written in Kiv, made at start-up on top of the base environment.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace kiv {

// MAY RUN KIV CODE. Makes and binds the routines, then runs each of the
// library's Kiv sources in order in the global context (they define the
// library functions and build the system object). An error raised here is
// an error of the build: it travels out to the caller.
void library_init();

// MAY RUN KIV CODE. Runs the UTF-8 Kiv source [text], header included, in
// the global context; its value is pushed. [name] names it in errors.
void library_run_text(const char* name, const unsigned char* text, uint32_t length);

// MAY RUN KIV CODE. Loads the UTF-8 Kiv source [text] (no header) and
// evaluates it in the global context; its value is pushed.
Cell* library_eval(std::string_view text);

// MAY RUN KIV CODE. library_eval with the loaded words bound to the
// library's own context (after start-up), so that the text calls what
// start-up made whatever the script has set since.
Cell* library_eval_in_library(std::string_view text);

}  // namespace kiv
