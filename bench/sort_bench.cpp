// The sort engines against the C++ library: 1,000,000 int32 records sorted by
// sort_adaptive against std::sort and by sort_merge against std::stable_sort, all
// four given the same comparator (a plain function comparing two int32 through
// void pointers) as an opaque function pointer, so each comparison costs the same
// indirect call. Inputs: random, sorted, reversed, few distinct keys, nearly
// sorted, organ pipe, sawtooth. After the runs a table gives each engine's median
// time as a ratio of its library counterpart (below 1 is faster).
//
//   bench/sort_bench [--benchmark_filter=random] [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "median_reporter.h"
#include "runtime/sort.h"

namespace {

constexpr size_t kRecords = 1000000;

__attribute__((noinline)) int compare_int32(const void* a, const void* b, intptr_t, uint32_t) {
  int32_t x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return (x > y) - (x < y);
}

// The comparator through a pointer the optimiser cannot see through.
kiv::SortComparator opaque_comparator() {
  kiv::SortComparator f = compare_int32;
  benchmark::DoNotOptimize(f);
  return f;
}

struct ViaPointer {
  kiv::SortComparator f;
  bool operator()(const int32_t& a, const int32_t& b) const { return f(&a, &b, 0, 0) < 0; }
};

std::vector<int32_t> make_input(const std::string& shape) {
  std::mt19937 rng(20240611);
  std::vector<int32_t> v(kRecords);
  for (size_t i = 0; i < kRecords; i++) v[i] = int32_t(i);
  if (shape == "random") {
    for (auto& x : v) x = int32_t(rng());
  } else if (shape == "reversed") {
    std::reverse(v.begin(), v.end());
  } else if (shape == "few-distinct") {
    for (auto& x : v) x = int32_t(rng() % 16);
  } else if (shape == "nearly-sorted") {
    for (size_t s = 0; s < kRecords / 100; s++) std::swap(v[rng() % kRecords], v[rng() % kRecords]);
  } else if (shape == "organ-pipe") {
    for (size_t i = 0; i < kRecords; i++) v[i] = int32_t(i < kRecords / 2 ? i : kRecords - i);
  } else if (shape == "sawtooth") {
    for (size_t i = 0; i < kRecords; i++) v[i] = int32_t(i % 1000);
  }
  return v;
}

enum Engine { kKivAdaptive, kStdSort, kKivMerge, kStdStableSort };
const char* const kEngineNames[] = {"kiv_adaptive", "std_sort", "kiv_merge", "std_stable_sort"};

void run_sort(benchmark::State& state, const std::string& shape, Engine engine) {
  const std::vector<int32_t> input = make_input(shape);
  std::vector<int32_t> work;
  kiv::SortComparator cmp = opaque_comparator();
  for (auto _ : state) {
    state.PauseTiming();
    work = input;
    state.ResumeTiming();
    switch (engine) {
      case kKivAdaptive: kiv::sort_adaptive(work.data(), work.size(), 4, 0, 0, cmp); break;
      case kStdSort: std::sort(work.begin(), work.end(), ViaPointer{cmp}); break;
      case kKivMerge: kiv::sort_merge(work.data(), work.size(), 4, 0, 0, cmp); break;
      case kStdStableSort: std::stable_sort(work.begin(), work.end(), ViaPointer{cmp}); break;
    }
    benchmark::ClobberMemory();
  }
  if (!std::is_sorted(work.begin(), work.end())) state.SkipWithError("not sorted");
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kRecords));
}

// Console output as usual, and a table of median ratios at the end.
class SortReporter : public MedianReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-16s %12s %12s %7s %12s %12s %7s\n", "input (1M int32)", "adaptive ms", "std::sort",
                "ratio", "merge ms", "stable_sort", "ratio");
    std::map<std::string, std::map<std::string, double>> by_shape;
    for (const auto& [name, t] : medians_) {
      size_t a = name.find('/'), b = name.rfind('/');
      if (a == std::string::npos || a == b) continue;
      by_shape[name.substr(a + 1, b - a - 1)][name.substr(b + 1)] = t;
    }
    for (auto& [shape, t] : by_shape) {
      auto get = [&](const char* e) { return t.count(e) ? t[e] : 0.0; };
      double ka = get("kiv_adaptive"), ss = get("std_sort");
      double km = get("kiv_merge"), st = get("std_stable_sort");
      std::printf("%-16s %12.2f %12.2f %7.2f %12.2f %12.2f %7.2f\n", shape.c_str(), ka, ss,
                  ss > 0 ? ka / ss : 0.0, km, st, st > 0 ? km / st : 0.0);
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  const char* shapes[] = {"random",        "sorted",     "reversed", "few-distinct",
                          "nearly-sorted", "organ-pipe", "sawtooth"};
  for (const char* shape : shapes) {
    for (Engine e : {kKivAdaptive, kStdSort, kKivMerge, kStdStableSort}) {
      std::string name = std::string("sort_i32/") + shape + "/" + kEngineNames[e];
      benchmark::RegisterBenchmark(name.c_str(), run_sort, std::string(shape), e)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
  }
  SortReporter reporter;
  return run_benchmarks(argc, argv, reporter);
}
