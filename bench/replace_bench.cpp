// replace/all with 200,000 matches in a text of 1,000,000 characters, in each
// of its ways of finding them: find on a string and on a binary, PARSE with a
// bitset and with a block rule, /deep over a block of 200,000 words in
// sub-blocks, and a string owned by an object that watches its changes. The
// kiv script times each replace by itself (the text made and copied outside
// the timing); a plain std::string pass building the same result is the
// baseline. Best of three runs; prints times and ratios. Not a timed test.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "whole_process.h"

namespace {

constexpr int kMatches = 200000;

// The same work in C++: every "X" of the text becomes "YZ", in a new string.
double cxx_seconds(const std::string& text) {
  double best = 1e9;
  for (int run = 0; run < 3; run++) {
    auto start = std::chrono::steady_clock::now();
    std::string out;
    out.reserve(text.size() + kMatches);
    for (char c : text) {
      if (c == 'X')
        out += "YZ";
      else
        out += c;
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (out.size() != text.size() + kMatches) return -1;
    best = std::min(best, s);
  }
  return best;
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/replace_bench.XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string dir = tmpl;
  const std::string script = dir + "/replace.kiv";
  // Each case prints the seconds its replace/all took, on one line.
  struct Case {
    const char* setup;
    const char* replace;
  };
  const Case cases[] = {
      {"s: copy text", "replace/all s \"X\" \"YZ\""},
      {"s: copy text", "replace/all s \"X\" \"\""},
      {"s: to binary! text", "replace/all s #{58} #{595A}"},
      {"s: copy text", "replace/all s charset \"X\" \"YZ\""},
      {"s: copy text", "replace/all s [\"X\"] \"YZ\""},
      {"s: make block! 100000 loop 100000 [append/only s copy [a x b x]]", "replace/all/deep s 'x 'y"},
      {"o: make object! [s: copy text n: 0 on-deep-change*: func [o w t a v i p] [n: n + 1]]",
       "replace/all o/s \"X\" \"YZ\""},
  };
  std::string code =
      "Kiv []\n"
      "text: make string! 1000000\n"
      "loop 200000 [append text \"abcX\"]\n"
      "loop 50000 [append text \"abcd\"]\n";
  for (const Case& c : cases)
    code += std::string(c.setup) + "\nt: now/precise " + c.replace +
            "\nprin [to float! difference now/precise t \"\"]\n";
  code += "print o/n\n";
  std::ofstream(script) << code;
  bench::Measure m = bench::best_of(dir, {KIV_EXECUTABLE, script}, 3);
  std::remove(script.c_str());
  rmdir(dir.c_str());

  std::string text;
  for (int i = 0; i < kMatches; i++) text += "abcX";
  for (int i = 0; i < 50000; i++) text += "abcd";
  const double base = cxx_seconds(text);

  std::istringstream in(m.output);
  const char* names[] = {
      "find string, X to YZ", "find string, X to empty",          "find binary", "parse, bitset pattern",
      "parse, block rule",    "/deep, 200k words in 100k blocks", "owned string"};
  std::printf("replace/all, %d matches in 1,000,000 characters (ratio to one std::string pass)\n", kMatches);
  std::printf("  %-34s %9.4f s\n", "std::string pass", base);
  for (const char* name : names) {
    double s = 0;
    if (!(in >> s)) {
      std::printf("  %-34s (no result%s)\n", name, m.ok ? "" : ": kiv failed");
      continue;
    }
    std::printf("  %-34s %9.4f s %8.1f\n", name, s, s / base);
  }
  int events = 0;
  if (in >> events)
    std::printf("  the owner's on-deep-change* ran %d time(s) (one change: before and after)\n", events);
  return 0;
}
