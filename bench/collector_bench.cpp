// The collector: a full collection with ~100 MB live and ~1 GB of garbage made
// since the last one, against memcpy of the live bytes (the floor of a
// compacting collector); and small-series allocation with collection on,
// against malloc/free of the same sizes. A table of median ratios follows the
// runs, with the targets (3 and 1.2).
//
//   bench/collector_bench [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "boot/init.h"
#include "median_reporter.h"
#include "runtime/collector.h"
#include "runtime/gc_root.h"
#include "runtime/memory.h"

namespace {

using namespace kiv;

constexpr uint32_t kLiveSeries = 100000;  // x 1,000 bytes = ~100 MB live
constexpr uint32_t kLiveBytes = 1000;
constexpr uint32_t kGarbagePerLive = 10;  // x 1,000 bytes = ~1 GB garbage

void BM_FullCollection(benchmark::State& state) {
  runtime_init();
  for (auto _ : state) {
    state.PauseTiming();
    g_collector_active = false;
    Root live(series_cell(kTypeBlock, series_alloc_cells(kLiveSeries)));
    for (uint32_t i = 0; i < kLiveSeries; i++) {
      for (uint32_t g = 0; g < kGarbagePerLive; g++) series_alloc_bytes(kLiveBytes);
      Node bytes = series_alloc_bytes(kLiveBytes);
      reserve_tail(bytes, kLiveBytes);
      *append_cell(live.node()) = series_cell(kTypeBinary, bytes);
    }
    state.ResumeTiming();
    gc_collect();
    state.PauseTiming();
    *live = make_cell(kTypeNone);
    gc_collect();
    state.ResumeTiming();
  }
  gc_release_free_frames();  // as recycle does: the next benchmark starts without the burst's frames
  g_collector_active = true;
}

void BM_MemcpyLiveBytes(benchmark::State& state) {
  size_t bytes = size_t(kLiveSeries) * (kLiveBytes + 8 + kBufferOverhead);
  std::vector<char> from(bytes, 1), to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
  }
}

void BM_AllocateSmallSeries(benchmark::State& state) {
  runtime_init();
  g_collector_active = true;
  uint32_t n = 0;
  for (auto _ : state) {
    Node s = series_alloc_bytes(16 + (n++ & 63));
    benchmark::DoNotOptimize(s);
  }
}

void BM_MallocFreeSmall(benchmark::State& state) {
  uint32_t n = 0;
  for (auto _ : state) {
    void* p = std::malloc(16 + (n++ & 63) + kBufferOverhead);
    benchmark::DoNotOptimize(p);
    std::free(p);
  }
}

BENCHMARK(BM_FullCollection)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyLiveBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AllocateSmallSeries);
BENCHMARK(BM_MallocFreeSmall);

}  // namespace

int main(int argc, char** argv) {
  RatioReporter reporter({
      {"BM_FullCollection", "BM_MemcpyLiveBytes", "3"},
      {"BM_AllocateSmallSeries", "BM_MallocFreeSmall", "1.2"},
  });
  return run_benchmarks(argc, argv, reporter);
}
