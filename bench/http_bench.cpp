// read/binary of a 200 MiB body from the local test server
// (tests/http/server.py on 127.0.0.1) against `curl -s -o /dev/null` of the
// same URL, each as a whole process (start-up included), best of three. The
// server is the same process for both. Prints times and the ratio. Not a
// timed test.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "whole_process.h"

namespace {

using bench::best_of;
using bench::Measure;

void report(const char* name, const Measure& m, const Measure& base) {
  std::printf("%-32s %9.3f s %8.2f %8ld KB  %s%s\n", name, m.seconds, m.seconds / base.seconds, m.peak_kb,
              m.output.c_str(), m.ok ? "" : "  (failed)");
}

// Starts the test server; its port in *[port], its pid returned.
pid_t start_server(std::string* port) {
  int out[2];
  if (pipe(out) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    std::string script = std::string(KIV_SOURCE_DIR) + "/tests/http/server.py";
    execlp("python3", "python3", script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') *port += c;
  close(out[0]);
  return pid;
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/http_bench.XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string dir = tmpl;
  std::string port;
  const pid_t server = start_server(&port);
  if (server <= 0 || port.empty()) return 1;
  const std::string url = "http://127.0.0.1:" + port + "/big?n=209715200";
  const std::string script = dir + "/read.kiv";
  std::ofstream(script) << "Kiv []\nprint length? read/binary " << url << "\n";

  Measure kiv, curl;
  for (int i = 0; i < 3; i++) {
    bench::keep_best(&kiv, bench::measure_once(dir, {KIV_EXECUTABLE, script}));
    bench::keep_best(&curl, bench::measure_once(dir, {"/usr/bin/curl", "-s", "-o", "/dev/null", url}));
  }
  std::printf("%-32s %11s %8s %11s  %s\n", "program", "time", "ratio", "peak", "result");
  std::printf("200 MiB body from 127.0.0.1 (ratio to curl -o /dev/null)\n");
  report("  kiv read/binary", kiv, curl);
  report("  curl -s -o /dev/null", curl, curl);

  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  std::remove(script.c_str());
  rmdir(dir.c_str());
  return 0;
}
