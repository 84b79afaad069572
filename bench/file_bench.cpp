// Reading and writing files, each program run as a whole process (the kiv
// executable on a script, start-up included), best of five:
//   copy256   read/binary then write/binary of a 256 MiB file, against
//             `cat a > b` through /bin/sh and Debian's /usr/bin/python3
//             reading and writing the bytes whole;
//   text100   read and read/lines of 100 MiB of UTF-8 text (lines of about
//             60 characters, one in eight with characters beyond ASCII)
//             against python3's read() and read().splitlines().
// Prints times and ratios. Not a timed test.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "whole_process.h"

namespace {

using bench::best_of;
using bench::Measure;
using bench::write_file;

void report(const char* name, const Measure& m, const Measure& base) {
  std::printf("%-28s %9.3f s %8.2f %8ld MB  %s%s\n", name, m.seconds, m.seconds / base.seconds,
              m.peak_kb / 1024, m.output.c_str(), m.ok ? "" : "  (failed)");
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/file_bench.XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string dir = tmpl;
  const int runs = 5;

  // 256 MiB of pseudo-random bytes.
  std::string bytes(256u << 20, '\0');
  uint64_t seed = 88172645463325252ull;
  for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    for (int b = 0; b < 8; b++) bytes[i + b] = char(seed >> (8 * b));
  }
  const std::string in = write_file(dir, "in.bin", bytes);
  bytes.clear();
  bytes.shrink_to_fit();
  const std::string out = dir + "/out.bin";

  const std::string kiv_copy = write_file(dir, "copy.kiv",
                                          "Kiv []\n"
                                          "data: read/binary %" +
                                              in + "\nwrite/binary %" + out +
                                              " data\n"
                                              "print length? data\n");
  const std::string py_copy = write_file(dir, "copy.py",
                                         "data = open('" + in +
                                             "', 'rb').read()\n"
                                             "open('" +
                                             out +
                                             "', 'wb').write(data)\n"
                                             "print(len(data))\n");
  const std::string sh_copy = "cat '" + in + "' > '" + out + "' && wc -c < '" + out + "'";

  std::printf("%-28s %11s %8s %11s  %s\n", "program", "time", "ratio", "peak", "result");
  Measure kc = best_of(dir, {KIV_EXECUTABLE, kiv_copy}, runs);
  Measure cc = best_of(dir, {"/bin/sh", "-c", sh_copy}, runs);
  Measure pc = best_of(dir, {"/usr/bin/python3", py_copy}, runs);
  std::printf("copy 256 MiB, read/binary + write/binary (ratio to cat a > b; goal 1.5, python 1.0)\n");
  report("  kiv", kc, cc);
  report("  cat a > b", cc, cc);
  report("  python3", pc, cc);
  std::printf("  kiv / python3 %.2f\n", kc.seconds / pc.seconds);
  std::remove(in.c_str());
  std::remove(out.c_str());

  // 100 MiB of UTF-8 text in lines.
  std::string text;
  text.reserve((100u << 20) + 128);
  unsigned s = 12345;
  for (int line = 0; text.size() < (100u << 20); line++) {
    for (int w = 0; w < 10; w++) {
      s = s * 1103515245u + 12345u;
      const int width = 2 + int((s >> 16) % 8);
      for (int c = 0; c < width; c++) text += char('a' + (s >> (c % 16)) % 26);
      text += ' ';
    }
    if (line % 8 == 0) text += "\xC3\xA9t\xC3\xA9 \xE2\x9C\x93";
    text += '\n';
  }
  const std::string txt = write_file(dir, "text.txt", text);
  text.clear();
  text.shrink_to_fit();
  const std::string kiv_read = write_file(dir, "read.kiv", "Kiv []\nprint length? read %" + txt + "\n");
  const std::string kiv_lines =
      write_file(dir, "lines.kiv", "Kiv []\nprint length? read/lines %" + txt + "\n");
  const std::string py_read =
      write_file(dir, "read.py", "print(len(open('" + txt + "', encoding='utf-8').read()))\n");
  const std::string py_lines =
      write_file(dir, "lines.py", "print(len(open('" + txt + "', encoding='utf-8').read().splitlines()))\n");
  Measure kr = best_of(dir, {KIV_EXECUTABLE, kiv_read}, runs);
  Measure pr = best_of(dir, {"/usr/bin/python3", py_read}, runs);
  Measure kl = best_of(dir, {KIV_EXECUTABLE, kiv_lines}, runs);
  Measure pl = best_of(dir, {"/usr/bin/python3", py_lines}, runs);
  std::printf("read 100 MiB of UTF-8 text (ratio to python3; goal 1.5)\n");
  report("  kiv read", kr, pr);
  report("  python3 read()", pr, pr);
  report("  kiv read/lines", kl, pl);
  report("  python3 splitlines()", pl, pl);

  for (const char* f : {"copy.kiv", "copy.py", "text.txt", "read.kiv", "lines.kiv", "read.py", "lines.py"})
    std::remove((dir + "/" + f).c_str());
  rmdir(dir.c_str());
  return 0;
}
