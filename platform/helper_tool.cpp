// Helper tools (helper_tool.h): posix_spawnp with pipes, one poll loop over
// the pipes that are open, then a bounded wait for the tool's end. The pipes'
// ends the tool gets are closed here right after the spawn, so that the end
// of its output shows as end of file; the ends kept here are non-blocking.
#include "platform/helper_tool.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"

extern char** environ;

namespace kiv {

namespace {

void close_fd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

int status_of(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

enum class Waited { kEnded, kGone, kStillRunning };

// Waits up to [ms] for [pid] to end, polling with short pauses (a child is
// not a descriptor poll can watch); its raw status goes to *[raw].
Waited wait_for(pid_t pid, int ms, int* raw) {
  const int64_t deadline = os_monotonic_ms() + ms;
  for (long pause_us = 100;; pause_us = std::min(pause_us * 2, 10000L)) {
    pid_t r = waitpid(pid, raw, WNOHANG);
    if (r == pid) return Waited::kEnded;
    if (r < 0 && errno != EINTR) return Waited::kGone;
    if (os_monotonic_ms() >= deadline) return Waited::kStillRunning;
    timespec pause{0, pause_us * 1000};
    nanosleep(&pause, nullptr);
  }
}

// Kills the tool's process group (what it started goes too) and reaps the
// tool. The group still exists: its leader is not reaped before this.
void kill_and_reap(pid_t pid) {
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  int raw = 0;
  while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
  }
}

// The descriptor setup of the child: the pipe end [fd] as [target], or
// /dev/null opened with [flags] when there is none.
void child_stream(posix_spawn_file_actions_t* actions, int fd, int target, int flags) {
  if (fd >= 0)
    posix_spawn_file_actions_adddup2(actions, fd, target);
  else
    posix_spawn_file_actions_addopen(actions, target, "/dev/null", flags, 0);
}

// Starts the tool; the pid, or -1.
pid_t spawn_tool(const std::vector<std::string>& argv, int in, int out, int err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  child_stream(&actions, in, 0, O_RDONLY);
  child_stream(&actions, out, 1, O_WRONLY);
  child_stream(&actions, err, 2, O_WRONLY);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults, mask;
  sigfillset(&defaults);
  sigdelset(&defaults, SIGKILL);
  sigdelset(&defaults, SIGSTOP);
  sigemptyset(&mask);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &mask);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int spawned = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

}  // namespace

ToolResult tool_run(const ToolRequest& request) {
  ToolResult result;
  if (request.argv.empty()) return result;
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  auto close_all = [&] {
    for (int* fd : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1]}) close_fd(fd);
  };
  if ((request.input && pipe2(in, O_CLOEXEC) != 0) ||
      (request.capture_output && pipe2(out, O_CLOEXEC) != 0) ||
      (request.capture_errors && pipe2(err, O_CLOEXEC) != 0)) {
    close_all();
    return result;
  }
  const pid_t pid = spawn_tool(request.argv, in[0], out[1], err[1]);
  close_fd(&in[0]);
  close_fd(&out[1]);
  close_fd(&err[1]);
  if (pid < 0) {
    close_all();
    return result;
  }
  for (int fd : {in[1], out[0], err[0]})
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

  const char* data = request.input ? request.input->data() : nullptr;
  const size_t size = request.input ? request.input->size() : 0;
  size_t written = 0;
  if (size == 0) close_fd(&in[1]);
  std::string* into[3] = {nullptr, &result.output, &result.errors};
  // SIGPIPE is held back on this thread while the input is written, so that a
  // tool that stops reading gives EPIPE whatever the process does with it.
  sigset_t pipe_signal, mask;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &mask);
  bool broken_pipe = false;
  char buffer[65536];
  int64_t last = os_monotonic_ms();
  bool failed = false, timed_out = false;
  while (in[1] >= 0 || out[0] >= 0 || err[0] >= 0) {
    const int64_t left = last + request.silence_ms - os_monotonic_ms();
    if (left <= 0) {
      timed_out = true;
      break;
    }
    pollfd fds[3] = {{in[1], POLLOUT, 0}, {out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int n = poll(fds, 3, int(left));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      failed = true;
      break;
    }
    if (fds[0].revents) {
      ssize_t w = write(in[1], data + written, std::min<size_t>(size - written, sizeof buffer));
      if (w > 0) {
        written += size_t(w);
        last = os_monotonic_ms();
        if (written == size) close_fd(&in[1]);
      } else if (!(w < 0 && (errno == EAGAIN || errno == EINTR))) {
        // EPIPE: the tool stopped reading; what it did with the rest shows in its status.
        broken_pipe |= errno == EPIPE;
        close_fd(&in[1]);
      }
    }
    for (int k = 1; k < 3; k++) {
      int* fd = k == 1 ? &out[0] : &err[0];
      if (!fds[k].revents) continue;
      ssize_t r = read(*fd, buffer, sizeof buffer);
      if (r > 0) {
        into[k]->append(buffer, size_t(r));
        last = os_monotonic_ms();
      } else if (r == 0) {
        close_fd(fd);
      } else if (errno != EAGAIN && errno != EINTR) {
        close_fd(fd);
        failed = true;
      }
    }
  }
  close_all();
  if (broken_pipe && !sigismember(&mask, SIGPIPE)) {
    const timespec now{0, 0};
    sigtimedwait(&pipe_signal, nullptr, &now);
  }
  pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  if (timed_out || failed) {
    kill_and_reap(pid);
    result.end = timed_out ? ToolEnd::kTimedOut : ToolEnd::kFailed;
    return result;
  }
  int raw = 0;
  switch (wait_for(pid, request.silence_ms, &raw)) {
    case Waited::kEnded:
      result.end = ToolEnd::kExited;
      result.status = status_of(raw);
      break;
    case Waited::kGone: result.end = ToolEnd::kFailed; break;
    case Waited::kStillRunning:
      kill_and_reap(pid);
      result.end = ToolEnd::kTimedOut;
      break;
  }
  return result;
}

bool tool_on_path_q(const char* name) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  for (const char* p = path;; p++) {
    const char* end = std::strchr(p, ':');
    if (!end) end = p + std::strlen(p);
    std::string file = end == p ? std::string("./") : std::string(p, size_t(end - p)) + '/';
    file.append(name);
    if (access(file.c_str(), X_OK) == 0) return true;
    if (!*end) return false;
    p = end;
  }
}

}  // namespace kiv
