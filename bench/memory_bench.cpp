// append_cell against std::vector<Cell>::push_back: appending N cells one by
// one should cost the same per cell at every N (no quadratic step).
#include <benchmark/benchmark.h>

#include <vector>

#include "boot/init.h"
#include "datatypes/integer.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace {

using kiv::Cell;

void BM_AppendCell(benchmark::State& state) {
  kiv::runtime_init();
  const auto n = uint32_t(state.range(0));
  for (auto _ : state) {
    kiv::Node block = kiv::series_alloc_cells(1);
    for (uint32_t i = 0; i < n; i++) *kiv::append_cell(block) = kiv::integer_cell(int32_t(i));
    benchmark::DoNotOptimize(kiv::series_buffer(block)->tail);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * n);
}

void BM_VectorPushBack(benchmark::State& state) {
  const auto n = uint32_t(state.range(0));
  for (auto _ : state) {
    std::vector<Cell> v;
    for (uint32_t i = 0; i < n; i++) v.push_back(kiv::integer_cell(int32_t(i)));
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * n);
}

BENCHMARK(BM_AppendCell)
    ->Arg(100000)
    ->Arg(1000000)
    ->Arg(10000000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VectorPushBack)
    ->Arg(100000)
    ->Arg(1000000)
    ->Arg(10000000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
