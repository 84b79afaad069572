// The text-mode GUI's event loop: frames of at least 33 ms, each reading what
// the terminal sent (keys and mouse reports, tui/input.h), ticking the
// widgets' timers, redrawing the screen (tui/widgets.h) and handing events to
// the widgets and then to system/view/awake.
//
// Loop levels: each loop run that is not nested raises the level and runs
// until exit-event-loop (unview of the last window, stop-events) takes it
// back to where the run found it. A run is nested when a loop is already
// running (level above 0) or when it only polls (do-event-loop with
// no-wait?, the wait native); a nested run neither enters nor leaves the
// terminal's GUI mode and never tears down.
//
// Every call into Kiv code goes through a catch-all frame: an error an actor
// raises is printed and the loop goes on. Widgets are named by WidgetRef
// across such calls, never by pointer. Single-threaded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datatypes/event.h"
#include "platform/terminal_keys.h"
#include "runtime/cell.h"
#include "tui/widgets.h"

namespace kiv {

// Registers the loop's mark callback, the widgets' event sender, the
// console output hooks and the routines. Start-up runs it once.
void event_loop_init();

// One loop run (do-event-loop): with [poll], a single frame that reads what
// is there and stops when nothing was; else frames until the level drops
// back. True when terminal input was seen. MAY RUN KIV CODE.
bool loop_run(bool poll);
// exit-event-loop: takes the loop level down by one (never below 0).
void loop_exit();
// The loop level now.
int32_t loop_level();
// The wait native while a view is shown: runs poll frames for [ms]. False
// (nothing done) when GUI mode is off. MAY RUN KIV CODE.
bool loop_wait(int64_t ms);

// Interprets terminal input as the loop does after a read: keys to the
// focused widget, mouse reports to the widget under the pointer. [final]:
// the escape wait is over. Tests feed it bytes. MAY RUN KIV CODE.
void loop_feed(const uint8_t* bytes, size_t n, bool final);
// Advances every widget's timer by [ms] (a tick sends `time`). MAY RUN KIV CODE.
void loop_advance_timers(int32_t ms);

// Hands the event [type] with [record] (its face taken from [ref]) and
// [flags] to system/view/awake inside a catch-all frame, when [ref]'s widget
// carries a face. True when awake answered `done`. MAY RUN KIV CODE.
bool loop_send_awake(WidgetRef ref, uint32_t type, const EventRecord& record, uint32_t flags);
// Moves the focus of [window] to [target], sending unfocus and focus.
// MAY RUN KIV CODE.
void loop_set_focus(WidgetRef window, WidgetRef target);
// Sends `resize` with the console's size to every window. MAY RUN KIV CODE.
void loop_resize_windows();

// Console output while a view is shown: before it the drawn area is erased,
// after it the frame is drawn again below.
void loop_before_print();
void loop_after_print();

// Puts every piece of loop state back to its start (widgets freed by the
// caller): used at teardown and by tests.
void loop_reset_state();

}  // namespace kiv
