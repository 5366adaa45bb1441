// kestrune-step-bench: the cost of the model's base step and slow-rate hit
// against a hand-written kernel of the base-step arithmetic, and of
// fmi2DoStep through the built library against the same number of raw model
// steps, all in one process so that the ratios compare like with like. After
// the benchmarks it prints the figures per base step and the ratios, from
// the median of the repetitions (--benchmark_repetitions=N).
#include "collecting_reporter.h"
#include "fmu/instance.h"
#include "master/fmu_library.h"
#include "master/session.h"
#include "model_drive.h"
#include "step_kernel.h"
#include "tsc.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#ifndef KESTRUNE_LIBRARY_PATH
#error "KESTRUNE_LIBRARY_PATH must name the built unit library"
#endif

namespace {

using namespace kestrune;
using bench::ModelDrive;

constexpr int SLOW_PERIOD_STEPS = 20;
constexpr int BASE_STEPS_PER_PERIOD = SLOW_PERIOD_STEPS - 1;
// Slow periods in the input table: the references recorded for them repeat
// with it.
constexpr std::size_t REFERENCE_TABLE_PERIODS = bench::INPUT_TABLE_STEPS / SLOW_PERIOD_STEPS;

double ticksPerNs = 1.0;
std::uint64_t overheadTicks = 0;

// Seconds of a measured interval, less the cost of reading the counter.
double intervalSeconds(std::uint64_t t0, std::uint64_t t1) {
    const std::uint64_t ticks = t1 - t0 > overheadTicks ? t1 - t0 - overheadTicks : 0;
    return static_cast<double>(ticks) / ticksPerNs * 1e-9;
}

// The statically linked model, warmed up once: the loop is locked.
ModelDrive &drive() {
    static ModelDrive d;
    static const bool warm = (d.warmUp(), true);
    (void)warm;
    return d;
}

// The kernel's state taken from the model's, so that both continue the same
// run.
bench::KernelState kernelFromModel() {
    bench::KernelState k{};
    k.baseTick = libraryModel.record.baseTickLow +
                 (static_cast<std::uint64_t>(libraryModel.record.baseTickHigh) << 32U);
    std::memcpy(k.filterState, libraryModel.work.modulation.filterState, sizeof k.filterState);
    std::memcpy(k.sine, libraryModel.work.modulation.sineLast, sizeof k.sine);
    std::memcpy(k.cosine, libraryModel.work.modulation.cosineLast, sizeof k.cosine);
    std::memcpy(k.reference, libraryModel.signals.modulation.heldReferenceAbc, sizeof k.reference);
    return k;
}

struct KernelRun {
    bench::KernelState state{};
    std::vector<std::array<double, 3>> references; // heldReferenceAbc of each slow period
    double stepSine[3]{};
    double stepCosine[3]{};
    long step = 0; // the base step the kernel computes next
};

// Runs the kernel beside the model over one input table (3 grid cycles),
// requires the same gates, snapshot and filtered signals after every step,
// and keeps the references of the model's slow periods for the kernel's
// benchmark. Exits when they differ: the comparison would be meaningless.
KernelRun &kernelRun() {
    static KernelRun run = [] {
        KernelRun r;
        ModelDrive &d = drive();
        d.stepUntilHitIs(true);
        r.state = kernelFromModel();
        r.step = d.stepCount();
        std::memcpy(r.stepSine, libraryModel.parameters.modulation.reference.stepSine, sizeof r.stepSine);
        std::memcpy(r.stepCosine, libraryModel.parameters.modulation.reference.stepCosine,
                    sizeof r.stepCosine);
        bench::KernelState &k = r.state;
        for (std::size_t i = 0; i < bench::INPUT_TABLE_STEPS; ++i) {
            const bool hit = bench::isSlowRateHitNext();
            if (hit) {
                std::memcpy(k.reference, libraryModel.work.modulation.referenceTransferBuffer,
                            sizeof k.reference);
            }
            bench::kernelStep(k, d.inputsOfNextStep().data(), r.stepSine, r.stepCosine);
            d.step();
            if (hit) {
                r.references.push_back({k.reference[0], k.reference[1], k.reference[2]});
            }
            const ModulationSignals &s = libraryModel.signals.modulation;
            const double filtered[7] = {s.measuredVoltageAbc[0], s.measuredVoltageAbc[1],
                                        s.measuredVoltageAbc[2], s.measuredCurrentAbc[0],
                                        s.measuredCurrentAbc[1], s.measuredCurrentAbc[2],
                                        s.measuredDcVoltage};
            if (std::memcmp(k.gates, libraryModel.outputs.gates, sizeof k.gates) != 0 ||
                std::memcmp(k.snapshot, currentInstance->outputSnapshot, sizeof k.snapshot) != 0 ||
                std::memcmp(k.filtered, filtered, sizeof filtered) != 0 ||
                std::memcmp(k.filterState, libraryModel.work.modulation.filterState, sizeof k.filterState) !=
                    0 ||
                std::memcmp(k.sine, libraryModel.work.modulation.sineLast, sizeof k.sine) != 0) {
                std::fprintf(stderr, "the hand kernel and modelStep differ after base step %ld\n",
                             d.stepCount());
                std::exit(1);
            }
        }
        r.step += static_cast<long>(bench::INPUT_TABLE_STEPS);
        return r;
    }();
    return run;
}

// The 19 base steps of a slow period, timed together; the hit before them
// runs untimed.
void modelStepBase(benchmark::State &state) {
    ModelDrive &d = drive();
    for (auto _ : state) {
        d.stepUntilHitIs(false);
        const std::uint64_t t0 = bench::tscBegin();
        while (!bench::isSlowRateHitNext()) {
            d.step();
        }
        state.SetIterationTime(intervalSeconds(t0, bench::tscEnd()));
    }
}

// The slow-rate hit alone; the base steps between hits run untimed.
void modelStepHit(benchmark::State &state) {
    ModelDrive &d = drive();
    for (auto _ : state) {
        d.stepUntilHitIs(true);
        const std::uint64_t t0 = bench::tscBegin();
        d.step();
        state.SetIterationTime(intervalSeconds(t0, bench::tscEnd()));
    }
}

// A whole slow period, hit included: the mean cost of a base step.
void modelStepPeriod(benchmark::State &state) {
    ModelDrive &d = drive();
    d.stepUntilHitIs(true);
    for (auto _ : state) {
        for (int i = 0; i < SLOW_PERIOD_STEPS; ++i) {
            d.step();
        }
    }
}

// The kernel on the same 19 base steps of each slow period, with the model's
// reference of that period; its step at the hit runs untimed.
void kernelBase(benchmark::State &state) {
    KernelRun &r = kernelRun();
    const std::vector<master::Inputs> inputs = bench::gridInputTable();
    for (auto _ : state) {
        const auto period = static_cast<std::size_t>(r.step / SLOW_PERIOD_STEPS);
        std::memcpy(r.state.reference, r.references[period % REFERENCE_TABLE_PERIODS].data(),
                    sizeof r.state.reference);
        bench::kernelStep(r.state, inputs[static_cast<std::size_t>(r.step) % bench::INPUT_TABLE_STEPS].data(),
                          r.stepSine, r.stepCosine);
        ++r.step;
        const std::uint64_t t0 = bench::tscBegin();
        for (int i = 0; i < BASE_STEPS_PER_PERIOD; ++i) {
            bench::kernelStep(r.state,
                              inputs[static_cast<std::size_t>(r.step) % bench::INPUT_TABLE_STEPS].data(),
                              r.stepSine, r.stepCosine);
            ++r.step;
        }
        state.SetIterationTime(intervalSeconds(t0, bench::tscEnd()));
        benchmark::DoNotOptimize(r.state);
    }
}

// The built library as a master drives it: the seven inputs in one
// fmi2SetReal, then one fmi2DoStep, with a logger that returns at once.
struct LibraryRun {
    master::FmuLibrary library;
    fmi2Component component = nullptr;
    std::vector<master::Inputs> inputs = bench::gridInputTable();
    long step = 0; // base steps done

    bool communicationStep(int baseSteps) {
        static const fmi2ValueReference vr[7] = {0, 1, 2, 3, 4, 5, 6};
        const master::Fmi2Functions &f = library.fmi();
        const double t = static_cast<double>(step) * bench::BASE_STEP_SECONDS;
        const fmi2Status set = f.setReal(
            component, vr, 7, inputs[static_cast<std::size_t>(step) % bench::INPUT_TABLE_STEPS].data());
        const fmi2Status done = f.doStep(component, t, baseSteps * bench::BASE_STEP_SECONDS, fmi2True);
        step += baseSteps;
        return set == fmi2OK && done == fmi2OK;
    }
};

LibraryRun &libraryRun() {
    static LibraryRun run = [] {
        LibraryRun r;
        if (!r.library.load(KESTRUNE_LIBRARY_PATH)) {
            std::fprintf(stderr, "%s\n", r.library.error().c_str());
            std::exit(1);
        }
        const master::Fmi2Functions &f = r.library.fmi();
        r.component = f.instantiate("bench", fmi2CoSimulation, MODEL_GUID, nullptr, &bench::QUIET_CALLBACKS,
                                    fmi2False, fmi2False);
        if (r.component == nullptr ||
            f.setupExperiment(r.component, fmi2False, 0.0, 0.0, fmi2False, 0.0) != fmi2OK ||
            f.enterInitializationMode(r.component) != fmi2OK ||
            f.exitInitializationMode(r.component) != fmi2OK) {
            std::fprintf(stderr, "the library did not initialize\n");
            std::exit(1);
        }
        for (long i = 0; i < bench::WARM_UP_STEPS / SLOW_PERIOD_STEPS; ++i) {
            if (!r.communicationStep(SLOW_PERIOD_STEPS)) {
                std::fprintf(stderr, "a communication step failed while warming up\n");
                std::exit(1);
            }
        }
        return r;
    }();
    return run;
}

void doStepOf(benchmark::State &state, int baseSteps) {
    LibraryRun &r = libraryRun();
    for (auto _ : state) {
        if (!r.communicationStep(baseSteps)) {
            state.SkipWithError("fmi2DoStep failed");
            break;
        }
    }
}

// The FMI 3.0 library driven the same way: the seven inputs in one
// fmi3SetFloat64, then one fmi3DoStep, with logging off.
struct Library3Run {
    master::FmuLibrary library;
    fmi3Instance instance = nullptr;
    std::vector<master::Inputs> inputs = bench::gridInputTable();
    long step = 0; // base steps done

    bool communicationStep(int baseSteps) {
        static const fmi3ValueReference vr[7] = {0, 1, 2, 3, 4, 5, 6};
        const master::Fmi3Functions &f = library.fmi3();
        const double t = static_cast<double>(step) * bench::BASE_STEP_SECONDS;
        const fmi3Status set = f.fmi3SetFloat64(
            instance, vr, 7, inputs[static_cast<std::size_t>(step) % bench::INPUT_TABLE_STEPS].data(), 7);
        fmi3Boolean eventHandlingNeeded = fmi3False;
        fmi3Boolean terminate = fmi3False;
        fmi3Boolean earlyReturn = fmi3False;
        double reached = 0.0;
        const fmi3Status done = f.fmi3DoStep(instance, t, baseSteps * bench::BASE_STEP_SECONDS, fmi3True,
                                             &eventHandlingNeeded, &terminate, &earlyReturn, &reached);
        step += baseSteps;
        return set == fmi3OK && done == fmi3OK;
    }
};

Library3Run &library3Run() {
    static Library3Run run = [] {
        Library3Run r;
        if (!r.library.load(KESTRUNE_FMI3_LIBRARY_PATH, master::FmiEdition::Fmi3)) {
            std::fprintf(stderr, "%s\n", r.library.error().c_str());
            std::exit(1);
        }
        const master::Fmi3Functions &f = r.library.fmi3();
        r.instance =
            f.fmi3InstantiateCoSimulation("bench", INSTANTIATION_TOKEN, nullptr, fmi3False, fmi3False,
                                          fmi3False, fmi3False, nullptr, 0, nullptr, nullptr, nullptr);
        if (r.instance == nullptr ||
            f.fmi3EnterInitializationMode(r.instance, fmi3False, 0.0, 0.0, fmi3False, 0.0) != fmi3OK ||
            f.fmi3ExitInitializationMode(r.instance) != fmi3OK) {
            std::fprintf(stderr, "the FMI 3.0 library did not initialize\n");
            std::exit(1);
        }
        for (long i = 0; i < bench::WARM_UP_STEPS / SLOW_PERIOD_STEPS; ++i) {
            if (!r.communicationStep(SLOW_PERIOD_STEPS)) {
                std::fprintf(stderr, "a communication step failed while warming up\n");
                std::exit(1);
            }
        }
        return r;
    }();
    return run;
}

void doStep3Of(benchmark::State &state, int baseSteps) {
    Library3Run &r = library3Run();
    for (auto _ : state) {
        if (!r.communicationStep(baseSteps)) {
            state.SkipWithError("fmi3DoStep failed");
            break;
        }
    }
}

// The FMI 3.0 library through scheduled execution, on an instance of its
// own: before each base-rate activation the seven inputs in one
// fmi3SetFloat64, and after the one at a slow-rate tick the slow-rate
// activation, as the master's scheduler runs them.
struct ScheduledRun {
    fmi3Instance instance = nullptr;
    std::vector<master::Inputs> inputs = bench::gridInputTable();
    long step = 0; // base-rate activations done

    bool activateBaseRate() {
        static const fmi3ValueReference vr[7] = {0, 1, 2, 3, 4, 5, 6};
        const master::Fmi3Functions &f = library3Run().library.fmi3();
        const fmi3Status set = f.fmi3SetFloat64(
            instance, vr, 7, inputs[static_cast<std::size_t>(step) % bench::INPUT_TABLE_STEPS].data(), 7);
        const fmi3Status done = f.fmi3ActivateModelPartition(
            instance, VR_BASE_RATE_CLOCK, static_cast<double>(step) * bench::BASE_STEP_SECONDS);
        ++step;
        return set == fmi3OK && done == fmi3OK;
    }
    // The slow-rate activation of the last base-rate tick.
    bool activateSlowRate() {
        return library3Run().library.fmi3().fmi3ActivateModelPartition(
                   instance, VR_SLOW_RATE_CLOCK, static_cast<double>(step - 1) * bench::BASE_STEP_SECONDS) ==
               fmi3OK;
    }
    // The base-rate activations after a slow-rate tick, up to and without
    // the next one.
    bool activateBetweenTicks() {
        for (int i = 1; i < SLOW_PERIOD_STEPS; ++i) {
            if (!activateBaseRate()) {
                return false;
            }
        }
        return true;
    }
};

void noPreemptionLock() {}

ScheduledRun &scheduledRun() {
    static ScheduledRun run = [] {
        ScheduledRun r;
        const master::Fmi3Functions &f = library3Run().library.fmi3();
        r.instance = f.fmi3InstantiateScheduledExecution("bench", INSTANTIATION_TOKEN, nullptr, fmi3False,
                                                         fmi3False, nullptr, nullptr, nullptr,
                                                         noPreemptionLock, noPreemptionLock);
        if (r.instance == nullptr ||
            f.fmi3EnterInitializationMode(r.instance, fmi3False, 0.0, 0.0, fmi3False, 0.0) != fmi3OK ||
            f.fmi3ExitInitializationMode(r.instance) != fmi3OK) {
            std::fprintf(stderr, "the scheduled-execution instance did not initialize\n");
            std::exit(1);
        }
        for (long i = 0; i < bench::WARM_UP_STEPS / SLOW_PERIOD_STEPS; ++i) {
            if (!r.activateBaseRate() || !r.activateSlowRate() || !r.activateBetweenTicks()) {
                std::fprintf(stderr, "an activation failed while warming up\n");
                std::exit(1);
            }
        }
        return r;
    }();
    return run;
}

// The 20 base-rate activations of a slow period (the one at the slow-rate
// tick included), timed together; the slow-rate activation runs untimed.
void activateBaseRateOf(benchmark::State &state) {
    ScheduledRun &r = scheduledRun();
    for (auto _ : state) {
        std::uint64_t t0 = bench::tscBegin();
        bool ok = r.activateBaseRate();
        double seconds = intervalSeconds(t0, bench::tscEnd());
        ok = ok && r.activateSlowRate();
        t0 = bench::tscBegin();
        ok = ok && r.activateBetweenTicks();
        seconds += intervalSeconds(t0, bench::tscEnd());
        if (!ok) {
            state.SkipWithError("fmi3ActivateModelPartition failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
}

// The slow-rate activation alone; the base-rate activations run untimed.
void activateSlowRateOf(benchmark::State &state) {
    ScheduledRun &r = scheduledRun();
    for (auto _ : state) {
        bool ok = r.activateBaseRate();
        const std::uint64_t t0 = bench::tscBegin();
        ok = ok && r.activateSlowRate();
        const double seconds = intervalSeconds(t0, bench::tscEnd());
        ok = ok && r.activateBetweenTicks();
        if (!ok) {
            state.SkipWithError("fmi3ActivateModelPartition failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
}

// The same base steps as raw model steps: the inputs written directly, then
// modelStep once per base step.
void rawModelStepsOf(benchmark::State &state, int baseSteps) {
    ModelDrive &d = drive();
    for (auto _ : state) {
        bench::writeInputs(d.inputsOfNextStep());
        for (int i = 0; i < baseSteps; ++i) {
            modelStep(libraryModel);
            d.advanceCount();
        }
    }
}

// Base steps each benchmark's iteration runs, to give figures per step.
const std::map<std::string, int> STEPS_PER_ITERATION = {
    {"modelStep/base", BASE_STEPS_PER_PERIOD},
    {"modelStep/hit", 1},
    {"modelStep/slowPeriod", SLOW_PERIOD_STEPS},
    {"kernel/base", BASE_STEPS_PER_PERIOD},
    {"fmi2DoStep/1e-4", SLOW_PERIOD_STEPS},
    {"modelStep/raw20", SLOW_PERIOD_STEPS},
    {"fmi2DoStep/5e-6", 1},
    {"modelStep/raw1", 1},
    {"fmi3DoStep/1e-4", SLOW_PERIOD_STEPS},
    {"fmi3DoStep/5e-6", 1},
    {"fmi3Activate/base", SLOW_PERIOD_STEPS}, // per base-rate activation
    {"fmi3Activate/slow", 1},                 // per slow-rate activation
};

void registerBenchmarks() {
    benchmark::RegisterBenchmark("modelStep/base", modelStepBase)->UseManualTime();
    benchmark::RegisterBenchmark("modelStep/hit", modelStepHit)->UseManualTime();
    benchmark::RegisterBenchmark("modelStep/slowPeriod", modelStepPeriod)->UseRealTime();
    benchmark::RegisterBenchmark("kernel/base", kernelBase)->UseManualTime();
    benchmark::RegisterBenchmark("fmi2DoStep/1e-4", doStepOf, SLOW_PERIOD_STEPS)->UseRealTime();
    benchmark::RegisterBenchmark("modelStep/raw20", rawModelStepsOf, SLOW_PERIOD_STEPS)->UseRealTime();
    benchmark::RegisterBenchmark("fmi2DoStep/5e-6", doStepOf, 1)->UseRealTime();
    benchmark::RegisterBenchmark("modelStep/raw1", rawModelStepsOf, 1)->UseRealTime();
    benchmark::RegisterBenchmark("fmi3DoStep/1e-4", doStep3Of, SLOW_PERIOD_STEPS)->UseRealTime();
    benchmark::RegisterBenchmark("fmi3DoStep/5e-6", doStep3Of, 1)->UseRealTime();
    benchmark::RegisterBenchmark("fmi3Activate/base", activateBaseRateOf)->UseManualTime();
    benchmark::RegisterBenchmark("fmi3Activate/slow", activateSlowRateOf)->UseManualTime();
}

using bench::CollectingReporter;

struct Figure {
    double median;
    double low;
    double high;
};

// Median, lowest and highest time per base step over the repetitions.
bool perStep(const CollectingReporter &reporter, const std::string &name, Figure &figure) {
    const std::vector<double> v = reporter.sortedNanoseconds(name);
    if (v.empty()) {
        return false;
    }
    const double steps = STEPS_PER_ITERATION.at(name);
    figure = {bench::medianOfSorted(v) / steps, v.front() / steps, v.back() / steps};
    return true;
}

void printSummary(const CollectingReporter &reporter) {
    std::printf("\nPer base step (median of %zu repetition(s), lowest .. highest):\n",
                reporter.nanoseconds.empty() ? std::size_t{0} : reporter.nanoseconds.begin()->second.size());
    for (const auto &[name, steps] : STEPS_PER_ITERATION) {
        Figure f{};
        if (perStep(reporter, name, f)) {
            std::printf("  %-22s %9.1f ns   (%.1f .. %.1f)\n", name.c_str(), f.median, f.low, f.high);
        }
    }
    struct Ratio {
        const char *label;
        const char *numerator;
        const char *denominator;
        double target; // 0: none
    };
    const Ratio ratios[] = {
        {"base step / hand kernel", "modelStep/base", "kernel/base", 1.5},
        {"fmi2DoStep(1e-4) / 20 modelStep", "fmi2DoStep/1e-4", "modelStep/raw20", 1.1},
        {"fmi2DoStep(5e-6) / 1 modelStep", "fmi2DoStep/5e-6", "modelStep/raw1", 0.0},
        {"fmi3DoStep(1e-4) / fmi2DoStep(1e-4)", "fmi3DoStep/1e-4", "fmi2DoStep/1e-4", 1.0},
        {"fmi3DoStep(5e-6) / fmi2DoStep(5e-6)", "fmi3DoStep/5e-6", "fmi2DoStep/5e-6", 1.05},
        {"slow-rate hit / base step", "modelStep/hit", "modelStep/base", 0.0},
        {"base-rate activation / fmi3DoStep(5e-6)", "fmi3Activate/base", "fmi3DoStep/5e-6", 0.0},
        {"slow-rate activation / fmi3DoStep(5e-6)", "fmi3Activate/slow", "fmi3DoStep/5e-6", 0.0},
    };
    std::printf("\nRatios (of the medians):\n");
    for (const Ratio &r : ratios) {
        Figure a{};
        Figure b{};
        if (!perStep(reporter, r.numerator, a) || !perStep(reporter, r.denominator, b)) {
            continue;
        }
        if (r.target > 0.0) {
            std::printf("  %-40s %6.2f   target <= %.2f\n", r.label, a.median / b.median, r.target);
        } else {
            std::printf("  %-40s %6.2f\n", r.label, a.median / b.median);
        }
    }
    Figure period{};
    if (perStep(reporter, "modelStep/slowPeriod", period)) {
        std::printf("\nReal-time factor of the model step alone: %.0f simulated s per wall-clock s\n",
                    bench::BASE_STEP_SECONDS * 1e9 / period.median);
    }
}

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    ticksPerNs = bench::tscTicksPerNanosecond();
    overheadTicks = bench::tscOverheadTicks();
    std::printf("time-stamp counter: %.3f ticks/ns, %llu ticks per reading pair (subtracted)\n", ticksPerNs,
                static_cast<unsigned long long>(overheadTicks));
    // Warm both runs and check the kernel before anything is measured.
    kernelRun();
    libraryRun();
    registerBenchmarks();
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
