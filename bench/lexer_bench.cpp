// Loading source text: the lexer on a generated 20 MB Kiv source (mixed
// literals in nested blocks) against /usr/bin/python3's ast.parse of a Python
// source of the same size and shape, in the same run. Prints MB/s for both
// (best of three runs each) and their ratio. Not a timed test.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "boot/init.h"
#include "datatypes/block.h"
#include "evaluator/lexer.h"
#include "runtime/collector.h"
#include "runtime/stack.h"

namespace {

constexpr size_t kTargetBytes = 20u << 20;

// Items of eight entries each, [item_prefix] N [item_open] ... "]", up to
// kTargetBytes; [entry] appends one entry line to the text, drawing its
// numbers from the generator it is given, which is seeded alike for both
// languages.
template <class Entry>
std::string generated_source(const char* item_prefix, const char* item_open, Entry entry) {
  std::string s;
  s.reserve(kTargetBytes + 4096);
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
  int n = 0;
  while (s.size() < kTargetBytes) {
    s += item_prefix + std::to_string(n++) + item_open;
    for (int i = 0; i < 8; i++) entry(s, next);
    s += "]\n";
  }
  return s;
}

// A deterministic mix: words, set-words, integers, floats, strings, paths,
// pairs, times, issues, files, urls, and blocks nested a few levels deep.
std::string kiv_source() {
  return generated_source("item-", ": [\n", [](std::string& s, auto& next) {
    s += "    name \"entry number " + std::to_string(next()) + "\" count " + std::to_string(next());
    s += " ratio " + std::to_string(next()) + "." + std::to_string(next() % 100);
    s += " size 640x480 at 12:30:45 tag #key-" + std::to_string(next() % 97);
    s += " file %docs/readme.txt link http://example.com/p?q=" + std::to_string(next());
    s += " sub [a/b/c (1 + 2) [x y z]]\n";
  });
}

// The same shape in Python: a dict literal per item.
std::string python_source() {
  return generated_source("item_", " = [\n", [](std::string& s, auto& next) {
    s += "    {'name': \"entry number " + std::to_string(next()) + "\", 'count': " + std::to_string(next());
    s += ", 'ratio': " + std::to_string(next()) + "." + std::to_string(next() % 100);
    s += ", 'size': (640, 480), 'at': time(12, 30, 45), 'tag': key_" + std::to_string(next() % 97);
    s += ", 'file': \"docs/readme.txt\", 'link': \"http://example.com/p?q=" + std::to_string(next()) + "\"";
    s += ", 'sub': [a.b.c, (1 + 2), [x, y, z]]},\n";
  });
}

double mb(size_t bytes) { return double(bytes) / (1024.0 * 1024.0); }

}  // namespace

int main() {
  using namespace kiv;
  runtime_init();
  g_collector_active = true;
  std::string kiv = kiv_source();
  double best = 1e9;
  int32_t count = 0;
  for (int run = 0; run < 3; run++) {
    StackSave save;
    Cell* out = stack_push();
    auto t0 = std::chrono::steady_clock::now();
    lexer_load_utf8(out, reinterpret_cast<const uint8_t*>(kiv.data()), uint32_t(kiv.size()));
    auto t1 = std::chrono::steady_clock::now();
    count = block_total_length(out);
    best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    gc_collect();
  }
  double kiv_rate = mb(kiv.size()) / best;
  std::printf("Kiv lexer:          %7.1f MB in %.3f s = %7.1f MB/s (%d top-level values)\n", mb(kiv.size()),
              best, kiv_rate, count);

  std::string py = python_source();
  const char* path = "/tmp/kiv_lexer_bench.py";
  std::ofstream(path) << py;
  std::string cmd = std::string("/usr/bin/python3 -c \"import ast,time\nsrc=open('") + path +
                    "').read()\nbest=1e9\nfor i in range(3):\n t=time.perf_counter(); ast.parse(src); "
                    "best=min(best,time.perf_counter()-t)\nprint(best)\"";
  FILE* pipe = popen(cmd.c_str(), "r");
  double py_time = 0;
  if (pipe) {
    if (std::fscanf(pipe, "%lf", &py_time) != 1) py_time = 0;
    pclose(pipe);
  }
  std::remove(path);
  if (py_time > 0) {
    double py_rate = mb(py.size()) / py_time;
    std::printf("python3 ast.parse:  %7.1f MB in %.3f s = %7.1f MB/s\n", mb(py.size()), py_time, py_rate);
    std::printf("ratio (Kiv / Python): %.2f\n", kiv_rate / py_rate);
  } else {
    std::printf("python3 ast.parse: not available\n");
  }
  return 0;
}
