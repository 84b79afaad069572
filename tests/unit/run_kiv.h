// Running the kiv executable as a child process, for the tests that check
// what a whole run prints and how it ends.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace kiv::test {

struct KivRun {
  int status = -1;     // the exit status, or 128 + the signal that ended it
  std::string output;  // standard output
  std::string errors;  // standard error
};

// Where the child's standard output goes.
enum class KivOutput {
  kPipe,        // a pipe the parent reads (KivRun::output)
  kDevFull,     // /dev/full: every write fails with ENOSPC
  kClosed,      // no descriptor 1 at all
  kBrokenPipe,  // a pipe whose reading end is already closed: EPIPE
};

struct KivRunOptions {
  std::string dir;               // the directory to run in; the current one when empty
  std::vector<std::string> env;  // "NAME=value" to set, "NAME" to remove
  KivOutput output = KivOutput::kPipe;
  bool broken_errors = false;  // standard error a pipe whose reading end is closed (KivRun::errors empty)
  int signal = 0;              // sent to the child once its standard output shows [signal_after]
  std::string signal_after;
  std::string program;          // the program to run in place of kiv (kiv-bootgen), when not empty
  std::string input;            // the file standard input reads; /dev/null when empty
  bool has_input_text = false;  // standard input a pipe that gives [input_text], then its end
  std::string input_text;
};

// Whether [env] sets or removes HOME or APPDATA.
inline bool names_settings_dir(const std::vector<std::string>& env) {
  for (const std::string& e : env) {
    std::string name = e.substr(0, e.find('='));
    if (name == "HOME" || name == "APPDATA") return true;
  }
  return false;
}

// Reads [out_fd] (may be -1) and [err_fd] to their ends into [*out] and
// [*err], both at once, so that a child filling one pipe never waits on the
// other. [on_output] runs after each piece of standard output.
template <class OnOutput>
void read_both(int out_fd, int err_fd, std::string* out, std::string* err, OnOutput on_output) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* into[2] = {out, err};
  int open_count = (out_fd >= 0) + (err_fd >= 0);
  char buffer[65536];
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        into[i]->append(buffer, size_t(n));
        if (i == 0) on_output();
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        open_count--;
      }
    }
  }
}

// Runs kiv with [args] as [options] say; standard input is /dev/null unless
// [options] give it (a file or a pipe's text). Unless [options] name HOME or
// APPDATA, the child's HOME is a fresh directory, removed afterwards, and
// APPDATA is unset: a run never writes settings into the home of whoever
// runs the tests.
inline KivRun run_kiv_with(const std::vector<std::string>& args, const KivRunOptions& options) {
  KivRun run;
  std::string home;
  if (!names_settings_dir(options.env)) {
    char pattern[] = "/tmp/kiv-home-XXXXXX";
    if (!mkdtemp(pattern)) return run;
    home = pattern;
  }
  int in[2] = {-1, -1};
  if (options.has_input_text && pipe(in) != 0) return run;
  int out[2], err[2];
  if (pipe(out) != 0) return run;
  if (pipe(err) != 0) return run;
  if (options.output == KivOutput::kBrokenPipe) {
    close(out[0]);
    out[0] = -1;
  }
  if (options.broken_errors) {
    close(err[0]);
    err[0] = -1;
  }
  pid_t pid = fork();
  if (pid == 0) {
    if (options.has_input_text) {
      dup2(in[0], 0);
      close(in[0]);
      close(in[1]);
    } else {
      dup2(open(options.input.empty() ? "/dev/null" : options.input.c_str(), O_RDONLY), 0);
    }
    switch (options.output) {
      case KivOutput::kPipe:
      case KivOutput::kBrokenPipe: dup2(out[1], 1); break;
      case KivOutput::kDevFull: dup2(open("/dev/full", O_WRONLY), 1); break;
      case KivOutput::kClosed: close(1); break;
    }
    dup2(err[1], 2);
    if (out[0] >= 0) close(out[0]);
    close(out[1]);
    if (err[0] >= 0) close(err[0]);
    close(err[1]);
    // The signals a test sends act as they would from a shell with job control.
    for (int signo : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE}) signal(signo, SIG_DFL);
    if (!options.dir.empty() && chdir(options.dir.c_str()) != 0) _exit(126);
    for (const std::string& e : options.env) {
      size_t eq = e.find('=');
      if (eq == std::string::npos)
        unsetenv(e.c_str());
      else
        setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
    }
    if (!home.empty()) {
      setenv("HOME", home.c_str(), 1);
      unsetenv("APPDATA");
    }
    const char* program = options.program.empty() ? KIV_EXECUTABLE : options.program.c_str();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program, argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  if (options.has_input_text) {
    // The child reads while it writes: the input goes in first (a pipe's
    // buffer takes the tests' small inputs whole), then its end.
    close(in[0]);
    signal(SIGPIPE, SIG_IGN);
    for (size_t done = 0; done < options.input_text.size();) {
      ssize_t n = write(in[1], options.input_text.data() + done, options.input_text.size() - done);
      if (n <= 0) break;
      done += size_t(n);
    }
    close(in[1]);
  }
  bool signalled = false;
  read_both(out[0], err[0], &run.output, &run.errors, [&] {
    if (options.signal && !signalled && run.output.find(options.signal_after) != std::string::npos) {
      kill(pid, options.signal);
      signalled = true;
    }
  });
  if (out[0] >= 0) close(out[0]);
  if (err[0] >= 0) close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (!home.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
  }
  return run;
}

// Runs kiv with [args] in the directory [dir] (the current one when empty);
// standard input is /dev/null, standard output and error are read. [env]
// holds "NAME=value" to set and "NAME" to remove in the child's environment.
inline KivRun run_kiv(const std::vector<std::string>& args, const std::string& dir = "",
                      const std::vector<std::string>& env = {}) {
  KivRunOptions options;
  options.dir = dir;
  options.env = env;
  return run_kiv_with(args, options);
}

}  // namespace kiv::test
