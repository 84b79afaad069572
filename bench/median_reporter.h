// A console reporter that also keeps each benchmark's median real time, so a
// benchmark program can print Kiv-to-reference ratios after the usual output.
#pragma once

#include <benchmark/benchmark.h>

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
