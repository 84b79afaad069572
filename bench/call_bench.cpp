// call against Debian's /usr/bin/python3 subprocess, each program run as a
// whole process (start-up included), best of three:
//   true1000   1,000 `call/wait "true"` against subprocess.run(["true"]);
//   out100mb   100 MiB of a child's output collected into a binary! against
//              subprocess.run(capture_output=True).
// Prints times and ratios, and each program's empty start-up for scale. Not
// a timed test.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "whole_process.h"

namespace {

using bench::best_of;
using bench::Measure;
using bench::write_file;

void report(const char* name, const Measure& m, const Measure& base) {
  std::printf("%-32s %9.3f s %8.2f %8ld KB  %s%s\n", name, m.seconds, m.seconds / base.seconds, m.peak_kb,
              m.output.c_str(), m.ok ? "" : "  (failed)");
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/call_bench.XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string dir = tmpl;
  const int runs = 3;

  std::string kiv_empty = write_file(dir, "empty.kiv", "Kiv []\nprint 0\n");
  std::string py_empty = write_file(dir, "empty.py", "print(0)\n");
  std::string kiv_true = write_file(dir, "true.kiv",
                                    "Kiv []\n"
                                    "n: 0\n"
                                    "loop 1000 [n: n + call/wait \"true\"]\n"
                                    "print n\n");
  std::string py_true = write_file(dir, "true.py",
                                   "import subprocess\n"
                                   "n = 0\n"
                                   "for _ in range(1000):\n"
                                   "    n += subprocess.run(['true']).returncode\n"
                                   "print(n)\n");
  std::string kiv_out = write_file(dir, "out.kiv",
                                   "Kiv []\n"
                                   "out: copy #{}\n"
                                   "call/output \"head -c 104857600 /dev/zero\" out\n"
                                   "print length? out\n");
  std::string py_out =
      write_file(dir, "out.py",
                 "import subprocess\n"
                 "r = subprocess.run(['head', '-c', '104857600', '/dev/zero'], capture_output=True)\n"
                 "print(len(r.stdout))\n");

  std::printf("%-32s %11s %8s %11s  %s\n", "program", "time", "ratio", "peak", "result");
  Measure ke = best_of(dir, {KIV_EXECUTABLE, kiv_empty}, runs);
  Measure pe = best_of(dir, {"/usr/bin/python3", py_empty}, runs);
  std::printf("start-up alone (ratio to python3)\n");
  report("  kiv", ke, pe);
  report("  python3", pe, pe);

  Measure kt = best_of(dir, {KIV_EXECUTABLE, kiv_true}, runs);
  Measure pt = best_of(dir, {"/usr/bin/python3", py_true}, runs);
  std::printf("1,000 waited runs of true (ratio to python3 subprocess.run)\n");
  report("  kiv call/wait", kt, pt);
  report("  python3 subprocess.run", pt, pt);

  Measure ko = best_of(dir, {KIV_EXECUTABLE, kiv_out}, runs);
  Measure po = best_of(dir, {"/usr/bin/python3", py_out}, runs);
  std::printf("100 MiB of output captured (ratio to python3 capture_output)\n");
  report("  kiv call/output into binary!", ko, po);
  report("  python3 capture_output", po, po);

  for (const char* f : {"empty.kiv", "empty.py", "true.kiv", "true.py", "out.kiv", "out.py"})
    std::remove((dir + "/" + f).c_str());
  rmdir(dir.c_str());
  return 0;
}
