// kestrune-instances-bench: how the FMI 3.0 library's communication step at
// one base step (fmi3SetFloat64 of the seven inputs, then fmi3DoStep(5e-6))
// scales with the instances a master runs: 1,000 live instances stepped in
// turn against one alone, and two instances on two threads against the same
// two stepped on one thread. Prints the ratios of the medians after the
// benchmarks (--benchmark_repetitions=N).
#include "collecting_reporter.h"
#include "master/fmu_library.h"
#include "master/session.h"
#include "model/initialize.h"
#include "model/records.h"
#include "model/step.h"
#include "model_drive.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#ifndef KESTRUNE_FMI3_LIBRARY_PATH
#error "KESTRUNE_FMI3_LIBRARY_PATH must name the built FMI 3.0 library"
#endif

namespace {

using namespace kestrune;

constexpr int MANY_INSTANCES = 1000;
// Base steps each thread runs per iteration of the thread benchmarks: long
// enough that starting a thread is lost in it.
constexpr long THREAD_BATCH = 20000;

master::FmuLibrary &library() {
    static master::FmuLibrary l = [] {
        master::FmuLibrary loaded;
        if (!loaded.load(KESTRUNE_FMI3_LIBRARY_PATH, master::FmiEdition::Fmi3)) {
            std::fprintf(stderr, "%s\n", loaded.error().c_str());
            std::exit(1);
        }
        return loaded;
    }();
    return l;
}

const std::vector<master::Inputs> &inputTable() {
    static const std::vector<master::Inputs> table = bench::gridInputTable();
    return table;
}

// One initialized co-simulation instance and the base steps it has done;
// a cache line of its own, so that threads stepping neighbours share none.
struct alignas(64) Stepped {
    fmi3Instance instance = nullptr;
    long step = 0;

    bool communicationStep() {
        static const fmi3ValueReference vr[7] = {0, 1, 2, 3, 4, 5, 6};
        const master::Fmi3Functions &f = library().fmi3();
        const double t = static_cast<double>(step) * bench::BASE_STEP_SECONDS;
        const fmi3Status set = f.fmi3SetFloat64(
            instance, vr, 7, inputTable()[static_cast<std::size_t>(step) % bench::INPUT_TABLE_STEPS].data(),
            7);
        fmi3Boolean eventHandlingNeeded = fmi3False;
        fmi3Boolean terminate = fmi3False;
        fmi3Boolean earlyReturn = fmi3False;
        double reached = 0.0;
        const fmi3Status done = f.fmi3DoStep(instance, t, bench::BASE_STEP_SECONDS, fmi3True,
                                             &eventHandlingNeeded, &terminate, &earlyReturn, &reached);
        ++step;
        return set == fmi3OK && done == fmi3OK;
    }
};

Stepped made(const char *name) {
    const master::Fmi3Functions &f = library().fmi3();
    Stepped s;
    s.instance = f.fmi3InstantiateCoSimulation(name, INSTANTIATION_TOKEN, nullptr, fmi3False, fmi3False,
                                               fmi3False, fmi3False, nullptr, 0, nullptr, nullptr, nullptr);
    if (s.instance == nullptr ||
        f.fmi3EnterInitializationMode(s.instance, fmi3False, 0.0, 0.0, fmi3False, 0.0) != fmi3OK ||
        f.fmi3ExitInitializationMode(s.instance) != fmi3OK) {
        std::fprintf(stderr, "an FMI 3.0 instance did not initialize\n");
        std::exit(1);
    }
    return s;
}

// count instances, all live while any benchmark runs, each warmed up by a
// slow period of steps.
std::vector<Stepped> &instances(int count) {
    static std::map<int, std::vector<Stepped>> made_;
    std::vector<Stepped> &v = made_[count];
    if (v.empty()) {
        for (int k = 0; k < count; ++k) {
            v.push_back(made("bench"));
            for (int i = 0; i < 20; ++i) {
                if (!v.back().communicationStep()) {
                    std::fprintf(stderr, "a communication step failed while warming up\n");
                    std::exit(1);
                }
            }
        }
    }
    return v;
}

// One base step per iteration, of the instances in turn.
void inTurn(benchmark::State &state, int count) {
    std::vector<Stepped> &v = instances(count);
    std::size_t next = 0;
    for (auto _ : state) {
        if (!v[next].communicationStep()) {
            state.SkipWithError("a communication step failed");
            break;
        }
        next = next + 1 == v.size() ? 0 : next + 1;
    }
}

// The same in turn without the FMI layer: models of their own, inputs
// written and one modelStep each. What the caches cost many models, which
// no check of a handle can save.
struct RawModel {
    kestrune::Model model;
    double snapshot[kestrune::GATE_COUNT] = {};
    long step = 0;
};

std::vector<std::unique_ptr<RawModel>> &rawModels(int count) {
    static std::map<int, std::vector<std::unique_ptr<RawModel>>> made_;
    std::vector<std::unique_ptr<RawModel>> &v = made_[count];
    while (v.size() < static_cast<std::size_t>(count)) {
        v.push_back(std::make_unique<RawModel>());
        RawModel &m = *v.back();
        m.model.outputSnapshot = m.snapshot;
        kestrune::modelInitialize(m.model);
    }
    return v;
}

void modelsInTurn(benchmark::State &state, int count) {
    std::vector<std::unique_ptr<RawModel>> &v = rawModels(count);
    std::size_t next = 0;
    for (auto _ : state) {
        RawModel &m = *v[next];
        const master::Inputs &in = inputTable()[static_cast<std::size_t>(m.step) % bench::INPUT_TABLE_STEPS];
        kestrune::ModelInputs &inputs = m.model.inputs;
        inputs.gridVoltage[0] = in[0];
        inputs.gridVoltage[1] = in[1];
        inputs.gridVoltage[2] = in[2];
        inputs.converterCurrent[0] = in[3];
        inputs.converterCurrent[1] = in[4];
        inputs.converterCurrent[2] = in[5];
        inputs.dcVoltage = in[6];
        kestrune::modelStep(m.model);
        ++m.step;
        next = next + 1 == v.size() ? 0 : next + 1;
    }
}

bool runBatch(Stepped &s) {
    bool ok = true;
    for (long i = 0; i < THREAD_BATCH; ++i) {
        ok = s.communicationStep() && ok;
    }
    return ok;
}

// Two instances, a batch of base steps each: one after the other on this
// thread, or at once on two threads.
void pair(benchmark::State &state, bool twoThreads) {
    std::vector<Stepped> &v = instances(2);
    for (auto _ : state) {
        bool ok[2] = {true, true};
        if (twoThreads) {
            std::thread other([&] { ok[1] = runBatch(v[1]); });
            ok[0] = runBatch(v[0]);
            other.join();
        } else {
            ok[0] = runBatch(v[0]);
            ok[1] = runBatch(v[1]);
        }
        if (!ok[0] || !ok[1]) {
            state.SkipWithError("a communication step failed");
            break;
        }
    }
}

// What the machine gives two threads at the moment: a batch of plain
// arithmetic per thread, one after the other or at once. On a machine that
// other work shares, the pair's factor means something only beside this one.
double arithmeticBatch() {
    double x = 1.0;
    for (long i = 0; i < THREAD_BATCH * 50; ++i) {
        x = x * 1.0000001 + 1e-9;
    }
    return x;
}

void arithmetic(benchmark::State &state, bool twoThreads) {
    for (auto _ : state) {
        double x[2] = {};
        if (twoThreads) {
            std::thread other([&] { x[1] = arithmeticBatch(); });
            x[0] = arithmeticBatch();
            other.join();
        } else {
            x[0] = arithmeticBatch();
            x[1] = arithmeticBatch();
        }
        benchmark::DoNotOptimize(x);
    }
}

// Base steps each benchmark's iteration runs, to give figures per step.
const std::map<std::string, double> STEPS_PER_ITERATION = {
    {"inTurn/1", 1.0},
    {"inTurn/1000", 1.0},
    {"modelsInTurn/1", 1.0},
    {"modelsInTurn/1000", 1.0},
    {"pair/oneThread", 2.0 * THREAD_BATCH},
    {"pair/twoThreads", 2.0 * THREAD_BATCH},
    {"arithmetic/oneThread", 2.0 * THREAD_BATCH},
    {"arithmetic/twoThreads", 2.0 * THREAD_BATCH},
};

using bench::CollectingReporter;

// The median time per base step, or 0 when the benchmark did not run.
double perStep(const CollectingReporter &r, const std::string &name) {
    const std::vector<double> v = r.sortedNanoseconds(name);
    if (v.empty()) {
        return 0.0;
    }
    return bench::medianOfSorted(v) / STEPS_PER_ITERATION.at(name);
}

void printSummary(const CollectingReporter &r) {
    std::printf("\nPer base step (median of the repetitions):\n");
    for (const auto &[name, steps] : STEPS_PER_ITERATION) {
        if (const double ns = perStep(r, name); ns > 0.0) {
            std::printf("  %-18s %9.1f ns\n", name.c_str(), ns);
        }
    }
    const double alone = perStep(r, "inTurn/1");
    const double many = perStep(r, "inTurn/1000");
    const double one = perStep(r, "pair/oneThread");
    const double two = perStep(r, "pair/twoThreads");
    std::printf("\nRatios (of the medians):\n");
    if (alone > 0.0 && many > 0.0) {
        std::printf("  %-46s %6.2f   target <= 1.50\n", "1000 instances in turn / one alone", many / alone);
    }
    const double modelAlone = perStep(r, "modelsInTurn/1");
    const double models = perStep(r, "modelsInTurn/1000");
    if (modelAlone > 0.0 && models > 0.0) {
        std::printf("  %-46s %6.2f   (the caches alone: no FMI layer)\n",
                    "1000 bare models in turn / one alone", models / modelAlone);
    }
    if (one > 0.0 && two > 0.0) {
        std::printf("  %-46s %6.2f   target >= 1.80\n", "throughput of two threads / one thread", one / two);
    }
    const double machineOne = perStep(r, "arithmetic/oneThread");
    const double machineTwo = perStep(r, "arithmetic/twoThreads");
    if (machineOne > 0.0 && machineTwo > 0.0) {
        std::printf("  %-46s %6.2f   (what the machine gave two threads)\n",
                    "plain arithmetic, two threads / one", machineOne / machineTwo);
    }
}

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // Every instance is made before anything is measured.
    instances(1);
    instances(MANY_INSTANCES);
    instances(2);
    benchmark::RegisterBenchmark("inTurn/1", inTurn, 1)->UseRealTime();
    benchmark::RegisterBenchmark("inTurn/1000", inTurn, MANY_INSTANCES)->UseRealTime();
    benchmark::RegisterBenchmark("modelsInTurn/1", modelsInTurn, 1)->UseRealTime();
    benchmark::RegisterBenchmark("modelsInTurn/1000", modelsInTurn, MANY_INSTANCES)->UseRealTime();
    benchmark::RegisterBenchmark("pair/oneThread", pair, false)->UseRealTime();
    benchmark::RegisterBenchmark("pair/twoThreads", pair, true)->UseRealTime();
    benchmark::RegisterBenchmark("arithmetic/oneThread", arithmetic, false)->UseRealTime();
    benchmark::RegisterBenchmark("arithmetic/twoThreads", arithmetic, true)->UseRealTime();
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
