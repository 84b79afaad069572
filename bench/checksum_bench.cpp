// checksum of a 100 MiB file, each program run as a whole process (start-up
// and reading the file included), best of three:
//   md5, sha1, sha256, sha512  `checksum %f 'method` against `openssl dgst`;
//   crc32, adler32             against python3's zlib.crc32 / zlib.adler32
//                              of the file's bytes.
// Prints times, ratios and each program's result. Not a timed test.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "whole_process.h"

namespace {

using bench::best_of;
using bench::Measure;

std::string write_file(const std::string& dir, const std::string& name, const std::string& text) {
  std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

void report(const std::string& name, const Measure& m, const Measure& base) {
  std::printf("%-32s %9.3f s %8.2f %8ld KB  %.40s%s\n", name.c_str(), m.seconds, m.seconds / base.seconds,
              m.peak_kb, m.output.c_str(), m.ok ? "" : "  (failed)");
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/checksum_bench.XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string dir = tmpl;
  const int runs = 3;

  std::string data(size_t(100) << 20, '\0');
  uint32_t x = 1;
  for (char& c : data) {
    x = x * 1103515245u + 12345u;
    c = char(x >> 23);
  }
  std::string file = write_file(dir, "data.bin", data);
  data.clear();
  data.shrink_to_fit();

  std::printf("%-32s %11s %8s %11s  %s\n", "program", "time", "ratio", "peak", "result");
  for (const char* m : {"md5", "sha1", "sha256", "sha512"}) {
    std::string script =
        write_file(dir, std::string(m) + ".kiv",
                   std::string("Kiv []\nprint lowercase enbase/base checksum %data.bin '") + m + " 16\n");
    Measure k = best_of(dir, {KIV_EXECUTABLE, script}, runs);
    Measure o = best_of(dir, {"/usr/bin/openssl", "dgst", std::string("-") + m, "-r", file}, runs);
    std::printf("%s of 100 MiB (ratio to openssl dgst)\n", m);
    report(std::string("  kiv checksum '") + m, k, o);
    report("  openssl dgst", o, o);
  }
  for (const char* m : {"crc32", "adler32"}) {
    std::string script = write_file(dir, std::string(m) + ".kiv",
                                    std::string("Kiv []\nprint checksum %data.bin '") + m + "\n");
    std::string py = write_file(dir, std::string(m) + ".py",
                                std::string("import zlib\nv = zlib.") + m + "(open('" + file +
                                    "', 'rb').read())\nprint(v - (1 << 32) if v >= 1 << 31 else v)\n");
    Measure k = best_of(dir, {KIV_EXECUTABLE, script}, runs);
    Measure p = best_of(dir, {"/usr/bin/python3", py}, runs);
    std::printf("%s of 100 MiB (ratio to python3 zlib)\n", m);
    report(std::string("  kiv checksum '") + m, k, p);
    report(std::string("  python3 zlib.") + m, p, p);
  }
  std::remove(file.c_str());
  for (const char* m : {"md5", "sha1", "sha256", "sha512", "crc32", "adler32"}) {
    std::remove((dir + "/" + m + ".kiv").c_str());
    std::remove((dir + "/" + m + ".py").c_str());
  }
  rmdir(dir.c_str());
  return 0;
}
