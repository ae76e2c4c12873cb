// The console output of Google Benchmark, followed by a summary table per job shape: throughput of KQPRINT
// and the floors, the ratios, time per byte, writes against what the commands imply, and peak memory.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace kqbench {

class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    explicit SummaryReporter(std::string tableFile) : tableFile_(std::move(tableFile)) {}
    void ReportRuns(const std::vector<Run>& reports) override;
    void Finalize() override;
    bool AllWritesAsExpected() const { return writesOk_; }

  private:
    struct Case {
        std::vector<double> nanoseconds;     // per job, one entry per repetition shown
        std::vector<double> medianAggregate; // per job, the median of the repetitions when only that is shown
        std::map<std::string, double> counters;
        bool failed = false;
    };
    // runner ("kqprint", "bare", "memcpy"), shape, size label
    using Key = std::tuple<std::string, std::string, std::string>;
    std::map<Key, Case> cases_;
    std::vector<std::string> shapes_;
    std::vector<std::string> sizes_;
    std::string tableFile_;
    bool writesOk_ = true;
};

} // namespace kqbench
