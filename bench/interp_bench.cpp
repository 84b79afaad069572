// The interpreter on three small programs (recursive fib 27, a 1e7-step
// while loop with an if test, 3e6 calls of a three-argument function with a
// local) against the same programs in Debian's /usr/bin/python3 and lua5.4,
// in one run, and the start-up of an empty script against `python3 -c pass`
// and `lua5.4 -e ''`. Each program runs as a whole process (the kiv
// executable on a script, start-up included), best of three; the report gives the times, the peak resident
// memory (from /usr/bin/time -v) and the ratios. Not a timed test.
//
//   interp_bench            runs every program in the three languages
//   interp_bench NAME       runs one Kiv program in this process, prints its value (for profiling)
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "boot/init.h"
#include "boot/start.h"
#include "datatypes/integer.h"
#include "evaluator/base_env.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "platform/signals.h"
#include "platform/thread.h"
#include "runtime/collector.h"
#include "runtime/fatal.h"
#include "runtime/stack.h"
#include "whole_process.h"

namespace {

struct Program {
  const char* name;
  const char* kiv;
  const char* python;
  const char* lua;
};

const Program kPrograms[] = {
    {"fib27",
     "fib: func [n] [either n < 2 [n] [(fib n - 1) + (fib n - 2)]]\n"
     "fib 27",
     "def fib(n):\n"
     "    if n < 2:\n"
     "        return n\n"
     "    return fib(n - 1) + fib(n - 2)\n"
     "print(fib(27))\n",
     "local function fib(n)\n"
     "  if n < 2 then return n end\n"
     "  return fib(n - 1) + fib(n - 2)\n"
     "end\n"
     "print(fib(27))\n"},
    {"while1e7",
     "i: 0 n: 0\n"
     "while [i < 10000000] [i: i + 1 if i > 5000000 [n: n + 1]]\n"
     "n",
     "def main():\n"
     "    i = 0\n"
     "    n = 0\n"
     "    while i < 10000000:\n"
     "        i = i + 1\n"
     "        if i > 5000000:\n"
     "            n = n + 1\n"
     "    return n\n"
     "print(main())\n",
     "local i, n = 0, 0\n"
     "while i < 10000000 do\n"
     "  i = i + 1\n"
     "  if i > 5000000 then n = n + 1 end\n"
     "end\n"
     "print(n)\n"},
    {"calls3e6",
     "f: func [a b c /local t] [t: a + b t: t + c t]\n"
     "i: 0 s: 0\n"
     "while [i < 3000000] [s: f i 1 2 i: i + 1]\n"
     "s",
     "def f(a, b, c):\n"
     "    t = a + b\n"
     "    t = t + c\n"
     "    return t\n"
     "def main():\n"
     "    i = 0\n"
     "    s = 0\n"
     "    while i < 3000000:\n"
     "        s = f(i, 1, 2)\n"
     "        i = i + 1\n"
     "    return s\n"
     "print(main())\n",
     "local function f(a, b, c)\n"
     "  local t = a + b\n"
     "  t = t + c\n"
     "  return t\n"
     "end\n"
     "local i, s = 0, 0\n"
     "while i < 3000000 do\n"
     "  s = f(i, 1, 2)\n"
     "  i = i + 1\n"
     "end\n"
     "print(s)\n"},
};

// ---------------------------------------------------------------- running Kiv in this process

struct KivRun {
  const Program* program;
  std::string result;
};

int run_kiv(void* p) {
  auto* run = static_cast<KivRun*>(p);
  kiv::run_outermost([run] {
    using namespace kiv;
    runtime_init();
    g_collector_active = true;
    base_environment_init();
    StackSave save;
    Cell* code = stack_push();
    const char* text = run->program->kiv;
    lexer_load_utf8(code, reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)));
    Cell* out = stack_push();
    if (do_block(code, out) != kStatusOk) {
      run->result = "(exit status)";
      return;
    }
    run->result = out->is(kTypeInteger) ? std::to_string(integer_get(out)) : "(not an integer)";
  });
  return 0;
}

int run_one(const char* name) {
  for (const Program& p : kPrograms) {
    if (std::strcmp(p.name, name) != 0) continue;
    kiv::install_fatal_handlers(kiv::fatal_exit_from_signal);
    KivRun run{&p, {}};
    kiv::run_on_large_stack(kiv::kInterpreterStackReserve, run_kiv, &run);
    std::printf("%s\n", run.result.c_str());
    return 0;
  }
  std::fprintf(stderr, "no program %s\n", name);
  return 2;
}

// ---------------------------------------------------------------- the driver

using bench::keep_best;
using bench::Measure;

// Runs [argv] once: wall time, peak memory and first line of output.
Measure measure_once(const std::vector<std::string>& argv) { return bench::measure_once("/tmp", argv); }

std::string write_temp(const char* name, const char* ext, const char* text) {
  std::string path = std::string("/tmp/interp_bench_") + name + "." + std::to_string(getpid()) + ext;
  std::ofstream(path) << text;
  return path;
}

int run_all() {
  const int runs = 3;  // best of three for each
  std::printf("%-10s %10s %10s %10s %8s %8s %9s %9s %9s %8s %8s  %s\n", "program", "kiv s", "python s",
              "lua s", "kiv/py", "kiv/lua", "kiv MB", "py MB", "lua MB", "mem/py", "mem/lua", "results");
  for (const Program& p : kPrograms) {
    std::string py = write_temp(p.name, ".py", p.python);
    std::string lua = write_temp(p.name, ".lua", p.lua);
    // The three in turn, so that a machine whose speed drifts slows all alike.
    std::string kiv =
        write_temp(p.name, ".kiv", (std::string("Kiv []\nprint do [\n") + p.kiv + "\n]\n").c_str());
    Measure k, y, l;
    for (int r = 0; r < runs; r++) {
      keep_best(&k, measure_once({KIV_EXECUTABLE, kiv}));
      keep_best(&y, measure_once({"/usr/bin/python3", py}));
      keep_best(&l, measure_once({"/usr/bin/lua5.4", lua}));
    }
    std::remove(py.c_str());
    std::remove(lua.c_str());
    std::remove(kiv.c_str());
    std::printf("%-10s %10.3f %10.3f %10.3f %8.2f %8.2f %9.1f %9.1f %9.1f %8.2f %8.2f  %s %s %s%s\n", p.name,
                k.seconds, y.seconds, l.seconds, k.seconds / y.seconds, k.seconds / l.seconds,
                double(k.peak_kb) / 1024, double(y.peak_kb) / 1024, double(l.peak_kb) / 1024,
                double(k.peak_kb) / double(y.peak_kb), double(k.peak_kb) / double(l.peak_kb),
                k.output.c_str(), y.output.c_str(), l.output.c_str(),
                k.ok && y.ok && l.ok ? "" : "  (a run failed)");
    std::fflush(stdout);
  }
  // Start-up: an empty script against python3 -c pass and lua5.4 -e ''.
  std::string empty = write_temp("empty", ".kiv", "Kiv []\n");
  Measure k, y, l;
  for (int r = 0; r < 20; r++) {
    keep_best(&k, measure_once({KIV_EXECUTABLE, empty}));
    keep_best(&y, measure_once({"/usr/bin/python3", "-c", "pass"}));
    keep_best(&l, measure_once({"/usr/bin/lua5.4", "-e", ""}));
  }
  std::remove(empty.c_str());
  std::printf("%-10s %10.4f %10.4f %10.4f %8.2f %8.2f %9.1f %9.1f %9.1f %8.2f %8.2f  (best of 20)%s\n",
              "start-up", k.seconds, y.seconds, l.seconds, k.seconds / y.seconds, k.seconds / l.seconds,
              double(k.peak_kb) / 1024, double(y.peak_kb) / 1024, double(l.peak_kb) / 1024,
              double(k.peak_kb) / double(y.peak_kb), double(k.peak_kb) / double(l.peak_kb),
              k.ok && y.ok && l.ok ? "" : "  (a run failed)");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) return run_one(argv[1]);
  return run_all();
}
