// The closed loop against the unit alone: per base step the seven inputs
// written, one fmi2DoStep(5e-6) and the twelve gates read. plainLoop does
// that through the library's function pointers and nothing else (the floor
// any loop around the unit stands on); unitAlone through the runner's own
// UnitDriver; the closed loop adds the plant, the figures, the CSV and the
// runner around it. Each iteration is a run of 0.6 s (120,000 base steps,
// the shipped scenarios' length) timed from instantiation to the last step,
// the same span as the runner's wall time.
#include "closed_loop.h"
#include "master/fmu_archive.h"
#include "master/fmu_library.h"
#include "master/grid.h"
#include "outputs.h"
#include "unit_driver.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace kestrune;

double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

constexpr double RUN_SECONDS = 0.6;
constexpr long RUN_STEPS = 120000;
constexpr double STEP = BASE_STEP;

// The inputs of a balanced grid with an in-phase current of about 0.4 pu
// (200 kW), as the plant gives them in steady state, per base step.
std::vector<master::Inputs> steadyInputs() {
    std::vector<master::Inputs> inputs(RUN_STEPS + 1);
    for (std::size_t k = 0; k < inputs.size(); ++k)
        inputs[k] = master::gridInputs({.currentPeak = 277.0}, static_cast<double>(k) * STEP);
    return inputs;
}

// The unit straight through its library's functions: no driver, no session,
// no status checked beyond the loop's end.
void plainLoop(benchmark::State &state) {
    master::RecordingLogger logger;
    logger.setRecordOk(false);
    master::UnpackedFmu fmu;
    if (!fmu.open(KESTRUNE_FMU_PATH)) {
        state.SkipWithError(fmu.error().c_str());
        return;
    }
    const std::vector<master::Inputs> inputs = steadyInputs();
    constexpr auto inputRefs = master::UNIT_INPUTS;
    constexpr auto gateRefs = master::UNIT_GATES;
    master::Gates gates{};
    double cpuSeconds = 0.0;
    for (auto _ : state) {
        master::FmuLibrary library; // freshly loaded per run, as the runner loads it
        if (!library.loadFreshCopy(fmu.libraryPath())) {
            state.SkipWithError(library.error().c_str());
            return;
        }
        const master::Fmi2Functions &f = library.fmi();
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = threadSeconds();
        fmi2Component c = f.instantiate("kestrune", fmi2CoSimulation, MODEL_GUID, fmu.resourceUri().c_str(),
                                        logger.callbacks(), fmi2False, fmi2False);
        int failures = c == nullptr ? 1 : 0;
        if (c != nullptr) {
            failures += f.setupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0) != fmi2OK;
            failures += f.enterInitializationMode(c) != fmi2OK;
            failures += f.setReal(c, inputRefs.data(), inputRefs.size(), inputs[0].data()) != fmi2OK;
            failures += f.exitInitializationMode(c) != fmi2OK;
            for (long k = 0; k < RUN_STEPS; ++k) {
                const auto i = static_cast<std::size_t>(k);
                failures += f.setReal(c, inputRefs.data(), inputRefs.size(), inputs[i].data()) != fmi2OK;
                failures += f.doStep(c, static_cast<double>(k) * STEP, STEP, fmi2True) != fmi2OK;
                failures += f.getReal(c, gateRefs.data(), gateRefs.size(), gates.data()) != fmi2OK;
            }
        }
        const auto end = std::chrono::steady_clock::now();
        cpuSeconds += threadSeconds() - cpuStart;
        if (c != nullptr) {
            f.terminate(c);
            f.freeInstance(c);
        }
        logger.clear();
        if (failures != 0) {
            state.SkipWithError("the unit failed");
            return;
        }
        benchmark::DoNotOptimize(gates);
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.counters["cpu"] = benchmark::Counter(cpuSeconds, benchmark::Counter::kAvgIterations);
}

// The unit alone: the inputs of a balanced grid with an in-phase current of
// about 0.4 pu (200 kW), as the plant gives them in steady state.
void unitAlone(benchmark::State &state) {
    master::RecordingLogger logger;
    logger.setRecordOk(false);
    const std::vector<master::Inputs> inputs = steadyInputs();
    master::Gates gates{};
    double cpuSeconds = 0.0;
    for (auto _ : state) {
        // A freshly loaded library per run, as the runner loads it.
        sim::UnitSet units;
        if (const std::string problem = units.open(KESTRUNE_FMU_PATH, 1, logger); !problem.empty()) {
            state.SkipWithError(problem.c_str());
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = threadSeconds();
        sim::UnitDriver &unit = units[0];
        std::string problem = unit.instantiate("kestrune", false);
        bool ok = problem.empty() && unit.initialize(inputs[0]) && unit.readGates(gates);
        for (long k = 0; k < RUN_STEPS && ok; ++k)
            ok = unit.setInputs(inputs[static_cast<std::size_t>(k)]) &&
                 unit.doStep(static_cast<double>(k) * STEP, STEP) && unit.readGates(gates);
        const auto end = std::chrono::steady_clock::now();
        cpuSeconds += threadSeconds() - cpuStart;
        unit.terminate();
        logger.clear();
        if (!ok) {
            problem = "the unit failed: " + (problem.empty() ? unit.failure() : problem);
            state.SkipWithError(problem.c_str());
            return;
        }
        benchmark::DoNotOptimize(gates);
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.counters["cpu"] = benchmark::Counter(cpuSeconds, benchmark::Counter::kAvgIterations);
}

// The runner's loop on a shipped scenario of 0.6 s, writing its CSV as the
// runner does (rows formatted and written on a thread of their own), or all
// on the loop's thread (direct). The time runs to the CSV's close, which
// waits for the rows still queued.
void closedLoop(benchmark::State &state, const char *scenarioName, sim::CsvRows::Writer writer) {
    const std::string directory = (std::filesystem::temp_directory_path() / "kestrune-loop-bench").string();
    std::filesystem::create_directories(directory);
    const sim::ParseResult parsed =
        sim::parseOptions({"--scenario", scenarioName}, KESTRUNE_FMU_PATH, KESTRUNE_SCENARIO_DIR);
    sim::RunPlan plan;
    if (parsed.action != sim::ParseResult::Action::Run || !sim::planRun(parsed.options, plan).empty()) {
        state.SkipWithError("the scenario did not plan");
        return;
    }
    double cpuSeconds = 0.0;
    for (auto _ : state) {
        sim::CsvRows csv(directory + "/" + scenarioName + ".csv", plan.scenario, writer);
        std::ostringstream err;
        const sim::ClosedLoopResult result =
            sim::runClosedLoop(parsed.options.fmu, plan, false, &csv, nullptr, err);
        const auto closing = std::chrono::steady_clock::now();
        const bool written = csv.close();
        const double closeSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - closing).count();
        if (!result.ok || result.stepsDone != RUN_STEPS || !written) {
            state.SkipWithError(!result.ok ? result.error.c_str()
                                : written  ? "the run stopped early"
                                           : "the CSV was not written");
            return;
        }
        state.SetIterationTime(result.wallSeconds + closeSeconds);
        cpuSeconds += result.cpuSeconds;
    }
    state.counters["cpu"] = benchmark::Counter(cpuSeconds, benchmark::Counter::kAvgIterations);
}

class CollectingReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                seconds[run.run_name.function_name].push_back(
                    run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit));
                if (const auto cpu = run.counters.find("cpu"); cpu != run.counters.end())
                    cpuSeconds[run.run_name.function_name].push_back(cpu->second.value);
            }
    }
    // Per case, one per repetition: wall time and the thread's processor time.
    std::map<std::string, std::vector<double>> seconds;
    std::map<std::string, std::vector<double>> cpuSeconds;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

void printSummary(const CollectingReporter &reporter) {
    // [ns] per base step, by wall time and by processor time
    std::map<std::string, double> perStep;
    std::map<std::string, double> cpuPerStep;
    std::printf("\nPer base step (median of the repetitions; wall time, then the thread's processor\n"
                "time, which leaves out waiting for a busy machine) and real-time factor (wall):\n");
    for (const auto &[name, runs] : reporter.seconds) {
        perStep[name] = median(runs) / RUN_STEPS * 1e9;
        const auto cpu = reporter.cpuSeconds.find(name);
        cpuPerStep[name] = cpu == reporter.cpuSeconds.end() ? 0.0 : median(cpu->second) / RUN_STEPS * 1e9;
        std::printf("  %-22s %8.1f ns   cpu %8.1f ns   real-time factor %6.1f\n", name.c_str(), perStep[name],
                    cpuPerStep[name], RUN_SECONDS / median(runs));
    }
    auto ratio = [&](const char *label, const char *a, const char *b, const char *target) {
        if (perStep.count(a) != 0 && perStep.count(b) != 0)
            std::printf("  %-34s %6.2f   cpu %6.2f   target %s\n", label, perStep[a] / perStep[b],
                        cpuPerStep[a] / cpuPerStep[b], target);
    };
    std::printf("\nRatios (of the medians):\n");
    ratio("closed loop / plain loop", "closedLoop/one", "plainLoop", "<= 1.30");
    ratio("two converters / one", "closedLoop/two", "closedLoop/one", "< 2.00");
    ratio("unit alone / plain loop", "unitAlone", "plainLoop", "-");
    ratio("direct CSV: closed loop / plain loop", "closedLoop/one/direct", "plainLoop", "-");
    ratio("direct CSV: two converters / one", "closedLoop/two/direct", "closedLoop/one/direct", "-");
}

} // namespace

int main(int argc, char **argv) {
    benchmark::RegisterBenchmark("plainLoop", plainLoop)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("unitAlone", unitAlone)->UseManualTime()->Unit(benchmark::kMillisecond);
    using Writer = sim::CsvRows::Writer;
    const std::tuple<const char *, const char *, Writer> loops[] = {
        {"closedLoop/one", "startup500", Writer::Background},
        {"closedLoop/two", "pair_stiff", Writer::Background},
        {"closedLoop/one/direct", "startup500", Writer::Direct},
        {"closedLoop/two/direct", "pair_stiff", Writer::Direct},
    };
    for (const auto &[name, scenario, writer] : loops)
        benchmark::RegisterBenchmark(name, closedLoop, scenario, writer)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
