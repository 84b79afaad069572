// Numbers: 10M random doubles written as shortest text by float_to_text
// against std::to_chars alone, and read back by decimal_to_float against
// std::from_chars; 100M int32 additions through integer!'s add handler (with
// its overflow check, looked up in the action table per call) against a plain
// C++ loop. A table of median ratios follows the runs.
//
//   bench/number_bench [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "boot/init.h"
#include "datatypes/actions.h"
#include "datatypes/integer.h"
#include "median_reporter.h"
#include "runtime/float_text.h"

namespace {

using namespace kiv;

constexpr size_t kDoubles = 10000000;
constexpr int64_t kAdditions = 100000000;

// Finite doubles from random bit patterns: every exponent, every digit count.
const std::vector<double>& doubles() {
  static const std::vector<double> values = [] {
    std::vector<double> v;
    v.reserve(kDoubles);
    std::mt19937_64 rng(20261210);
    while (v.size() < kDoubles) {
      uint64_t bits = rng();
      double d;
      std::memcpy(&d, &bits, sizeof d);
      if (std::isfinite(d)) v.push_back(d);
    }
    return v;
  }();
  return values;
}

// The shortest texts of the doubles, 32 bytes each.
const std::vector<char>& texts() {
  static const std::vector<char> t = [] {
    std::vector<char> out(kDoubles * 32);
    const std::vector<double>& v = doubles();
    for (size_t i = 0; i < kDoubles; i++) {
      char* p = out.data() + i * 32;
      *std::to_chars(p, p + 31, v[i]).ptr = 0;
    }
    return out;
  }();
  return t;
}

void format_kiv(benchmark::State& state) {
  const std::vector<double>& v = doubles();
  for (auto _ : state) {
    size_t total = 0;
    for (double d : v) total += float_to_text(d, 0, true).length;
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(int64_t(state.iterations() * kDoubles));
}

void format_std(benchmark::State& state) {
  const std::vector<double>& v = doubles();
  char buffer[32];
  for (auto _ : state) {
    size_t total = 0;
    for (double d : v) total += size_t(std::to_chars(buffer, buffer + sizeof buffer, d).ptr - buffer);
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(int64_t(state.iterations() * kDoubles));
}

void parse_kiv(benchmark::State& state) {
  const std::vector<char>& t = texts();
  for (auto _ : state) {
    double sum = 0;
    for (size_t i = 0; i < kDoubles; i++) {
      const char* p = t.data() + i * 32;
      size_t rest;
      sum += decimal_to_float(p, p + std::strlen(p), 0, &rest);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations() * kDoubles));
}

void parse_std(benchmark::State& state) {
  const std::vector<char>& t = texts();
  for (auto _ : state) {
    double sum = 0;
    for (size_t i = 0; i < kDoubles; i++) {
      const char* p = t.data() + i * 32;
      double d;
      std::from_chars(p, p + std::strlen(p), d);
      sum += d;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations() * kDoubles));
}

void add_kiv(benchmark::State& state) {
  runtime_init();
  for (auto _ : state) {
    Cell sum = integer_cell(0);
    Cell step = integer_cell(1);
    BinaryArgs args;
    args.value2 = &step;
    for (int64_t k = 0; k < kAdditions; k++) {
      integer_set(&step, int32_t(k & 7));
      action_handler<&ActionSlots::add>(sum.type(), kActionAdd)(&sum, args);
    }
    if (!sum.is(kTypeInteger)) state.SkipWithError("overflowed");
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations() * kAdditions));
}

void add_std(benchmark::State& state) {
  for (auto _ : state) {
    int32_t sum = 0;
    for (int64_t k = 0; k < kAdditions; k++) {
      int32_t step = int32_t(k & 7);
      benchmark::DoNotOptimize(step);
      sum += step;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations() * kAdditions));
}

}  // namespace

int main(int argc, char** argv) {
  register_benchmarks({
      {"format/kiv", format_kiv},
      {"format/to_chars", format_std},
      {"parse/kiv", parse_kiv},
      {"parse/from_chars", parse_std},
      {"add/kiv", add_kiv},
      {"add/cpp", add_std},
  });
  RatioReporter reporter({
      {"format/kiv", "format/to_chars", "1.5"},
      {"parse/kiv", "parse/from_chars", "1.5"},
      {"add/kiv", "add/cpp", "-"},
  });
  return run_benchmarks(argc, argv, reporter);
}
