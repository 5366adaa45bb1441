// Models side by side in one process: each owns all of its data, so models
// stepped in turn on one thread, or at the same time on threads of their
// own, give exactly what each gives alone.
#include "../control/grid_drive.h"
#include "children/child_host.h"
#include "model/initialize.h"
#include "model/records.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <deque>
#include <thread>
#include <type_traits>
#include <vector>

namespace kestrune {
namespace {

// The model record and the hosted blocks point into the model itself: a
// copy or a move would leave them pointing into the original.
static_assert(!std::is_copy_constructible_v<Model> && !std::is_copy_assignable_v<Model>);
static_assert(!std::is_move_constructible_v<Model> && !std::is_move_assignable_v<Model>);

constexpr int STEPS = 20000; // 0.1 s: pull-in of the phase-locked loop and the DC regulator

// What a model shows after one base step: its gates, the modulation
// reference and the measured frequency.
struct Trace {
    std::vector<std::array<double, GATE_COUNT + 4>> rows;
};

// Grids that differ in every input, so that any data shared between models
// shows in the trace.
testing::GridDrive grid(int which) {
    testing::GridDrive drive;
    drive.frequency = 60.0 - 0.5 * which;
    drive.amplitude = testing::GRID_PEAK * (1.0 - 0.05 * which);
    drive.dcVoltage = 500.0 - 20.0 * which;
    drive.currentAmplitude = 40.0 * which;
    drive.gridAngle = 0.3 * which;
    return drive;
}

class Runner {
  public:
    explicit Runner(int which) : drive_(grid(which)) {
        model_.parameters.meanSampleTime = 1e-4 * (1.0 + 0.01 * which);
        modelInitialize(model_);
        trace_.rows.reserve(STEPS);
    }
    ~Runner() { modelTerminate(model_); }
    Runner(const Runner &) = delete;
    Runner &operator=(const Runner &) = delete;

    void step() {
        drive_.step(model_);
        std::array<double, GATE_COUNT + 4> row{};
        std::memcpy(row.data(), model_.outputs.gates, sizeof model_.outputs.gates);
        const ControlSignals &c = model_.signals.control;
        row[GATE_COUNT] = c.modulationReferenceAbc[0];
        row[GATE_COUNT + 1] = c.modulationReferenceAbc[1];
        row[GATE_COUNT + 2] = c.modulationReferenceAbc[2];
        row[GATE_COUNT + 3] = c.pll.pllFrequency;
        trace_.rows.push_back(row);
    }
    void run() {
        for (int k = 0; k < STEPS; ++k) {
            step();
        }
    }

    const Model &model() const { return model_; }
    const Trace &trace() const { return trace_; }

  private:
    Model model_;
    testing::GridDrive drive_;
    Trace trace_;
};

Trace alone(int which) {
    Runner runner(which);
    runner.run();
    return runner.trace();
}

// Bit for bit, row by row, stopping at the first difference.
void expectSameTrace(const Trace &actual, const Trace &expected, int which) {
    ASSERT_EQ(actual.rows.size(), expected.rows.size()) << "model " << which;
    for (std::size_t k = 0; k < expected.rows.size(); ++k) {
        ASSERT_EQ(std::memcmp(actual.rows[k].data(), expected.rows[k].data(), sizeof expected.rows[k]), 0)
            << "model " << which << " parts from its run alone at base step " << k;
    }
}

// The addresses a model keeps point into that model.
void expectWiredToItself(const Model &m) {
    const ModelRecord &r = m.record;
    EXPECT_EQ(r.childTable, r.childPointers);
    EXPECT_EQ(r.sharedInfo.errorStatus, &r.errorStatus);
    for (int i = 0; i < CHILD_COUNT; ++i) {
        const ChildContext &child = r.children[i];
        EXPECT_EQ(r.childPointers[i], &child);
        EXPECT_EQ(child.hostInfo->sharedInfo, &r.sharedInfo);
        const auto *output = static_cast<const char *>(child.outputPorts[0].signals);
        const auto *signals = reinterpret_cast<const char *>(&m.signals);
        EXPECT_TRUE(output >= signals && output < signals + sizeof m.signals) << "child " << i;
    }
}

TEST(TwoModels, SteppedInTurnEachGivesWhatItGivesAlone) {
    const Trace expected[2] = {alone(0), alone(1)};
    ASSERT_NE(std::memcmp(expected[0].rows.back().data(), expected[1].rows.back().data(),
                          sizeof expected[0].rows.back()),
              0)
        << "the two grids must drive the models apart";

    Runner first(0);
    Runner second(1);
    for (int k = 0; k < STEPS; ++k) {
        first.step();
        second.step();
    }
    expectSameTrace(first.trace(), expected[0], 0);
    expectSameTrace(second.trace(), expected[1], 1);
}

TEST(TwoModels, OnThreadsOfTheirOwnEachGivesWhatItGivesAlone) {
    constexpr int MODELS = 3;
    std::vector<Trace> expected;
    for (int i = 0; i < MODELS; ++i) {
        expected.push_back(alone(i));
    }

    // Built in a container in place: models are never moved once made.
    std::deque<Runner> runners;
    for (int i = 0; i < MODELS; ++i) {
        runners.emplace_back(i);
    }
    std::vector<std::thread> threads;
    for (Runner &runner : runners) {
        threads.emplace_back([&runner] { runner.run(); });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    for (int i = 0; i < MODELS; ++i) {
        expectWiredToItself(runners[static_cast<std::size_t>(i)].model());
        expectSameTrace(runners[static_cast<std::size_t>(i)].trace(), expected[static_cast<std::size_t>(i)],
                        i);
    }
}

} // namespace
} // namespace kestrune
