// Where print and prin send their formed text: a hook that the services layer
// sets at start-up. Without one the text goes nowhere.
#pragma once

#include "runtime/cell.h"

namespace kiv {

// Receives a string! [text] (a stable cell) and whether a line end follows.
// MAY ALLOCATE, MAY RUN KIV CODE.
using PrintOutputHook = void (*)(const Cell* text, bool newline);

void set_print_output_hook(PrintOutputHook hook);
PrintOutputHook print_output_hook();

// 1 when the last print ended a line (print), 0 after prin.
extern int g_last_newline;

}  // namespace kiv
