// The tests' HTTP server (tests/http/server.py), started on a free port of
// 127.0.0.1 for as long as the object lives and stopped by its pid.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace kiv::test {

// The test server, running while the object lives.
class HttpTestServer {
 public:
  explicit HttpTestServer(std::vector<std::string> extra = {}) {
    int out[2];
    if (pipe(out) != 0) return;
    std::vector<std::string> args = {"python3", std::string(KIV_SOURCE_DIR) + "/tests/http/server.py"};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execvp("python3", argv.data());
      _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    port_ = line;
  }
  ~HttpTestServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;
  const std::string& port() const { return port_; }

 private:
  pid_t pid_ = -1;
  std::string port_;
};

}  // namespace kiv::test
