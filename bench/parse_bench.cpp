// PARSE on two workloads, each program run as a whole process (the kiv
// executable on a script, start-up included), best of three:
//   csv20mb   a 20 MB comma-separated text split into fields by a PARSE
//             grammar, against Debian's /usr/bin/python3 splitting the same
//             file with re.split and with str.split;
//   block1m   a block-rule grammar over 1,000,000 values against a
//             hand-written Kiv loop doing the same count, with the cost of
//             building the block alone as a baseline.
// Prints times and ratios. Not a timed test.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "whole_process.h"

namespace {

using bench::best_of;
using bench::Measure;
using bench::write_file;

void report(const char* name, const Measure& m, const Measure& base) {
  std::printf("%-28s %9.3f s %8.2f  %s%s\n", name, m.seconds, m.seconds / base.seconds, m.output.c_str(),
              m.ok ? "" : "  (failed)");
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/parse_bench.XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string dir = tmpl;
  const int runs = 3;

  // A CSV-like text of 20 MB: lines of eight fields of varying width.
  std::string csv;
  csv.reserve(21u << 20);
  unsigned seed = 12345;
  while (csv.size() < (20u << 20)) {
    for (int f = 0; f < 8; f++) {
      seed = seed * 1103515245u + 12345u;
      int width = 1 + int((seed >> 16) % 12);
      for (int c = 0; c < width; c++) csv += char('a' + (seed >> (c % 16)) % 26);
      csv += f == 7 ? '\n' : ',';
    }
  }
  std::string data = write_file(dir, "data.csv", csv);

  std::string kiv_csv = write_file(dir, "csv.kiv",
                                   "Kiv []\n"
                                   "text: read %" +
                                       data +
                                       "\n"
                                       "delim: charset \",^/\"\n"
                                       "field: complement delim\n"
                                       "n: 0\n"
                                       "parse text [any [copy f any field delim (n: n + 1)]]\n"
                                       "print n\n");
  std::string py_re = write_file(dir, "csv_re.py",
                                 "import re\n"
                                 "text = open('" +
                                     data +
                                     "').read()\n"
                                     "fields = re.split(r'[,\\n]', text)\n"
                                     "print(len(fields) - 1)\n");
  std::string py_split = write_file(dir, "csv_split.py",
                                    "text = open('" + data +
                                        "').read()\n"
                                        "n = 0\n"
                                        "for line in text.split('\\n')[:-1]:\n"
                                        "    n += len(line.split(','))\n"
                                        "print(n)\n");

  std::printf("%-28s %11s %8s  %s\n", "program", "time", "ratio", "result");
  Measure k = best_of(dir, {KIV_EXECUTABLE, kiv_csv}, runs);
  Measure pre = best_of(dir, {"/usr/bin/python3", py_re}, runs);
  Measure psp = best_of(dir, {"/usr/bin/python3", py_split}, runs);
  std::printf("csv 20 MB into fields (ratio to python re.split)\n");
  report("  kiv parse", k, pre);
  report("  python3 re.split", pre, pre);
  report("  python3 str.split", psp, pre);

  // One million values: integers and words in turn.
  const char* build =
      "Kiv []\n"
      "data: make block! 1000000\n"
      "repeat i 500000 [append data i append data 'w]\n";
  std::string kiv_base = write_file(dir, "base.kiv", std::string(build) + "print length? data\n");
  std::string kiv_parse = write_file(dir, "rules.kiv",
                                     std::string(build) +
                                         "n: 0\n"
                                         "parse data [some [integer! (n: n + 1) | word!]]\n"
                                         "print n\n");
  std::string kiv_loop =
      write_file(dir, "loop.kiv",
                 std::string(build) +
                     "n: 0\n"
                     "foreach v data [either integer? v [n: n + 1] [if not word? v [break]]]\n"
                     "print n\n");
  Measure base = best_of(dir, {KIV_EXECUTABLE, kiv_base}, runs);
  Measure rules = best_of(dir, {KIV_EXECUTABLE, kiv_parse}, runs);
  Measure loop = best_of(dir, {KIV_EXECUTABLE, kiv_loop}, runs);
  std::printf("block of 1M values (ratio to the Kiv loop; times include building the block)\n");
  report("  building the block alone", base, loop);
  report("  kiv parse block rules", rules, loop);
  report("  kiv foreach loop", loop, loop);
  std::printf("  net of building: parse %.3f s, loop %.3f s, parse/loop %.2f\n", rules.seconds - base.seconds,
              loop.seconds - base.seconds, (rules.seconds - base.seconds) / (loop.seconds - base.seconds));

  for (const char* f :
       {"data.csv", "csv.kiv", "csv_re.py", "csv_split.py", "base.kiv", "rules.kiv", "loop.kiv"})
    std::remove((dir + "/" + f).c_str());
  rmdir(dir.c_str());
  return 0;
}
