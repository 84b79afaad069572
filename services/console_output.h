// Console output: text to standard output. On a pipe or a file the text goes
// out as UTF-8 with LF line ends, escape sequences unchanged. On a terminal
// ESC [ sequences are read by the console's own state machine and written
// again as standard terminal sequences; others print as text.
#pragma once

#include <cstddef>

#include "runtime/cell.h"

namespace kiv {

// Sends output to [fd] (standard output at start-up) and decides once
// whether it is a terminal.
void conout_init(int fd = 1);
// The descriptor output goes to.
int conout_fd();

// Sets the functions called before and after every write of printed text
// (null: none): the text-mode GUI erases its drawn area first and draws it
// again below after.
void conout_set_print_hooks(void (*before)(), void (*after)());

// [text] (a string!) from its head; a line end after it when [newline].
void conout_write_string(const Cell* text, bool newline);
// The runtime's byte-text output: [text] as it stands (UTF-8), then to the
// text printers.
const char* conout_write_cstring(const char* text);

// Output that cannot be written is lost, and the run must not look as if it
// succeeded: a failed write to the output ends the process. EPIPE (the
// reader went away: `kiv s.kiv | head -1`) ends it at once and quietly, as
// the default action of SIGPIPE would (status 141; SIGPIPE itself stays
// ignored for child processes and sockets); any other failure (ENOSPC,
// EBADF, EIO...) with a report on standard error and status 254.
// [error] is the failed write's errno.
[[noreturn]] void conout_lost(int error);
// Writes out anything still held and checks it (conout_lost on failure):
// called once the script ends normally.
void conout_finish();

}  // namespace kiv
