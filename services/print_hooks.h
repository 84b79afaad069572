// The print hooks: the string printers that print and prin reach, and the
// text printers that the runtime's byte-text output reaches, each called in
// registration order. The only printer registered at start-up writes to
// standard output (console_output.h).
#pragma once

#include <cstddef>

#include "runtime/cell.h"

namespace kiv {

// Takes a string! (a stable cell) and whether a line end follows.
using StringPrinter = void (*)(const Cell* text, bool newline);
// Takes UTF-8 text, its length in bytes and a flag.
using TextPrinter = void (*)(const char* text, size_t n, int flag);

// Empties both lists, registers print_string_stdout as the only string
// printer. call_string_printers answers the evaluator's print_output hook.
void init_print_hooks();
// Appends each printer given (non-null) to its list.
void add_print_hooks(StringPrinter string_printer, TextPrinter text_printer);
// Takes the first equal entry of each printer given out of its list.
void remove_print_hooks(StringPrinter string_printer, TextPrinter text_printer);

// MAY ALLOCATE (a printer may). Calls every string printer with [text] and [newline].
void call_string_printers(const Cell* text, bool newline);
// Calls every text printer with the three arguments.
void call_text_printers(const char* text, size_t n, int flag);

// The default string printer: [text] from its head to standard output, a
// line end after it when [newline].
void print_string_stdout(const Cell* text, bool newline);

}  // namespace kiv
