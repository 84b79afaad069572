// Running other programs (child_process.h).
#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <utility>

extern char** environ;

namespace kiv {

namespace {

// A descriptor closed when it goes out of scope.
class Fd {
 public:
  Fd() = default;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  int get() const { return fd_; }
  bool open_q() const { return fd_ >= 0; }
  void set(int fd) {
    reset();
    fd_ = fd;
  }
  void reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// The spawn attributes and file actions of one start, destroyed with it.
class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawnattr_init(&attr_);
    posix_spawn_file_actions_init(&actions_);
    // Every signal at its default action and none blocked: this process
    // ignores SIGPIPE and may block others on its interpreter thread.
    sigset_t defaults;
    sigfillset(&defaults);
    sigdelset(&defaults, SIGKILL);
    sigdelset(&defaults, SIGSTOP);
    posix_spawnattr_setsigdefault(&attr_, &defaults);
    sigset_t mask;
    sigemptyset(&mask);
    posix_spawnattr_setsigmask(&attr_, &mask);
    posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }

  // Child descriptor [target] becomes a copy of [fd] / /dev/null / stays as it is.
  void dup_to(int fd, int target) { posix_spawn_file_actions_adddup2(&actions_, fd, target); }
  void null_to(int target) {
    posix_spawn_file_actions_addopen(&actions_, target, "/dev/null", target == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  // Closes every descriptor from 3 up in the child.
  void close_the_rest() { posix_spawn_file_actions_addclosefrom_np(&actions_, 3); }

  // Starts [argv]; 0 and *[pid], or the errno.
  int spawn(const std::vector<std::string>& argv, bool search_path, pid_t* pid) {
    if (argv.empty()) return ENOENT;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return search_path ? posix_spawnp(pid, args[0], &actions_, &attr_, args.data(), environ)
                       : posix_spawn(pid, args[0], &actions_, &attr_, args.data(), environ);
  }

 private:
  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
};

std::vector<pid_t> g_unwaited;

// Waits for [pid]: its exit status, or 128 + the signal that ended it.
int32_t wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Makes a pipe; the end this process keeps in *[ours], the child's in *[theirs].
bool make_pipe(bool child_reads, Fd* ours, Fd* theirs) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  ours->set(child_reads ? fds[1] : fds[0]);
  theirs->set(child_reads ? fds[0] : fds[1]);
  return true;
}

// Reads what is there on [fd] into [into]; false at the end of the stream.
bool read_some(int fd, ChildBytes* into) {
  static uint8_t dropped[65536];
  for (;;) {
    ssize_t n;
    if (!into->cut() && into->reserve_more(65536)) {
      n = read(fd, into->free_space(), into->free_room());
      if (n > 0) into->grew(size_t(n));
    } else {
      into->mark_cut();
      n = read(fd, dropped, sizeof dropped);
    }
    if (n > 0) return true;
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && errno == EAGAIN;
  }
}

// Serves the pipes until every one has closed: writes [input] to [in] while
// the child takes it, and reads [out] and [err] into their buffers. A child
// that stops reading its input (EPIPE, or its end closed) ends only the input.
void serve_pipes(Fd* in, std::string_view input, Fd* out, ChildBytes* out_bytes, Fd* err,
                 ChildBytes* err_bytes) {
  size_t written = 0;
  if (in->open_q()) {
    if (input.empty())
      in->reset();
    else
      fcntl(in->get(), F_SETFL, fcntl(in->get(), F_GETFL) | O_NONBLOCK);
  }
  Fd* fds[3] = {in, out, err};
  ChildBytes* into[3] = {nullptr, out_bytes, err_bytes};
  for (;;) {
    pollfd polled[3];
    int which[3];
    int count = 0;
    for (int i = 0; i < 3; i++) {
      if (!fds[i]->open_q()) continue;
      polled[count] = {fds[i]->get(), short(i == 0 ? POLLOUT : POLLIN), 0};
      which[count++] = i;
    }
    if (count == 0) return;
    if (poll(polled, nfds_t(count), -1) < 0) {
      if (errno == EINTR) continue;
      for (Fd* fd : fds) fd->reset();
      return;
    }
    for (int k = 0; k < count; k++) {
      short revents = polled[k].revents;
      if (!revents) continue;
      int i = which[k];
      if (i == 0) {
        ssize_t n =
            write(in->get(), input.data() + written, std::min<size_t>(input.size() - written, 1 << 20));
        if (n > 0) {
          written += size_t(n);
          if (written == input.size()) in->reset();
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
          in->reset();  // EPIPE: the child closed its input
        }
      } else if (!read_some(fds[i]->get(), into[i])) {
        fds[i]->reset();
      }
    }
  }
}

}  // namespace

// ---------------------------------------------------------------- captured bytes

ChildBytes::ChildBytes(ChildBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      cut_(std::exchange(other.cut_, false)) {}

ChildBytes& ChildBytes::operator=(ChildBytes&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    cut_ = std::exchange(other.cut_, false);
  }
  return *this;
}

ChildBytes::~ChildBytes() { std::free(data_); }

bool ChildBytes::reserve_more(size_t room) {
  if (capacity_ - size_ >= room) return true;
  if (size_ >= kChildCaptureMax) return false;
  size_t wanted = std::min(std::max({capacity_ * 2, size_ + room, size_t(1) << 16}), kChildCaptureMax);
  auto* grown = static_cast<uint8_t*>(std::realloc(data_, wanted));
  if (!grown) return false;
  data_ = grown;
  capacity_ = wanted;
  return true;
}

// ---------------------------------------------------------------- starting and waiting

ChildResult child_run(const ChildRequest& request) {
  child_reap();
  ChildResult result;
  SpawnSetup setup;
  Fd in_ours, in_child, out_ours, out_child, err_ours, err_child;

  switch (request.in) {
    case ChildStream::kNull: setup.null_to(0); break;
    case ChildStream::kInherit: break;
    case ChildStream::kPipe:
      if (!make_pipe(true, &in_ours, &in_child)) return result;
      setup.dup_to(in_child.get(), 0);
      break;
    case ChildStream::kFile:
      in_child.set(open(request.in_path.c_str(), O_RDONLY | O_CLOEXEC));
      if (!in_child.open_q()) return result;
      setup.dup_to(in_child.get(), 0);
      break;
  }
  auto output = [&](ChildStream how, const std::string& path, int target, Fd* ours, Fd* theirs) {
    switch (how) {
      case ChildStream::kNull: setup.null_to(target); return true;
      case ChildStream::kInherit: return true;
      case ChildStream::kPipe:
        if (!make_pipe(false, ours, theirs)) return false;
        fcntl(ours->get(), F_SETPIPE_SZ, 1 << 20);  // fewer wake-ups for a child that writes much
        break;
      case ChildStream::kFile:
        theirs->set(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
        if (!theirs->open_q()) return false;
        break;
    }
    setup.dup_to(theirs->get(), target);
    return true;
  };
  if (!output(request.out, request.out_path, 1, &out_ours, &out_child)) return result;
  if (!output(request.err, request.err_path, 2, &err_ours, &err_child)) return result;
  setup.close_the_rest();

  pid_t pid = 0;
  int failed = setup.spawn(request.argv, request.search_path, &pid);
  if (failed == ENOENT && !request.shell_fallback.empty()) {
    failed = setup.spawn({"/bin/sh", "-c", request.shell_fallback}, false, &pid);
    result.used_shell = true;
  }
  in_child.reset();
  out_child.reset();
  err_child.reset();
  if (failed != 0) return result;
  result.started = true;

  auto redirected = [](ChildStream s) { return s == ChildStream::kPipe || s == ChildStream::kFile; };
  bool wait = request.wait || redirected(request.in) || redirected(request.out) || redirected(request.err);
  serve_pipes(&in_ours, request.in_bytes, &out_ours, &result.out, &err_ours, &result.err);
  if (wait) {
    result.status = wait_for(pid);
  } else {
    g_unwaited.push_back(pid);
    result.status = int32_t(pid);
  }
  return result;
}

int child_start(const std::vector<std::string>& argv) {
  child_reap();
  SpawnSetup setup;
  for (int fd = 0; fd < 3; fd++) setup.null_to(fd);
  setup.close_the_rest();
  pid_t pid = 0;
  int failed = setup.spawn(argv, true, &pid);
  if (failed == 0) g_unwaited.push_back(pid);
  return failed;
}

void child_reap() {
  std::erase_if(g_unwaited, [](pid_t pid) {
    int status;
    pid_t done = waitpid(pid, &status, WNOHANG);
    return done == pid || (done < 0 && errno == ECHILD);
  });
}

size_t child_unreaped_count() { return g_unwaited.size(); }

}  // namespace kiv
