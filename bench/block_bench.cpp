// block! search and modification against a std::vector of 16-byte records
// doing the same work, side by side in one run:
//   append    10,000,000 integers appended one by one to an empty block
//   sort      1,000,000 random integers (plain sort; the reference is std::sort
//             comparing through integer!'s own compare handler, called through
//             the same function pointer the block sort reaches)
//   find      a value missing from 1,000,000 integers (the reference is
//             std::find_if comparing through the same handler)
//   insert    10,000 integers inserted at the head of a 100,000-cell block (the
//             reference is std::vector::insert at begin(): the same memmove)
// The Kiv side calls the handlers block! registers, with their arguments on
// the data stack as the action entries pass them; append and insert are also
// timed through the action entry (dispatch included). The collector is on, as
// after start-up. A table of median ratios follows the runs (below 1: Kiv is
// faster).
//
//   bench/block_bench [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "boot/init.h"
#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/block_modify.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "median_reporter.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace {

using namespace kiv;

constexpr int32_t kAppendCount = 10000000;
constexpr int32_t kSortCount = 1000000;
constexpr int32_t kFindCount = 1000000;
constexpr int32_t kInsertBase = 100000;
constexpr int32_t kInsertCount = 10000;

void setup() {
  static bool done = [] {
    runtime_init();
    series_datatype_init();
    block_datatype_init();
    integer_datatype_init();
    g_collector_active = true;
    return true;
  }();
  (void)done;
  g_stack.arguments = g_stack.top = g_stack.bottom;
}

// integer!'s compare handler, through a pointer the optimiser cannot see through.
CompareFn integer_compare_fn() {
  CompareFn f = actions_of(kTypeInteger).compare;
  benchmark::DoNotOptimize(f);
  return f;
}

const std::vector<int32_t>& random_values() {
  static const std::vector<int32_t> v = [] {
    std::mt19937 rng(20240611);
    std::vector<int32_t> v(kSortCount);
    for (auto& x : v) x = int32_t(rng() % 2000000000);
    return v;
  }();
  return v;
}

// A block of [values] as integer! cells, pushed on the data stack.
Cell* push_block_of(const std::vector<int32_t>& values) {
  Cell* b = init_block(stack_push(), int32_t(values.size()));
  SeriesBuffer* buf = series_buffer(b->node());
  Cell* cells = buf->head_cell();
  for (size_t i = 0; i < values.size(); i++) cells[i] = integer_cell(values[i]);
  buf->tail = buf->head + uint32_t(values.size() * sizeof(Cell));
  return b;
}

std::vector<Cell> vector_of(const std::vector<int32_t>& values) {
  std::vector<Cell> v(values.size());
  for (size_t i = 0; i < values.size(); i++) v[i] = integer_cell(values[i]);
  return v;
}

// ---------------------------------------------------------------- append

void append_kiv(benchmark::State& state) {
  setup();
  for (auto _ : state) {
    StackSave save;
    Cell* series = init_block(stack_push(), 1);
    InsertArgs append;
    append.value = stack_push_value(integer_cell(0));
    append.append = true;
    for (int32_t i = 0; i < kAppendCount; i++) {
      integer_set(append.value, i);
      block_insert(series, append);
    }
    if (block_total_length(series) != kAppendCount) state.SkipWithError("wrong length");
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kAppendCount);
}

void append_kiv_entry(benchmark::State& state) {
  setup();
  int32_t refs[16];
  std::fill(refs, refs + 16, kNoRefinement);
  for (auto _ : state) {
    StackSave save;
    Cell* series = init_block(stack_push(), 1);
    for (int32_t i = 0; i < kAppendCount; i++) {
      StackSave call;
      open_native_frame({});
      stack_push_value(*series);
      stack_push_value(integer_cell(i));
      g_actions_table[kActionAppend].entry(refs);
    }
    if (block_total_length(series) != kAppendCount) state.SkipWithError("wrong length");
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kAppendCount);
}

void append_vector(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<Cell> v;
    for (int32_t i = 0; i < kAppendCount; i++) v.push_back(integer_cell(i));
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kAppendCount);
}

// ---------------------------------------------------------------- sort

void sort_kiv(benchmark::State& state) {
  setup();
  StackSave save;
  Cell* series = push_block_of(random_values());
  SortArgs args;  // the plan sort's entry makes for a plain sort of the whole block
  args.plan.count = kSortCount;
  for (auto _ : state) {
    state.PauseTiming();
    Cell* cells = series_buffer(series->node())->head_cell();
    for (int32_t i = 0; i < kSortCount; i++) cells[i] = integer_cell(random_values()[size_t(i)]);
    state.ResumeTiming();
    block_sort(series, args);
  }
  const Cell* cells = series_buffer(series->node())->head_cell();
  for (int32_t i = 1; i < kSortCount; i++)
    if (integer_get(&cells[i - 1]) > integer_get(&cells[i])) state.SkipWithError("not sorted");
  state.SetItemsProcessed(int64_t(state.iterations()) * kSortCount);
}

void sort_std(benchmark::State& state) {
  setup();
  CompareFn compare = integer_compare_fn();
  std::vector<Cell> v;
  for (auto _ : state) {
    state.PauseTiming();
    v = vector_of(random_values());
    state.ResumeTiming();
    std::sort(v.begin(), v.end(), [compare](Cell& a, Cell& b) { return compare(&a, {&b, kCmpSort}) < 0; });
  }
  benchmark::DoNotOptimize(v.data());
  state.SetItemsProcessed(int64_t(state.iterations()) * kSortCount);
}

// ---------------------------------------------------------------- find

void find_kiv(benchmark::State& state) {
  setup();
  StackSave save;
  Cell* block =
      push_block_of(std::vector<int32_t>(random_values().begin(), random_values().begin() + kFindCount));
  Cell* series = stack_push();
  FindArgs find;
  find.value = stack_push_value(integer_cell(-1));
  for (auto _ : state) {
    *series = *block;
    block_find(series, find);
    if (!series->is(kTypeNone)) state.SkipWithError("found a missing value");
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kFindCount);
}

void find_std(benchmark::State& state) {
  setup();
  CompareFn compare = integer_compare_fn();
  std::vector<Cell> v =
      vector_of(std::vector<int32_t>(random_values().begin(), random_values().begin() + kFindCount));
  Cell missing = integer_cell(-1);
  for (auto _ : state) {
    auto it = std::find_if(v.begin(), v.end(), [&](Cell& c) {
      return compare(&c, {&missing, kCmpFindEqual}) == 0;
    });
    if (it != v.end()) state.SkipWithError("found a missing value");
    benchmark::DoNotOptimize(it);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kFindCount);
}

// ---------------------------------------------------------------- insert at the head

void insert_kiv(benchmark::State& state) {
  setup();
  for (auto _ : state) {
    state.PauseTiming();
    StackSave save;
    Cell* block =
        push_block_of(std::vector<int32_t>(random_values().begin(), random_values().begin() + kInsertBase));
    Cell* series = stack_push();
    InsertArgs insert;
    insert.value = stack_push_value(integer_cell(0));
    state.ResumeTiming();
    for (int32_t i = 0; i < kInsertCount; i++) {
      *series = *block;  // insert moves the head past the new cell
      integer_set(insert.value, i);
      block_insert(series, insert);
    }
    if (block_total_length(block) != kInsertBase + kInsertCount) state.SkipWithError("wrong length");
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kInsertCount);
}

void insert_kiv_entry(benchmark::State& state) {
  setup();
  int32_t refs[16];
  std::fill(refs, refs + 16, kNoRefinement);
  for (auto _ : state) {
    state.PauseTiming();
    StackSave save;
    Cell* block =
        push_block_of(std::vector<int32_t>(random_values().begin(), random_values().begin() + kInsertBase));
    state.ResumeTiming();
    for (int32_t i = 0; i < kInsertCount; i++) {
      StackSave call;
      open_native_frame({});
      stack_push_value(*block);
      stack_push_value(integer_cell(i));
      g_actions_table[kActionInsert].entry(refs);
    }
    if (block_total_length(block) != kInsertBase + kInsertCount) state.SkipWithError("wrong length");
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kInsertCount);
}

void insert_vector(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<Cell> v =
        vector_of(std::vector<int32_t>(random_values().begin(), random_values().begin() + kInsertBase));
    state.ResumeTiming();
    for (int32_t i = 0; i < kInsertCount; i++) v.insert(v.begin(), integer_cell(i));
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kInsertCount);
}

}  // namespace

int main(int argc, char** argv) {
  register_benchmarks({
      {"append/kiv", append_kiv},
      {"append/kiv_entry", append_kiv_entry},
      {"append/vector", append_vector},
      {"sort/kiv", sort_kiv},
      {"sort/std_sort", sort_std},
      {"find/kiv", find_kiv},
      {"find/std_find_if", find_std},
      {"insert_head/kiv", insert_kiv},
      {"insert_head/kiv_entry", insert_kiv_entry},
      {"insert_head/vector", insert_vector},
  });
  RatioReporter reporter({
      {"append/kiv", "append/vector", "1.5"},
      {"append/kiv_entry", "append/vector", "-"},
      {"sort/kiv", "sort/std_sort", "1.5"},
      {"find/kiv", "find/std_find_if", "2"},
      {"insert_head/kiv", "insert_head/vector", "O(n)"},
      {"insert_head/kiv_entry", "insert_head/vector", "-"},
  });
  return run_benchmarks(argc, argv, reporter);
}
