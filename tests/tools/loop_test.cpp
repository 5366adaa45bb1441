// The closed loop as participants and observers: what the two couplings
// change, an observer that stops the loop, the pacing's report, and the
// CSV's bytes against those of the loop before it was split into parts,
// whether written on the loop's thread or its own.
#include "closed_loop.h"
#include "figures_observer.h"
#include "handoff_queue.h"
#include "native_plant.h"
#include "outputs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace kestrune::sim {
namespace {

namespace fs = std::filesystem;

RunPlan planOf(std::vector<std::string_view> args) {
    const ParseResult parsed = parseOptions(args, KESTRUNE_FMU_PATH, KESTRUNE_SCENARIO_DIR);
    EXPECT_EQ(parsed.action, ParseResult::Action::Run) << parsed.error;
    RunPlan plan;
    EXPECT_EQ(planRun(parsed.options, plan), "");
    return plan;
}

ClosedLoopResult runPlan(const RunPlan &plan, RowSink *rows = nullptr,
                         const std::vector<LoopObserver *> &observers = {}) {
    std::ostringstream err;
    ClosedLoopResult result = runClosedLoop(KESTRUNE_FMU_PATH, plan, false, rows, nullptr, err, observers);
    EXPECT_TRUE(result.ok) << result.error;
    return result;
}

// Where the couplings differ in the plant itself: jacobi reads the
// measurements before the new gates are set, sequential after. On the stiff
// grid the PCC is the source and the order does not matter; on a weak grid
// the held levels move the PCC voltage.
TEST(Couplings, OnlyOnAWeakGridDoTheGatesSetAtAPointMoveItsMeasurements) {
    for (const auto &[scenario, stiff] : {std::pair{"load_step", true}, std::pair{"weak_scr5", false}}) {
        const RunPlan plan = planOf({"--scenario", scenario});
        const std::vector<plant::PlantParameters> list = converterParameters(plan.scenario);
        plant::Plant model(plan.scenario.parameters, scenarioImpedance(plan.scenario),
                           std::vector<plant::ConverterParameters>(list.begin(), list.end()));
        std::vector<master::Inputs> measured(1);
        std::vector<plant::Sample> pending(1);
        NativePlant plant(model, measured, pending, nullptr);
        master::Gates levelPlus{};
        levelPlus[0] = levelPlus[1] = 1.0; // leg A at +1, B and C floating
        plant.setGates(0, master::Gates{});
        PlantStepResult step;
        plant.doStep(0.0, BASE_STEP, step);
        ASSERT_EQ(step.status, PlantStepResult::Status::Ok);
        const master::Inputs before = plant.measurements(0);
        plant.setGates(0, levelPlus);
        const master::Inputs after = plant.measurements(0);
        EXPECT_EQ(before == after, stiff) << scenario;
        for (std::size_t k = 3; k < 7; ++k) // the currents and the link do not move
            EXPECT_EQ(before[k], after[k]) << scenario;
    }
}

// A plant that shows only communication points gives the figures the same
// samples, from its signals, as the native plant hands them every base step.
TEST(FiguresObserver, AtTheBaseStepTheSignalsGiveTheNativeFigures) {
    const RunPlan plan = planOf({"--scenario", "weak_scr5", "--duration", "0.05"});
    const std::vector<plant::PlantParameters> list = converterParameters(plan.scenario);
    const auto makePlant = [&] {
        return plant::Plant(plan.scenario.parameters, scenarioImpedance(plan.scenario),
                            std::vector<plant::ConverterParameters>(list.begin(), list.end()),
                            plantEvents(plan.scenario));
    };
    const auto makeRecorders = [&] {
        return std::vector<plant::FiguresRecorder>(
            1, plant::FiguresRecorder(segmentStarts(plan.scenario), plan.scenario.duration));
    };
    plant::Plant modelA = makePlant();
    plant::Plant modelB = makePlant();
    std::vector<plant::FiguresRecorder> fed = makeRecorders();
    std::vector<plant::FiguresRecorder> observed = makeRecorders();
    std::vector<master::Inputs> measuredA(1), measuredB(1);
    std::vector<plant::Sample> pendingA(1), pendingB(1);
    NativePlant a(modelA, measuredA, pendingA, &fed);
    NativePlant b(modelB, measuredB, pendingB, nullptr);
    FiguresObserver observer(observed);
    // Each leg steps through +1, 0, -1 at a period of its own.
    const auto gatesAt = [](std::int64_t k) {
        constexpr double LEVELS[3][4] = {{1, 1, 0, 0}, {0, 1, 1, 0}, {0, 0, 1, 1}};
        master::Gates gates{};
        for (std::size_t leg = 0; leg < 3; ++leg)
            for (std::size_t s = 0; s < 4; ++s)
                gates[4 * leg + s] = LEVELS[(k / (7 + 3 * static_cast<std::int64_t>(leg))) % 3][s];
        return gates;
    };
    a.setGates(0, gatesAt(0));
    b.setGates(0, gatesAt(0));
    observer.started(b);
    LoopControl control;
    for (std::int64_t k = 0; k < plan.stepCount && !control.stopped(); ++k) {
        PlantStepResult stepA, stepB;
        a.doStep(static_cast<double>(k) * BASE_STEP, BASE_STEP, stepA);
        b.doStep(static_cast<double>(k) * BASE_STEP, BASE_STEP, stepB);
        ASSERT_EQ(stepA.status, stepB.status);
        a.setGates(0, gatesAt(k + 1));
        b.setGates(0, gatesAt(k + 1));
        observer.communicationPoint(LoopPoint{.stepsDone = k + 1, .plantStep = stepB, .plant = b}, control);
        if (stepA.status != PlantStepResult::Status::Ok)
            break;
    }
    a.finish();
    const std::vector<plant::SegmentFigures> x = fed[0].figures();
    const std::vector<plant::SegmentFigures> y = observed[0].figures();
    ASSERT_EQ(x.size(), y.size());
    EXPECT_GT(x.back().end, 0.01) << "too short a run to compare";
    for (std::size_t s = 0; s < x.size(); ++s) {
        EXPECT_EQ(x[s].end, y[s].end);
        EXPECT_EQ(x[s].vdcMin, y[s].vdcMin);
        EXPECT_EQ(x[s].vdcMax, y[s].vdcMax);
        EXPECT_EQ(x[s].steadyRmsPu, y[s].steadyRmsPu);
        EXPECT_EQ(x[s].thd, y[s].thd);
        EXPECT_EQ(x[s].pccFundamentalPu, y[s].pccFundamentalPu);
        EXPECT_EQ(x[s].illegalPatterns, y[s].illegalPatterns);
        EXPECT_EQ(x[s].directChanges, y[s].directChanges);
    }
}

// Jacobi's start: the units begin on zero measurements and the plant holds
// zero gates over the first step (three legs of no legal state); from there
// on, on the stiff grid, the exchange is the sequential one, and the run
// reaches the same steady state.
TEST(Couplings, JacobiDiffersFromSequentialByItsStartOnTheStiffGrid) {
    RunPlan plan = planOf({"--scenario", "load_step"});
    const ClosedLoopResult sequential = runPlan(plan);
    plan.coupling = Coupling::Jacobi;
    const ClosedLoopResult jacobi = runPlan(plan);
    ASSERT_EQ(sequential.figures.size(), 2u);
    ASSERT_EQ(jacobi.figures.size(), 2u);
    EXPECT_EQ(sequential.figures[0].illegalPatterns, 0);
    EXPECT_EQ(jacobi.figures[0].illegalPatterns, 3);
    EXPECT_NE(sequential.figures[0].vdcMin, jacobi.figures[0].vdcMin);
    for (std::size_t s = 0; s < 2; ++s) {
        const plant::SegmentFigures &a = sequential.figures[s];
        const plant::SegmentFigures &b = jacobi.figures[s];
        EXPECT_NEAR(a.fundamentalPu, b.fundamentalPu, 0.005) << s;
        EXPECT_NEAR(a.powerFactor, b.powerFactor, 0.001) << s;
        EXPECT_NEAR(a.vdcMin, b.vdcMin, 1.0) << s;
        EXPECT_NEAR(a.vdcMax, b.vdcMax, 1.0) << s;
    }
    EXPECT_EQ(jacobi.figures[1].illegalPatterns, 0);
}

// Stops the loop after a number of steps.
class StopAfter : public LoopObserver {
  public:
    explicit StopAfter(std::int64_t steps) : steps_(steps) {}
    void communicationPoint(const LoopPoint &point, LoopControl &control) override {
        if (point.stepsDone == steps_)
            control.stop(point.plant.time(), "enough");
    }

  private:
    std::int64_t steps_;
};

class RowTimes : public RowSink {
  public:
    void row(const PlantSignals &signals) override { times.push_back(signals.time); }
    std::vector<double> times;
};

TEST(Observers, AnyObserverStopsTheLoopAndTheStopsRowIsWritten) {
    for (const Coupling coupling : {Coupling::Sequential, Coupling::Jacobi}) {
        RunPlan plan = planOf({"--scenario", "startup500", "--step", "2e-5"});
        plan.coupling = coupling;
        StopAfter stop(1001);
        RowTimes rows;
        const ClosedLoopResult result = runPlan(plan, &rows, {&stop});
        EXPECT_EQ(result.stepsDone, 1001);
        EXPECT_TRUE(result.stopped);
        EXPECT_EQ(result.stopReason, "enough");
        EXPECT_DOUBLE_EQ(result.stopTime, 1001 * 2e-5);
        EXPECT_DOUBLE_EQ(result.simulated, 1001 * 2e-5);
        ASSERT_EQ(rows.times.size(), 1u + 200u + 1u); // t = 0, every 1e-4 s, the stop
        EXPECT_DOUBLE_EQ(rows.times.back(), 1001 * 2e-5);
        ASSERT_FALSE(result.figures.empty());
        EXPECT_DOUBLE_EQ(result.figures.back().end, 1001 * 2e-5);
    }
}

// A short run paced far faster than real time: the report is there and its
// counts are sane; how many steps were late depends on the machine.
TEST(Pacing, TheReportCountsTheLateStepsOfAPacedRun) {
    RunPlan plan = planOf({"--scenario", "startup500", "--duration", "0.002", "--real-time", "100"});
    const ClosedLoopResult result = runPlan(plan);
    EXPECT_TRUE(result.pacing.on);
    EXPECT_EQ(result.pacing.factor, 100.0);
    EXPECT_GE(result.pacing.lateSteps, 0);
    EXPECT_LE(result.pacing.lateSteps, result.stepsDone);
    EXPECT_GE(result.pacing.worstLateness, 0.0);
    EXPECT_EQ(result.pacing.lateSteps == 0, result.pacing.worstLateness == 0.0);
    std::ostringstream summary;
    printSummary(summary, plan, result, {});
    EXPECT_NE(summary.str().find("paced at 100 x real time: "), std::string::npos) << summary.str();
    EXPECT_FALSE(runPlan(planOf({"--scenario", "startup500", "--duration", "0.002"})).pacing.on);
}

// A plant archive that is missing or no plant FMU stops the run before its
// first step, naming the archive and what is wrong with it.
TEST(PlantChoice, AnArchiveThatIsNoPlantIsRefusedWithItsReason) {
    const std::pair<const char *, std::string> cases[] = {
        {"/nonexistent/Kestrune-plant.fmu", "/nonexistent/Kestrune-plant.fmu: no such file"},
        {KESTRUNE_FMU_PATH,
         KESTRUNE_FMU_PATH ": no plant FMU: its description has no Real variable converter0.gateA1"},
        {KESTRUNE_FMU3_PATH, KESTRUNE_FMU3_PATH ": the plant FMU is an FMI 2.0 archive, this one is FMI 3.0"},
    };
    for (const auto &[archive, message] : cases) {
        const RunPlan plan = planOf({"--scenario", "startup500", "--plant", archive});
        std::ostringstream err;
        const ClosedLoopResult result = runClosedLoop(KESTRUNE_FMU_PATH, plan, false, nullptr, nullptr, err);
        EXPECT_FALSE(result.ok) << archive;
        EXPECT_EQ(result.error, message);
        EXPECT_EQ(result.stepsDone, 0) << archive;
    }
}

// FNV-1a of a file's bytes.
std::uint64_t digest(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (std::istreambuf_iterator<char> it(in), end; it != end; ++it)
        hash = (hash ^ static_cast<unsigned char>(*it)) * 0x100000001b3u;
    return hash;
}

// The sequential loop's CSV, a row every base step over 20 ms, byte for byte
// as the loop wrote it before it was made of participants and observers:
// one converter on the stiff grid, and two on a weak grid; written on the
// loop's thread and on the CSV's own (4,000 rows, twice round its queue).
TEST(SequentialCoupling, TheCsvBytesAreThoseOfTheLoopItReplaced) {
    const std::pair<const char *, std::uint64_t> cases[] = {
        {"load_step", 0x0c127d8008ee58fdu},
        {"pair_scr5", 0xdb37cda8ad215a4eu},
    };
    const fs::path dir = fs::temp_directory_path() / "kestrune-loop-test";
    fs::create_directories(dir);
    for (const auto &[scenario, expected] : cases) {
        const RunPlan plan =
            planOf({"--scenario", scenario, "--duration", "0.02", "--output-interval", "5e-6"});
        for (const CsvRows::Writer writer : {CsvRows::Writer::Direct, CsvRows::Writer::Background}) {
            const fs::path csvPath = dir / (std::string(scenario) + ".csv");
            CsvRows csv(csvPath.string(), plan.scenario, writer);
            runPlan(plan, &csv);
            ASSERT_TRUE(csv.close());
            EXPECT_EQ(digest(csvPath), expected)
                << scenario << (writer == CsvRows::Writer::Direct ? "" : " (thread)");
        }
    }
    fs::remove_all(dir);
}

// A CSV that cannot be written says so at its close, whichever thread wrote
// it; and one dropped unclosed ends its thread.
TEST(CsvRows, AFailedWriteIsReportedAtTheClose) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full to fail the writes";
    PlantSignals signals;
    signals.converters.resize(1);
    for (const CsvRows::Writer writer : {CsvRows::Writer::Direct, CsvRows::Writer::Background}) {
        CsvRows csv("/dev/full", false, writer);
        ASSERT_TRUE(csv.ok());
        for (int k = 0; k < 40000; ++k) { // several times the stream's buffer
            signals.time = k * 5e-6;
            csv.row(signals);
        }
        EXPECT_FALSE(csv.close());
        CsvRows dropped("/dev/full", false, writer);
        dropped.row(signals);
    }
}

// The queue hands every row over in order, also while the loop outruns the
// thread and waits for free slots.
TEST(HandoffQueue, EveryRowArrivesInOrderThroughAFullQueue) {
    std::vector<std::int64_t> steps;
    PlantSignals prototype;
    prototype.converters.resize(2);
    HandoffQueue<PlantSignals> queue(2048, prototype, [&steps](const PlantSignals &signals) {
        if (signals.step % 1000 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        steps.push_back(signals.step + signals.converters[1].levels[2]);
    });
    PlantSignals signals;
    signals.converters.resize(2);
    for (std::int64_t k = 0; k < 10000; ++k) {
        signals.step = k;
        signals.converters[1].levels[2] = static_cast<int>(k % 7);
        queue.push(signals);
    }
    queue.finish();
    ASSERT_EQ(steps.size(), 10000u);
    for (std::int64_t k = 0; k < 10000; ++k)
        ASSERT_EQ(steps[static_cast<std::size_t>(k)], k + k % 7) << k;
}

} // namespace
} // namespace kestrune::sim
