// The terminal while the text-mode GUI shows a view: raw input (through
// terminal_mode.h, the line editor's own switch), mouse reporting, the
// alternate screen and the hidden cursor, all put back on leaving and, from
// the process's before-exit hook, on every other way out (an uncaught error,
// quit, SIGTERM, SIGHUP, SIGINT, a fatal signal).
//
// GUI mode is entered only when standard input and standard output are both
// terminals; otherwise nothing here touches the terminal or standard input.
// Input is waited for with poll on standard input and the self-pipe that
// SIGWINCH writes (terminal_mode.h), and every byte pending is read at once.
#pragma once

#include <cstdint>

#include "platform/terminal_keys.h"

namespace kiv {

// Enters GUI mode: raw input, the signal handlers of terminal_mode.h. False
// (nothing changed) when standard input or output is no terminal.
bool terminal_gui_enter();
// Leaves GUI mode: mouse reporting off, main screen, cursor shown, the saved
// input mode back. Nothing when GUI mode is off.
void terminal_gui_leave();
// True while GUI mode is on.
bool terminal_gui_active();

// Mouse reporting (private modes 1000, 1003, 1015, 1006) on or off; nothing
// when it already is so or GUI mode is off.
void terminal_gui_mouse(bool on);
// Switches to the alternate screen and clears it (once), or back.
void terminal_gui_alternate_screen(bool on);
bool terminal_gui_alternate_screen_q();
// Shows or hides the cursor.
void terminal_gui_cursor(bool shown);

// What a wait saw.
enum TerminalGuiWake : uint8_t {
  kGuiWakeNone = 0,
  kGuiWakeInput = 1,    // bytes are there to read
  kGuiWakeResized = 2,  // SIGWINCH came
  kGuiWakeEnded = 4,    // the input ended (0 bytes, EIO): never read again
};

// Waits up to [timeout_ms] (0: just looks) for input or a SIGWINCH, EINTR
// retried with the time left. GUI mode off: sleeps [timeout_ms].
uint8_t terminal_gui_wait(int timeout_ms);
// Reads every byte standard input has pending into [decoder], without
// blocking. The number of bytes read.
size_t terminal_gui_read(KeyDecoder& decoder);
// Reads and drops every byte pending.
void terminal_gui_discard();

// The before-exit hook's share (async-signal-safe): writes what leaving GUI
// mode writes. terminal_restore_for_exit calls it.
void terminal_gui_restore_for_exit();

}  // namespace kiv
