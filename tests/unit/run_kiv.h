// Running the kiv executable as a child process, for the tests that check
// what a whole run prints and how it ends.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace kiv::test {

struct KivRun {
  int status = -1;     // the exit status, or 128 + the signal that ended it
  std::string output;  // standard output
  std::string errors;  // standard error
};

// Reads [fd] to its end into [*out].
inline void read_all(int fd, std::string* out) {
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      out->append(buffer, size_t(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
}

// Runs kiv with [args] in the directory [dir] (the current one when empty);
// standard input is /dev/null. [env] holds "NAME=value" to set and "NAME" to
// remove in the child's environment.
inline KivRun run_kiv(const std::vector<std::string>& args, const std::string& dir = "",
                      const std::vector<std::string>& env = {}) {
  KivRun run;
  int out[2], err[2];
  if (pipe(out) != 0) return run;
  if (pipe(err) != 0) return run;
  pid_t pid = fork();
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
    for (const std::string& e : env) {
      size_t eq = e.find('=');
      if (eq == std::string::npos)
        unsetenv(e.c_str());
      else
        setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(KIV_EXECUTABLE));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(KIV_EXECUTABLE, argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  // Standard error is small (a child writes reports to standard output), so
  // reading it after standard output cannot dead-lock on a full pipe.
  read_all(out[0], &run.output);
  read_all(err[0], &run.errors);
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

}  // namespace kiv::test
