// A console reporter that also keeps each repetition's real time per
// iteration, for the summaries the benchmarks print after their runs.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace kestrune::bench {

class CollectingReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                nanoseconds[run.run_name.function_name].push_back(
                    run.GetAdjustedRealTime() * benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                    benchmark::GetTimeUnitMultiplier(run.time_unit));
            }
        }
    }

    // The times of `name`, lowest first; empty when it did not run.
    std::vector<double> sortedNanoseconds(const std::string &name) const {
        const auto found = nanoseconds.find(name);
        if (found == nanoseconds.end()) {
            return {};
        }
        std::vector<double> v = found->second;
        std::sort(v.begin(), v.end());
        return v;
    }

    std::map<std::string, std::vector<double>> nanoseconds; // per iteration, one per repetition
};

// The median of values sorted lowest first (at least one).
inline double medianOfSorted(const std::vector<double> &v) {
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

} // namespace kestrune::bench
