// Timing a program as a whole process, for the benchmarks that compare kiv
// with other programs: wall time, peak memory and the first line printed.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

struct Measure {
  double seconds = 0;  // wall time
  long peak_kb = 0;    // peak resident set (from /usr/bin/time -v)
  std::string output;  // what the program printed (first line)
  bool ok = false;     // it ended with status 0
};

// Runs [argv] once under /usr/bin/time -v, its output to a file in [dir].
inline Measure measure_once(const std::string& dir, const std::vector<std::string>& argv) {
  const std::string out_file = dir + "/out." + std::to_string(getpid());
  const std::string time_file = dir + "/time." + std::to_string(getpid());
  std::vector<std::string> full = {"/usr/bin/time", "-v", "-o", time_file};
  full.insert(full.end(), argv.begin(), argv.end());
  std::vector<char*> args;
  for (std::string& a : full) args.push_back(a.data());
  args.push_back(nullptr);
  std::fflush(stdout);  // the child must not write the parent's buffered text again
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    FILE* f = std::freopen(out_file.c_str(), "w", stdout);
    (void)f;
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Measure m;
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  std::ifstream out(out_file);
  std::getline(out, m.output);
  std::ifstream tf(time_file);
  std::string line;
  while (std::getline(tf, line)) {
    const char* key = "Maximum resident set size (kbytes): ";
    size_t at = line.find(key);
    if (at != std::string::npos) m.peak_kb = std::atol(line.c_str() + at + std::strlen(key));
  }
  std::remove(out_file.c_str());
  std::remove(time_file.c_str());
  return m;
}

// The best of [runs] runs of [argv].
inline Measure best_of(const std::string& dir, const std::vector<std::string>& argv, int runs) {
  Measure best;
  for (int i = 0; i < runs; i++) {
    Measure m = measure_once(dir, argv);
    if (!best.ok || (m.ok && m.seconds < best.seconds)) best = m;
  }
  return best;
}

// Keeps the better of [best] and [m].
// Writes [text] as it is into the file [name] of [dir]; returns its path.
inline std::string write_file(const std::string& dir, const char* name, const std::string& text) {
  std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

inline void keep_best(Measure* best, const Measure& m) {
  if (!best->ok || (m.ok && m.seconds < best->seconds)) *best = m;
}

}  // namespace bench
