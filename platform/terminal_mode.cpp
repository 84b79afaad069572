// Raw mode and its signals (terminal_mode.h). The saved mode and the flag
// that says it is to be put back are read by signal handlers: they are set
// before raw mode is entered and cleared after it is left.
#include "platform/terminal_mode.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/terminal_gui.h"

namespace kiv {

namespace {

struct termios g_saved_mode;
struct termios g_raw_mode;
volatile sig_atomic_t g_raw_fd = -1;          // the terminal in raw mode, or -1
volatile sig_atomic_t g_stopped_raw_fd = -1;  // raw before a SIGTSTP: set again at SIGCONT
int g_wake_pipe[2] = {-1, -1};
bool g_installed = false;

void wake(TerminalWake why) {
  if (g_wake_pipe[1] < 0) return;
  char c = char(why);
  int saved_errno = errno;
  (void)!write(g_wake_pipe[1], &c, 1);  // a full pipe already holds a wake-up
  errno = saved_errno;
}

void on_winch(int) { wake(TerminalWake::kResized); }

void on_tstp(int) {
  int saved_errno = errno;
  int fd = g_raw_fd;
  if (fd >= 0) {
    tcsetattr(fd, TCSANOW, &g_saved_mode);
    g_stopped_raw_fd = fd;
    g_raw_fd = -1;
  }
  // Stop as the default action would, then carry on here at SIGCONT.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  struct sigaction mine {};
  sigaction(SIGTSTP, &dfl, &mine);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(SIGTSTP);
  sigaction(SIGTSTP, &mine, nullptr);
  errno = saved_errno;
}

void on_cont(int) {
  int saved_errno = errno;
  int fd = g_stopped_raw_fd;
  if (fd >= 0) {
    g_stopped_raw_fd = -1;
    if (tcsetattr(fd, TCSANOW, &g_raw_mode) == 0) g_raw_fd = fd;
    wake(TerminalWake::kContinued);
  }
  errno = saved_errno;
}

void set_handler(int signo, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signo, &action, nullptr);
}

}  // namespace

bool terminal_signals_install() {
  if (g_installed) return g_wake_pipe[0] >= 0;
  g_installed = true;
  if (pipe2(g_wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    g_wake_pipe[0] = g_wake_pipe[1] = -1;
  }
  set_handler(SIGWINCH, on_winch);
  // A shell without job control leaves SIGTSTP ignored: so it stays.
  struct sigaction previous {};
  if (sigaction(SIGTSTP, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
    set_handler(SIGTSTP, on_tstp);
  set_handler(SIGCONT, on_cont);
  return g_wake_pipe[0] >= 0;
}

bool raw_mode_on(int fd) {
  if (g_raw_fd >= 0) return true;
  struct termios mode;
  if (tcgetattr(fd, &mode) != 0) return false;
  g_saved_mode = mode;
  mode.c_lflag &= ~tcflag_t(ICANON | ECHO | ISIG | IEXTEN);
  mode.c_iflag &= ~tcflag_t(IXON | ICRNL);
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  g_raw_mode = mode;
  // The flag first: a signal between the two calls puts back a mode that is
  // still the saved one, which does no harm.
  g_raw_fd = fd;
  if (tcsetattr(fd, TCSANOW, &mode) != 0) {
    g_raw_fd = -1;
    return false;
  }
  return true;
}

void raw_mode_off() {
  int fd = g_raw_fd;
  if (fd < 0) return;
  tcsetattr(fd, TCSANOW, &g_saved_mode);
  g_raw_fd = -1;
}

bool raw_mode_active() { return g_raw_fd >= 0; }

void terminal_restore_for_exit() {
  terminal_gui_restore_for_exit();
  int fd = g_raw_fd;
  if (fd >= 0) tcsetattr(fd, TCSANOW, &g_saved_mode);
}

int terminal_wake_fd() { return g_wake_pipe[0]; }

TerminalWake terminal_take_wake() {
  if (g_wake_pipe[0] < 0) return TerminalWake::kNone;
  TerminalWake result = TerminalWake::kNone;
  char buffer[64];
  for (;;) {
    ssize_t n = read(g_wake_pipe[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; i++) {
      if (buffer[i] == char(TerminalWake::kContinued))
        result = TerminalWake::kContinued;
      else if (result == TerminalWake::kNone)
        result = TerminalWake::kResized;
    }
  }
  return result;
}

}  // namespace kiv
