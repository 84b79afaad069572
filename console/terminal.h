// The console's terminal module: the routines that read a line for `ask`
// (_set-buffer-history, _read-input), read standard input (input-stdin,
// read-stdin), and set the console up (system/console/init).
//
// Standard input and output both terminals: each edit runs the line editor
// (console/line_editor.h) in raw mode, the mode put back at its end and on
// every exit (platform/terminal_mode.h). Otherwise no raw mode, no prompt and
// no escape sequence: _read-input reads a UTF-8 line of standard input (the
// terminal's own line editing makes it when only standard input is one).
//
// _read-input answers true when it read a line, false when the input ended
// (or the terminal's read gave 0 bytes or failed) before one came: the line
// is then empty, and a caller that loops reads no further.
#pragma once

#include "runtime/cell.h"

namespace kiv {

// Start-up step: installs the routines' entries (library/routines.def) and
// the collector's view of the module's values.
void console_terminal_init();

// MAY RUN KIV CODE. After the library ran: when system/console is an object
// with a field init (the console engine the library's console sources make),
// that field gets its routine.
void console_objects_init();

// MAY RUN KIV CODE. system/console/init's work: the title "ESC ]0; [title]
// BEL" when standard output is a terminal, the terminal found and its size
// stored in system/console/size (80 columns for a width of 0, 80x50 without
// a terminal).
void console_init_terminal(const Cell* title);

}  // namespace kiv
