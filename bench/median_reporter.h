// A console reporter that also keeps each benchmark's median real time, so a
// benchmark program can print Kiv-to-reference ratios after the usual output.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      // With repetitions keep the median; without, the single run.
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      if (run.run_type == Run::RT_Iteration && run.repetitions > 1) continue;
      medians_[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
  }

 protected:
  std::map<std::string, double> medians_;
};

// One line of a ratio table: a Kiv run, the reference it is measured against
// and the ratio the project aims for ("-" when none).
struct RatioRow {
  const char* kiv;
  const char* reference;
  const char* target;
};

// Console output as usual, then each Kiv run's median as a ratio of its
// reference's, in the benchmarks' own time unit.
class RatioReporter : public MedianReporter {
 public:
  explicit RatioReporter(std::vector<RatioRow> rows) : rows_(std::move(rows)) {}

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-24s %12s %12s %7s %7s\n", "kiv run", "kiv", "reference", "ratio", "target");
    for (const RatioRow& r : rows_) {
      double k = median(r.kiv), ref = median(r.reference);
      if (k > 0 && ref > 0)
        std::printf("%-24s %12.4g %12.4g %7.2f %7s\n", r.kiv, k, ref, k / ref, r.target);
      else  // a run that was filtered out or failed (its error is printed above)
        std::printf("%-24s %12s %12s %7s %7s\n", r.kiv, k > 0 ? "" : "-", ref > 0 ? "" : "-", "-", r.target);
    }
  }

 protected:
  double median(const std::string& name) const {
    auto it = medians_.find(name);
    return it == medians_.end() ? 0.0 : it->second;
  }

 private:
  std::vector<RatioRow> rows_;
};

// A benchmark function under its name, timed in real milliseconds.
struct BenchEntry {
  const char* name;
  void (*fn)(benchmark::State&);
};
inline void register_benchmarks(std::initializer_list<BenchEntry> entries) {
  for (const BenchEntry& e : entries)
    benchmark::RegisterBenchmark(e.name, e.fn)->Unit(benchmark::kMillisecond)->UseRealTime();
}

// Runs the registered benchmarks through [reporter]: the body of every
// benchmark program's main.
inline int run_benchmarks(int argc, char** argv, benchmark::BenchmarkReporter& reporter) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
