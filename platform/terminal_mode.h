// The terminal's input mode: raw while a line is edited (or a text-mode GUI
// runs), the saved mode put back on every way out.
//
// Raw mode is set with tcsetattr(TCSANOW), never TCSAFLUSH, so lines pasted
// ahead wait for the next edit: ICANON, ECHO, ISIG, IEXTEN, IXON and ICRNL
// off (Ctrl-C, Ctrl-Z, Ctrl-S and CR arrive as bytes), one byte a read,
// output processing (OPOST) kept.
//
// The saved mode comes back at raw_mode_off, and from the process's
// before-exit hook (terminal_restore_for_exit), which every exit runs:
// quit, an uncaught error, the fatal handlers, SIGINT, SIGTERM, SIGHUP,
// SIGQUIT. SIGTSTP (kill -TSTP; Ctrl-Z is a byte in raw mode) puts the mode
// back before the process stops; SIGCONT sets raw mode again and wakes the
// reader so the line is drawn anew. SIGWINCH wakes it to read the size.
// The wake-ups go through a self-pipe (terminal_wake_fd).
#pragma once

namespace kiv {

// What woke the reader through the self-pipe.
enum class TerminalWake : char { kNone = 0, kResized = 'W', kContinued = 'C' };

// Installs the SIGTSTP, SIGCONT and SIGWINCH handlers and makes the
// self-pipe; once, and only worth doing when standard input is a terminal.
// False when the pipe cannot be made (the editor then works without wake-ups).
bool terminal_signals_install();

// Saves the mode of [fd] and makes it raw. False when [fd] is no terminal or
// the mode cannot be set (nothing changed then).
bool raw_mode_on(int fd);
// Puts the saved mode back, when raw mode is on.
void raw_mode_off();
// True while raw mode is on.
bool raw_mode_active();

// The before-exit hook's share: what leaving GUI mode writes (terminal_gui.h),
// then the saved mode back when raw mode is on. Async-signal-safe.
void terminal_restore_for_exit();

// The read end of the self-pipe (non-blocking), or -1.
int terminal_wake_fd();
// Takes the wake-ups that arrived; kContinued wins over kResized.
TerminalWake terminal_take_wake();

}  // namespace kiv
