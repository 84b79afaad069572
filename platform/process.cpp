// process_exit, the ends by signal and write_all over the POSIX calls.
#include "platform/process.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace kiv {

namespace {
void (*g_before_exit)() = nullptr;
}  // namespace

void process_set_before_exit(void (*before_exit)()) { g_before_exit = before_exit; }

void process_run_before_exit() {
  if (g_before_exit) g_before_exit();
}

void process_exit(int status) {
  process_run_before_exit();
  std::fflush(nullptr);
  _exit(status & 0xFF);
}

void process_exit_unflushed(int status) { _exit(status & 0xFF); }

void process_end_by_signal(int signo) {
  process_run_before_exit();
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signo, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signo);
  // Blocked in this thread (a handler's mask) or not, it is delivered here.
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signo);
  _exit((128 + signo) & 0xFF);
}

void process_hold_standard_fds() {
  for (int fd = 0; fd <= 2; fd++) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int held = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) {
      dup2(held, fd);
      close(held);
    }
  }
}

bool write_all(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= size_t(n);
  }
  return true;
}

}  // namespace kiv
