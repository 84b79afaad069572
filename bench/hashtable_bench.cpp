// The symbol table against std::unordered_map<std::string, uint32_t>: 1,000,000
// distinct names ("key000000" ... "key999999") interned in order, then every
// name looked up again, in the same order ("in-order") or in a shuffled order
// ("shuffled": every lookup lands at random in memory), through symbol_find on
// a table made as start-up makes the symbol table (4,000 entries, kind 2), and
// through try_emplace and find on the map. Both sides start empty, do the same
// work in the timed region, and release their memory outside it. The collector
// is off while timed (no collection interrupts either side) and reclaims the
// table between iterations. A table of median ratios follows the runs (below
// 1: the symbol table is faster).
//
//   bench/hashtable_bench [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "boot/init.h"
#include "datatypes/map.h"
#include "datatypes/symbol.h"
#include "median_reporter.h"
#include "runtime/collector.h"
#include "runtime/gc_root.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace {

using namespace kiv;

constexpr uint32_t kNames = 1000000;
constexpr uint32_t kStartupSymbols = 4000;

struct Workload {
  std::vector<std::string> names;
  std::vector<uint32_t> in_order, shuffled;
};

const Workload& workload() {
  static const Workload w = [] {
    Workload w;
    char buffer[16];
    for (uint32_t i = 0; i < kNames; i++) {
      std::snprintf(buffer, sizeof buffer, "key%06u", i);
      w.names.emplace_back(buffer);
      w.in_order.push_back(i);
    }
    w.shuffled = w.in_order;
    std::shuffle(w.shuffled.begin(), w.shuffled.end(), std::mt19937(20240611));
    return w;
  }();
  return w;
}

const std::vector<uint32_t>& lookup_order(bool shuffled) {
  return shuffled ? workload().shuffled : workload().in_order;
}

void BM_SymbolFind(benchmark::State& state, bool shuffled) {
  runtime_init();
  const Workload& w = workload();
  const std::vector<uint32_t>& order = lookup_order(shuffled);
  uint64_t checksum = 0;
  for (auto _ : state) {
    g_collector_active = false;
    Root records(series_cell(kTypeBlock, series_alloc_cells(kStartupSymbols)));
    Root table(map_cell(records.node(), hashtable_init(kStartupSymbols, records.node(), kHashSymbols)));
    Node t = map_table(table.get());
    for (const std::string& n : w.names)
      symbol_find(t, reinterpret_cast<const uint8_t*>(n.data()), uint32_t(n.size()), false);
    for (uint32_t i : order) {
      const std::string& n = w.names[i];
      checksum +=
          uint32_t(symbol_find(t, reinterpret_cast<const uint8_t*>(n.data()), uint32_t(n.size()), false));
    }
    state.PauseTiming();
    if (hashtable_size(t) != kNames) state.SkipWithError("wrong symbol count");
    *table = make_cell(kTypeNone);
    *records = make_cell(kTypeNone);
    g_collector_active = true;
    gc_collect();
    state.ResumeTiming();
  }
  benchmark::DoNotOptimize(checksum);
  // Each name's id is its position + 1, so the lookups sum to n(n+1)/2 per iteration.
  if (checksum != uint64_t(state.iterations()) * kNames * (kNames + 1) / 2) state.SkipWithError("wrong ids");
  state.SetItemsProcessed(int64_t(state.iterations()) * 2 * kNames);
}

void BM_UnorderedMap(benchmark::State& state, bool shuffled) {
  const Workload& w = workload();
  const std::vector<uint32_t>& order = lookup_order(shuffled);
  uint64_t checksum = 0;
  for (auto _ : state) {
    auto* map = new std::unordered_map<std::string, uint32_t>();
    uint32_t next = 1;
    for (const std::string& n : w.names)
      if (map->try_emplace(n, next).second) next++;
    for (uint32_t i : order) checksum += map->find(w.names[i])->second;
    state.PauseTiming();
    if (map->size() != kNames) state.SkipWithError("wrong key count");
    delete map;
    state.ResumeTiming();
  }
  benchmark::DoNotOptimize(checksum);
  if (checksum != uint64_t(state.iterations()) * kNames * (kNames + 1) / 2)
    state.SkipWithError("wrong values");
  state.SetItemsProcessed(int64_t(state.iterations()) * 2 * kNames);
}

// Console output as usual, then the ratio of the two medians.
class LookupReporter : public MedianReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-36s %14s %16s %7s\n", "1M names interned, then 1M lookups", "symbol_find",
                "unordered_map", "ratio");
    for (const char* order : {"in-order", "shuffled"}) {
      double kiv = medians_[std::string("symbol_find/") + order];
      double std_map = medians_[std::string("unordered_map/") + order];
      std::printf("%-36s %11.1f ms %13.1f ms %7.2f\n", order, kiv, std_map,
                  std_map > 0 ? kiv / std_map : 0.0);
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  for (bool shuffled : {false, true}) {
    std::string order = shuffled ? "shuffled" : "in-order";
    benchmark::RegisterBenchmark(("symbol_find/" + order).c_str(), BM_SymbolFind, shuffled)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("unordered_map/" + order).c_str(), BM_UnorderedMap, shuffled)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  LookupReporter reporter;
  return run_benchmarks(argc, argv, reporter);
}
