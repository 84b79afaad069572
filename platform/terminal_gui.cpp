// GUI mode of the terminal (terminal_gui.h). The flags the before-exit hook
// reads are set before a sequence turns a mode on and cleared after the
// sequence that turns it off, so a signal between the two writes what is
// already true, which does no harm.
#include "platform/terminal_gui.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/clock.h"
#include "platform/stdio.h"
#include "platform/terminal_mode.h"

namespace kiv {

namespace {

volatile sig_atomic_t g_active = 0;
volatile sig_atomic_t g_mouse = 0;
volatile sig_atomic_t g_alternate = 0;
volatile sig_atomic_t g_cursor_hidden = 0;
bool g_input_ended = false;

constexpr char kMouseOn[] = "\x1b[?1000h\x1b[?1003h\x1b[?1015h\x1b[?1006h";
constexpr char kMouseOff[] = "\x1b[?1000l\x1b[?1003l\x1b[?1015l\x1b[?1006l";
constexpr char kAlternateOn[] = "\x1b[?1049h\x1b[2J";
constexpr char kAlternateOff[] = "\x1b[?1049l";
constexpr char kCursorShown[] = "\x1b[?25h";
constexpr char kCursorHidden[] = "\x1b[?25l";

// Writes a constant sequence to standard output; a terminal that went away
// is no failure here.
template <size_t N>
void put(const char (&sequence)[N]) {
  (void)fd_write_all(STDOUT_FILENO, sequence, N - 1);
}

}  // namespace

bool terminal_gui_enter() {
  if (g_active) return true;
  if (!stdio_are_terminals()) return false;
  terminal_signals_install();
  if (!raw_mode_on(STDIN_FILENO)) return false;
  g_input_ended = false;
  g_active = 1;
  return true;
}

void terminal_gui_leave() {
  if (!g_active) return;
  terminal_gui_mouse(false);
  terminal_gui_alternate_screen(false);
  // Frames may hide the cursor on their own: it is shown whatever the flag says.
  put(kCursorShown);
  g_cursor_hidden = 0;
  raw_mode_off();
  g_active = 0;
}

bool terminal_gui_active() { return g_active; }

void terminal_gui_mouse(bool on) {
  if (!g_active || bool(g_mouse) == on) return;
  if (on) {
    g_mouse = 1;
    put(kMouseOn);
  } else {
    put(kMouseOff);
    g_mouse = 0;
  }
}

void terminal_gui_alternate_screen(bool on) {
  if (!g_active || bool(g_alternate) == on) return;
  if (on) {
    g_alternate = 1;
    put(kAlternateOn);
  } else {
    put(kAlternateOff);
    g_alternate = 0;
  }
}

bool terminal_gui_alternate_screen_q() { return g_alternate; }

void terminal_gui_cursor(bool shown) {
  if (!g_active || bool(g_cursor_hidden) == !shown) return;
  if (shown) {
    put(kCursorShown);
    g_cursor_hidden = 0;
  } else {
    g_cursor_hidden = 1;
    put(kCursorHidden);
  }
}

uint8_t terminal_gui_wait(int timeout_ms) {
  if (timeout_ms < 0) timeout_ms = 0;
  if (!g_active || g_input_ended) {
    if (timeout_ms > 0) os_sleep_ms(timeout_ms);
    return kGuiWakeNone;
  }
  int64_t deadline = os_monotonic_ms() + timeout_ms;
  for (;;) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {terminal_wake_fd(), POLLIN, 0}};
    nfds_t count = fds[1].fd >= 0 ? 2 : 1;
    int ready = poll(fds, count, timeout_ms);
    if (ready < 0 && errno == EINTR) {
      timeout_ms = int(deadline - os_monotonic_ms());
      if (timeout_ms < 0) timeout_ms = 0;
      continue;
    }
    if (ready <= 0) return kGuiWakeNone;
    uint8_t woke = kGuiWakeNone;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) woke |= kGuiWakeInput;
    if (count == 2 && (fds[1].revents & POLLIN)) {
      // A SIGCONT wake-up: raw mode is on again, and the frame is drawn anew
      // as after a resize.
      if (terminal_take_wake() != TerminalWake::kNone) woke |= kGuiWakeResized;
    }
    return woke;
  }
}

size_t terminal_gui_read(KeyDecoder& decoder) {
  size_t total = 0;
  if (!g_active || g_input_ended) return 0;
  for (;;) {
    pollfd fd = {STDIN_FILENO, POLLIN, 0};
    int ready = poll(&fd, 1, 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || !(fd.revents & (POLLIN | POLLHUP | POLLERR))) return total;
    uint8_t buffer[4096];
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      g_input_ended = true;  // never polled in a loop again
      return total;
    }
    decoder.feed(buffer, size_t(n));
    total += size_t(n);
  }
}

void terminal_gui_discard() {
  KeyDecoder dropped;
  terminal_gui_read(dropped);
}

void terminal_gui_restore_for_exit() {
  if (!g_active) return;
  if (g_mouse) put(kMouseOff);
  if (g_alternate) put(kAlternateOff);
  put(kCursorShown);
}

}  // namespace kiv
