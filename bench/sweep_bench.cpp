// A sweep's runs, one at a time on one worker: short runs (0.1 ms) on units
// opened afresh for each run against units reused from run to run, and runs
// of a sag (0.35 s, the first 0.3 s shared by every run) from zero against
// continued from the shared past. Each iteration is one run, its row made.
#include "sweep_run.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace {

using namespace kestrune::sweep;

// A sweep read from its text; its plan with or without the shared steps.
std::unique_ptr<SweepPlan> plan(const std::string &text, bool branch) {
    SweepDefinition definition;
    if (!parseSweep(text, "bench.json", KESTRUNE_SCENARIO_DIR, definition).empty())
        return nullptr;
    auto result = std::make_unique<SweepPlan>();
    planSweep(definition, KESTRUNE_FMU3_PATH, *result, branch);
    return result;
}

const char *const SHORT = R"({"name": "short", "scenario": "startup500", "duration": 0.0001,
    "axes": [{"key": "capacitance", "values": [0.045, 0.05, 0.055]}]})";
const char *const SAG = R"({"name": "sag", "scenario": "sag20", "duration": 0.35,
    "axes": [{"key": "events[0].value", "values": [0.9, 0.7, 0.5, 0.3]}]})";

// fresh: each run on units of its own (the archive opened each time).
void shortRuns(benchmark::State &state, bool fresh) {
    const std::unique_ptr<SweepPlan> p = plan(SHORT, false);
    if (p == nullptr) {
        state.SkipWithError("the sweep did not parse");
        return;
    }
    Runner runner(*p);
    std::size_t run = 0;
    for (auto _ : state) {
        const std::string row = fresh ? runRow(*p, run % 3) : runner.row(run % 3);
        benchmark::DoNotOptimize(row.data());
        ++run;
    }
}

// branch: the runs continue from their shared first 0.3 s, kept by a first
// run outside the timing.
void sagRuns(benchmark::State &state, bool branch) {
    const std::unique_ptr<SweepPlan> p = plan(SAG, branch);
    if (p == nullptr || (branch && p->sharedSteps == 0)) {
        state.SkipWithError("the sweep did not parse, or its runs share nothing");
        return;
    }
    Runner runner(*p);
    runner.row(0);
    std::size_t run = 1;
    for (auto _ : state) {
        const std::string row = runner.row(run % 4);
        benchmark::DoNotOptimize(row.data());
        ++run;
    }
}

} // namespace

int main(int argc, char **argv) {
    benchmark::RegisterBenchmark("shortRun/freshUnits", shortRuns, true)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("shortRun/reusedUnits", shortRuns, false)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("sagRun/fromZero", sagRuns, false)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("sagRun/branched", sagRuns, true)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
