// The interpreter on small programs (bench/interp_programs.h: recursive fib,
// while and counting loops, function calls, objects, a word count with PARSE,
// string building, calls with refinements and modulo, a map with 1e6 string
// keys, a sort of 1e6 integers)
// against the same programs in Debian's /usr/bin/python3 and lua5.4, in one
// run, and the start-up of an empty script against `python3 -c pass` and
// `lua5.4 -e ''`. Each program runs as a whole process (the kiv executable on
// a script, start-up included), best of three; the report gives the times,
// the peak resident memory (from /usr/bin/time -v) and the ratios. Every
// program prints one line, and every run of the three must print the same
// one: a difference is reported and the exit status is 1. Not a timed test.
//
//   interp_bench                   runs every program in the three languages
//   interp_bench NAME NAME...      runs the named ones (start-up is a name too)
//   interp_bench --compare NAME    runs one program in the three languages
//   interp_bench NAME              runs one Kiv program in this process (for profiling)
//   interp_bench --words FILE      writes the words text to FILE
//
// The words program reads a 10 MB text that this bench writes to a temporary
// file first: the same bytes on every run and every machine.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "boot/start.h"
#include "interp_programs.h"
#include "whole_process.h"

namespace {

using bench::keep_best;
using bench::kPrograms;
using bench::Measure;
using bench::Program;

// ---------------------------------------------------------------- the words text

// About [size] bytes of lower-case words (a vocabulary of 5,000 made-up
// words, drawn with a skewed distribution) separated by blanks, punctuation
// and line breaks, from a fixed linear congruential generator.
std::string make_words_text(size_t size) {
  uint64_t x = 12345;
  auto rnd = [&x] {
    x = (x * 1103515245 + 12345) % 2147483648u;
    return x >> 8;
  };
  std::vector<std::string> vocab;
  std::unordered_set<std::string> seen;
  while (vocab.size() < 5000) {
    uint64_t length = 1 + rnd() % 10;
    std::string w;
    for (uint64_t i = 0; i < length; i++) w += char('a' + rnd() % 26);
    if (seen.insert(w).second) vocab.push_back(w);
  }
  static const char* const kSeparators[] = {" ", " ", " ", " ",  " ",  " ",  " ",  " ",   " ",
                                            " ", " ", " ", ", ", ". ", "; ", "\n", " - ", "! "};
  const uint64_t separators = sizeof kSeparators / sizeof kSeparators[0];
  std::string text;
  text.reserve(size + 16);
  while (text.size() < size) {
    double u = double(rnd() % 100000) / 100000.0;
    text += vocab[size_t(5000 * u * u * u)];  // u cubed: the first words are the common ones
    text += kSeparators[rnd() % separators];
  }
  text.resize(size);
  return text;
}

const size_t kWordsBytes = 10000000;

// ---------------------------------------------------------------- files

std::string temp_path(const char* name, const char* ext) {
  return std::string("/tmp/interp_bench_") + name + "." + std::to_string(getpid()) + ext;
}

std::string write_temp(const char* name, const char* ext, const std::string& text) {
  std::string path = temp_path(name, ext);
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string kiv_script(const Program& p) { return std::string("Kiv []\n") + p.kiv; }

const Program* find_program(const char* name) {
  for (const Program& p : kPrograms)
    if (std::strcmp(p.name, name) == 0) return &p;
  return nullptr;
}

void print_names() {
  std::fprintf(stderr, "programs:");
  for (const Program& p : kPrograms) std::fprintf(stderr, " %s", p.name);
  std::fprintf(stderr, " start-up\n");
}

// ---------------------------------------------------------------- running Kiv in this process

// Runs [p] the way the kiv executable does (start-up, library, script), in
// this process: the program prints its own line.
int run_one(const Program& p) {
  std::string script = write_temp(p.name, ".kiv", kiv_script(p));
  std::string words = p.reads_words ? write_temp("words", ".txt", make_words_text(kWordsBytes)) : "";
  std::vector<std::string> args = {"kiv", script};
  if (p.reads_words) args.push_back(words);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int status = kiv::start(int(args.size()), argv.data());
  std::remove(script.c_str());
  if (p.reads_words) std::remove(words.c_str());
  return status;
}

// ---------------------------------------------------------------- the driver

// The runs of one program in the three languages: the best of each, and
// whether every run printed the line the first Kiv run printed.
struct Row {
  Measure kiv, python, lua;
  std::string want;  // the first Kiv run's line
  std::vector<std::string> mismatches;
};

// Notes a run of [language] that printed another line than the first Kiv run
// (once for each line it printed).
void check(Row* row, const char* language, const Measure& m) {
  if (m.output == row->want) return;
  std::string note = "kiv printed '" + row->want + "', " + language + " printed '" + m.output + "'";
  for (const std::string& seen : row->mismatches)
    if (seen == note) return;
  row->mismatches.push_back(note);
}

void print_row(const char* name, const Row& r, const char* note) {
  const Measure& k = r.kiv;
  const Measure& y = r.python;
  const Measure& l = r.lua;
  std::printf("%-10s %10.3f %10.3f %10.3f %8.2f %8.2f %9.1f %9.1f %9.1f %8.2f %8.2f  %s%s\n", name, k.seconds,
              y.seconds, l.seconds, k.seconds / y.seconds, k.seconds / l.seconds, double(k.peak_kb) / 1024,
              double(y.peak_kb) / 1024, double(l.peak_kb) / 1024, double(k.peak_kb) / double(y.peak_kb),
              double(k.peak_kb) / double(l.peak_kb), note, k.ok && y.ok && l.ok ? "" : "  (a run failed)");
  for (const std::string& m : r.mismatches) std::printf("  MISMATCH %s: %s\n", name, m.c_str());
  std::fflush(stdout);
}

// Runs [p] three times in each language, the three in turn, so that a
// machine whose speed drifts slows all alike.
Row run_program(const Program& p, const std::string& words) {
  const int runs = 3;
  std::string py = write_temp(p.name, ".py", p.python);
  std::string lua = write_temp(p.name, ".lua", p.lua);
  std::string kiv = write_temp(p.name, ".kiv", kiv_script(p));
  std::vector<std::string> k_args = {KIV_EXECUTABLE, kiv};
  std::vector<std::string> y_args = {"/usr/bin/python3", py};
  std::vector<std::string> l_args = {"/usr/bin/lua5.4", lua};
  if (p.reads_words) {
    k_args.push_back(words);
    y_args.push_back(words);
    l_args.push_back(words);
  }
  Row row;
  for (int r = 0; r < runs; r++) {
    Measure k = bench::measure_once("/tmp", k_args);
    if (r == 0) row.want = k.output;
    check(&row, "kiv (a later run)", k);
    keep_best(&row.kiv, k);
    Measure y = bench::measure_once("/tmp", y_args);
    check(&row, "python", y);
    keep_best(&row.python, y);
    Measure l = bench::measure_once("/tmp", l_args);
    check(&row, "lua", l);
    keep_best(&row.lua, l);
  }
  std::remove(py.c_str());
  std::remove(lua.c_str());
  std::remove(kiv.c_str());
  if (row.want.empty()) row.mismatches.insert(row.mismatches.begin(), "kiv printed nothing");
  return row;
}

// Start-up: an empty script against python3 -c pass and lua5.4 -e ''.
Row run_start_up() {
  std::string empty = write_temp("empty", ".kiv", "Kiv []\n");
  Row row;
  for (int r = 0; r < 20; r++) {
    keep_best(&row.kiv, bench::measure_once("/tmp", {KIV_EXECUTABLE, empty}));
    keep_best(&row.python, bench::measure_once("/tmp", {"/usr/bin/python3", "-c", "pass"}));
    keep_best(&row.lua, bench::measure_once("/tmp", {"/usr/bin/lua5.4", "-e", ""}));
  }
  std::remove(empty.c_str());
  return row;
}

// Runs [chosen] (and the start-up when [start_up]); 1 when a line differed
// or a run failed.
int run_all(const std::vector<const Program*>& chosen, bool start_up) {
  std::string words;
  for (const Program* p : chosen)
    if (p->reads_words && words.empty()) words = write_temp("words", ".txt", make_words_text(kWordsBytes));
  std::printf("%-10s %10s %10s %10s %8s %8s %9s %9s %9s %8s %8s  %s\n", "program", "kiv s", "python s",
              "lua s", "kiv/py", "kiv/lua", "kiv MB", "py MB", "lua MB", "mem/py", "mem/lua",
              "output (the same in all three)");
  bool bad = false;
  for (const Program* p : chosen) {
    Row row = run_program(*p, words);
    print_row(p->name, row, row.mismatches.empty() ? row.want.c_str() : "(outputs differ)");
    bad = bad || !row.mismatches.empty() || !(row.kiv.ok && row.python.ok && row.lua.ok);
  }
  if (!words.empty()) std::remove(words.c_str());
  if (start_up) {
    Row row = run_start_up();
    print_row("start-up", row, "(best of 20)");
    bad = bad || !(row.kiv.ok && row.python.ok && row.lua.ok);
  }
  return bad ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const Program*> chosen;
  bool start_up = false;
  bool compare = false;
  if (argc == 3 && std::strcmp(argv[1], "--words") == 0) {
    std::ofstream out(argv[2], std::ios::binary);
    out << make_words_text(kWordsBytes);
    out.close();
    if (out) return 0;
    std::fprintf(stderr, "interp_bench: cannot write %s\n", argv[2]);
    return 1;
  }
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--compare") == 0) {
      compare = true;
    } else if (std::strcmp(argv[i], "start-up") == 0) {
      start_up = true;
    } else if (const Program* p = find_program(argv[i])) {
      chosen.push_back(p);
    } else {
      std::fprintf(stderr, "interp_bench: no program %s\n", argv[i]);
      print_names();
      return 2;
    }
  }
  if (chosen.empty() && !start_up) {
    if (compare) {
      std::fprintf(stderr, "interp_bench: --compare needs the names of programs\n");
      print_names();
      return 2;
    }
    for (const Program& p : kPrograms) chosen.push_back(&p);
    start_up = true;
  }
  if (!compare && !start_up && chosen.size() == 1) return run_one(*chosen[0]);
  return run_all(chosen, start_up);
}
