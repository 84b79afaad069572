// map! and hash! lookups against their references, side by side in one run:
//   map put+select   1,000,000 distinct string keys ("key000000" ...) put into
//                    an empty map! with integer values, then every key selected
//                    again in a shuffled order; the reference is
//                    std::unordered_map<std::string, int32_t> doing the same
//                    (try_emplace, then find). Both copy each key on insertion.
//   hash! find       100 values found in a hash! of 1,000,000 random integers
//                    through its index; the reference is the same finds on a
//                    block! of the same values (a linear scan each).
// The Kiv side calls the handlers map! and block! register, with their
// arguments on the data stack as the action entries pass them; the string keys
// and the hash! are made outside the timed region. The collector is on, as
// after start-up. A table of median ratios follows the runs (below 1: Kiv is
// faster).
//
//   bench/map_bench [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "boot/init.h"
#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/block_modify.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "median_reporter.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace {

using namespace kiv;

constexpr int32_t kKeys = 1000000;
constexpr int32_t kHashValues = 1000000;
constexpr int32_t kFinds = 100;

void setup() {
  static bool done = [] {
    runtime_init();
    g_collector_active = true;
    return true;
  }();
  (void)done;
  g_stack.arguments = g_stack.top = g_stack.bottom;
}

struct Workload {
  std::vector<std::string> names;
  std::vector<int32_t> shuffled;  // the lookup order
};

const Workload& workload() {
  static const Workload w = [] {
    Workload w;
    char buffer[16];
    for (int32_t i = 0; i < kKeys; i++) {
      std::snprintf(buffer, sizeof buffer, "key%06d", i);
      w.names.emplace_back(buffer);
      w.shuffled.push_back(i);
    }
    std::shuffle(w.shuffled.begin(), w.shuffled.end(), std::mt19937(20240611));
    return w;
  }();
  return w;
}

// ---------------------------------------------------------------- map!

// The names as string! values in a block, pushed on the data stack.
Cell* push_names() {
  const Workload& w = workload();
  Cell* block = init_block(stack_push(), kKeys);
  Cell* s = stack_push();
  for (const std::string& n : w.names) {
    string_make_at(s, 16);
    string_append_utf8(s, n);
    block_append_value(block, s);
  }
  stack_pop(1);
  return block;
}

void map_kiv(benchmark::State& state) {
  setup();
  const Workload& w = workload();
  StackSave save;
  Cell* names = push_names();
  int64_t checksum = 0;
  for (auto _ : state) {
    StackSave round;
    Cell* map = map_make_at(stack_push(), 0, 0);
    PutArgs put;
    put.key = stack_push();
    put.value = stack_push_value(integer_cell(0));
    for (int32_t i = 0; i < kKeys; i++) {
      *put.key = series_cells(names->node())[i];
      integer_set(put.value, i);
      map_put(map, put);
    }
    SelectArgs select;
    select.value = stack_push();
    Cell* result = stack_push();
    for (int32_t i : w.shuffled) {
      *select.value = series_cells(names->node())[i];
      *result = *map;
      checksum += integer_get(map_select(result, select));
    }
    if (map_pair_count(map) != kKeys) state.SkipWithError("wrong key count");
  }
  benchmark::DoNotOptimize(checksum);
  if (checksum != int64_t(state.iterations()) * kKeys * (kKeys - 1) / 2) state.SkipWithError("wrong values");
  state.SetItemsProcessed(int64_t(state.iterations()) * 2 * kKeys);
}

void map_std(benchmark::State& state) {
  const Workload& w = workload();
  int64_t checksum = 0;
  for (auto _ : state) {
    std::unordered_map<std::string, int32_t> map;
    for (int32_t i = 0; i < kKeys; i++) map.try_emplace(w.names[size_t(i)], i);
    for (int32_t i : w.shuffled) checksum += map.find(w.names[size_t(i)])->second;
    if (map.size() != size_t(kKeys)) state.SkipWithError("wrong key count");
  }
  benchmark::DoNotOptimize(checksum);
  if (checksum != int64_t(state.iterations()) * kKeys * (kKeys - 1) / 2) state.SkipWithError("wrong values");
  state.SetItemsProcessed(int64_t(state.iterations()) * 2 * kKeys);
}

// ---------------------------------------------------------------- hash! find

struct FindWorkload {
  std::vector<int32_t> values;  // the block's values, distinct
  std::vector<int32_t> wanted;  // positions of the values found
};

const FindWorkload& find_workload() {
  static const FindWorkload w = [] {
    FindWorkload w;
    std::mt19937 rng(20240612);
    w.values.resize(kHashValues);
    for (int32_t i = 0; i < kHashValues; i++) w.values[size_t(i)] = i;
    std::shuffle(w.values.begin(), w.values.end(), rng);
    for (int32_t i = 0; i < kFinds; i++) w.wanted.push_back(int32_t(rng() % kHashValues));
    return w;
  }();
  return w;
}

// A block! (or hash!, indexed) of the workload's values, pushed.
Cell* push_values(TypeId type) {
  const FindWorkload& w = find_workload();
  Cell* b = init_block(stack_push(), kHashValues);
  SeriesBuffer* buf = series_buffer(b->node());
  for (int32_t i = 0; i < kHashValues; i++) buf->head_cell()[i] = integer_cell(w.values[size_t(i)]);
  buf->tail = buf->head + uint32_t(kHashValues) * sizeof(Cell);
  b->set_type(type);
  series_hash_index_new(b);
  return b;
}

void find_in(benchmark::State& state, TypeId type) {
  setup();
  const FindWorkload& w = find_workload();
  StackSave save;
  Cell* block = push_values(type);
  Cell* series = stack_push();
  FindArgs find;
  find.value = stack_push_value(integer_cell(0));
  int64_t checksum = 0;
  for (auto _ : state) {
    for (int32_t at : w.wanted) {
      integer_set(find.value, w.values[size_t(at)]);
      *series = *block;
      block_find(series, find);
      checksum += series->head();
    }
  }
  benchmark::DoNotOptimize(checksum);
  int64_t expected = 0;
  for (int32_t at : w.wanted) expected += at;
  if (checksum != expected * int64_t(state.iterations())) state.SkipWithError("wrong positions");
  state.SetItemsProcessed(int64_t(state.iterations()) * kFinds);
}

void find_hash(benchmark::State& state) { find_in(state, kTypeHash); }
void find_block(benchmark::State& state) { find_in(state, kTypeBlock); }

}  // namespace

int main(int argc, char** argv) {
  register_benchmarks({{"map_put_select_kiv", map_kiv},
                       {"map_put_select_std", map_std},
                       {"hash_find_kiv", find_hash},
                       {"block_find_linear", find_block}});
  RatioReporter reporter(
      {{"map_put_select_kiv", "map_put_select_std", "-"}, {"hash_find_kiv", "block_find_linear", "-"}});
  return run_benchmarks(argc, argv, reporter);
}
