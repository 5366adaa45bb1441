// The slow-rate schedule as a whole: where a failing delay line ends the
// model step, and a long closed-loop run that must keep every signal a
// number.
#include "control/control.h"

#include "../model/model_fixture.h"
#include "children/child_host.h"
#include "grid_drive.h"
#include "model/initialize.h"
#include "model/records.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrune {
namespace {

using testing::GridDrive;

constexpr const char *INJECTED_ERROR = "delay line failed in its update";

// A delay line's update that does its work and then reports an error.
void (*originalUpdate)(ChildContext *, std::int32_t) = nullptr;
void failingUpdate(ChildContext *ctx, std::int32_t tid) {
    originalUpdate(ctx, tid);
    setChildErrorStatus(ctx, INJECTED_ERROR);
}

class SlowRateScheduleTest : public testing::ModelTest {
  protected:
    void TearDown() override {
        ModelTest::TearDown();
        modelInitialize(model);
        modelTerminate(model);
    }
};

// The states of the slow update phase in the order it stores them; the means
// store their held input and output only after their delay line's update.
struct TrackedState {
    const char *name;
    int position; // in the update order
    double *value;
};

std::vector<TrackedState> trackedStates(Model &model) {
    ControlWork &w = model.work.control;
    ControlSignals &s = model.signals.control;
    return {
        {"referenceTransferBuffer", 0, &model.work.modulation.referenceTransferBuffer[0]},
        {"angleState", 1, &w.pll.angleState},
        {"d-axis current integrator", 2, &w.regulators.currentRegulatorD.integratorState},
        {"Mean previousInput", 3, &w.dcVoltageMean.previousInput},
        {"Mean heldOutput", 3, &w.dcVoltageMean.heldOutput},
        {"Mean1 previousInput", 4, &w.gridVoltageMean.previousInput},
        {"Mean1 heldOutput", 4, &w.gridVoltageMean.heldOutput},
        {"pllFrequency", 5, &s.pll.pllFrequency},
        {"Mean (Variable Frequency)1 heldOutput", 6, &w.agcMeanD.heldOutput},
        {"Mean (Variable Frequency)2 heldOutput", 7, &w.agcMeanQ.heldOutput},
        {"pllIntegratorState", 8, &w.pll.pllIntegratorState},
        {"Variable Frequency Mean value heldOutput", 9, &w.frequencyMean.heldOutput},
        {"frequencyFilterState", 10, &w.pll.frequencyFilterState[0]},
    };
}

// A delay line whose update fails ends the step: the states stored before it
// are new, its mean keeps its held input and output, nothing after it runs,
// and the step is not counted, so the next call repeats the same slow-rate
// hit.
TEST_F(SlowRateScheduleTest, AFailingDelayLineEndsTheStepWithTheLaterStatesUntouched) {
    struct Case {
        int child;
        int position;
    };
    const Case cases[] = {{2, 3}, {3, 4}, {0, 6}, {1, 7}, {4, 9}};
    for (const Case &k : cases) {
        SCOPED_TRACE("child " + std::to_string(k.child));
        modelTerminate(model);
        modelParameters = defaults;
        modelParameters.control.pll.agcEnable = 1.0; // all five means run
        modelInitialize(model);
        GridDrive grid;
        // 0.05 s into the pull-in with a moving DC voltage: every state moves.
        for (int step = 0; step < 500; ++step) {
            grid.dcVoltage = 500.0 + 0.1 * step;
            grid.slowStep(model);
        }
        ASSERT_EQ(modelRecord.rateCounters[1], 0);

        std::vector<double> before;
        for (const TrackedState &t : trackedStates(model)) {
            before.push_back(*t.value);
        }
        const double failingIntegrator = modelWork.control.dcVoltageMean.integratorState;
        const ModelRecord recordBefore = modelRecord;
        ChildContext *failing = modelRecord.childTable[k.child];
        originalUpdate = failing->methods.mdlUpdate;
        failing->methods.mdlUpdate = failingUpdate;

        grid.step(model);
        failing->methods.mdlUpdate = originalUpdate;

        EXPECT_STREQ(modelRecord.errorStatus, INJECTED_ERROR);
        std::size_t i = 0;
        for (const TrackedState &t : trackedStates(model)) {
            const bool stored = t.position < k.position;
            EXPECT_EQ(*t.value != before[i], stored) << t.name;
            ++i;
        }
        if (k.child == 2) {
            // The integrator is stored before the line's update.
            EXPECT_NE(modelWork.control.dcVoltageMean.integratorState, failingIntegrator);
        }
        EXPECT_EQ(modelRecord.baseTickLow, recordBefore.baseTickLow);
        EXPECT_EQ(modelRecord.slowTickLow, recordBefore.slowTickLow);
        EXPECT_EQ(modelRecord.taskTimes[1], recordBefore.taskTimes[1]);
        EXPECT_EQ(modelRecord.rateCounters[1], 0);
        EXPECT_EQ(modelRecord.sampleHits[1], recordBefore.sampleHits[1]);
    }
}

// Each of the four dq transforms has its own matrix, gain and frame
// alignment: a change to one copy moves that transform's output on the first
// slow step and leaves the other three as they were. A doubled gain doubles
// (d, q); the frame at the angle instead of a quarter turn behind it gives
// (q, -d).
TEST_F(SlowRateScheduleTest, EachDqTransformUsesItsOwnParameters) {
    struct Transform {
        const char *name;
        DqTransformParameters ControlParameters::*parameters;
    };
    const Transform transforms[] = {
        {"currents", &ControlParameters::currentTransform},
        {"Mean1", &ControlParameters::gridVoltageTransform},
        {"Automatic Gain Control", &ControlParameters::agcTransform},
        {"Variable Frequency Mean value", &ControlParameters::phaseDetectorTransform},
    };
    using Pair = std::array<double, 2>;
    struct Change {
        const char *name;
        void (*apply)(DqTransformParameters &);
        Pair (*expected)(const Pair &);
    };
    const Change changes[] = {
        {"doubled gain", [](DqTransformParameters &p) { p.clarkeGain = 2.0 * p.clarkeGain; },
         [](const Pair &dq) {
             return Pair{2.0 * dq[0], 2.0 * dq[1]};
         }},
        {"frame at the angle", [](DqTransformParameters &p) { p.frameAlignment = 1.0; },
         [](const Pair &dq) {
             return Pair{dq[1], -dq[0]};
         }},
    };
    using Outputs = std::array<Pair, 4>; // in the order of the transforms
    auto firstSlowStep = [this]() -> Outputs {
        modelTerminate(model);
        modelInitialize(model);
        GridDrive grid;
        grid.gridAngle = 1.0;
        grid.currentAmplitude = 50.0;
        grid.currentPhase = 0.3;
        grid.step(model);
        const ControlSignals &s = modelSignals.control;
        return {{{s.regulators.currentDq[0], s.regulators.currentDq[1]},
                 {s.regulators.gridVoltageDq[0], s.regulators.gridVoltageDq[1]},
                 {s.pll.agcVoltageDq[0], s.pll.agcVoltageDq[1]},
                 {s.pll.phaseDetectorDq[0], s.pll.phaseDetectorDq[1]}}};
    };
    modelParameters.control.pll.agcEnable = 1.0;
    const Outputs baseline = firstSlowStep();
    for (const Change &change : changes) {
        for (std::size_t i = 0; i < 4; ++i) {
            SCOPED_TRACE(std::string(change.name) + " of " + transforms[i].name);
            DqTransformParameters &changed = modelParameters.control.*transforms[i].parameters;
            change.apply(changed);
            const Outputs outputs = firstSlowStep();
            changed = defaults.control.*transforms[i].parameters;
            for (std::size_t j = 0; j < 4; ++j) {
                ASSERT_NE(baseline[j][0], 0.0);
                ASSERT_NE(baseline[j][1], 0.0);
                EXPECT_EQ(outputs[j], i == j ? change.expected(baseline[j]) : baseline[j])
                    << "transform " << j;
            }
        }
    }
}

// Every double of the model's signals and of the controls' states, as
// (first, count) spans: records made only of doubles are taken whole.
template <typename Record> std::pair<const double *, std::size_t> whole(const Record &r) {
    static_assert(sizeof(Record) % sizeof(double) == 0);
    return {reinterpret_cast<const double *>(&r), sizeof(Record) / sizeof(double)};
}

std::vector<std::pair<const double *, std::size_t>> modelDoubles(const Model &model) {
    const ControlSignals &s = model.signals.control;
    const ControlWork &w = model.work.control;
    const PhaseLockedLoopSignals &pll = s.pll;
    return {
        whole(model.signals.modulation),
        whole(s.agcMeanD),
        whole(s.agcMeanQ),
        whole(s.dcVoltageMean),
        whole(s.gridVoltageMean),
        whole(s.frequencyMean),
        whole(s.currentTransform),
        whole(s.gridVoltageTransform),
        whole(s.agcTransform),
        whole(s.phaseDetectorTransform),
        {&pll.pllAngle, 1},
        {&pll.pllOmega, 1},
        {&pll.pllFrequency, 1},
        {pll.gridVoltagePu, 3},
        {&pll.agcGain, 1},
        {&pll.limitedFrequency, 1},
        {pll.agcVoltageDq, 2},
        {pll.agcMeanDq, 2},
        {pll.phaseDetectorDq, 2},
        {&pll.qMean, 1},
        {&pll.phaseError, 1},
        {pll.frequencyFilterNext, 2},
        {&pll.frequencyFilterOutput, 1},
        whole(s.regulators),
        {s.modulationReferenceAbc, 3},
        {&w.pll.angleResetValue, 1},
        {&w.pll.angleState, 1},
        {&w.pll.pllDerivativeState, 1},
        {&w.pll.pllIntegratorState, 1},
        {&w.pll.rateLimiterPrevious, 1},
        {w.pll.frequencyFilterState, 2},
        {&w.agcMeanD.integratorState, 1},
        {&w.agcMeanD.previousInput, 1},
        {&w.agcMeanD.heldOutput, 1},
        {&w.agcMeanQ.integratorState, 1},
        {&w.agcMeanQ.previousInput, 1},
        {&w.agcMeanQ.heldOutput, 1},
        {&w.dcVoltageMean.integratorState, 1},
        {&w.dcVoltageMean.previousInput, 1},
        {&w.dcVoltageMean.heldOutput, 1},
        {&w.gridVoltageMean.integratorState, 1},
        {&w.gridVoltageMean.previousInput, 1},
        {&w.gridVoltageMean.heldOutput, 1},
        {&w.frequencyMean.integratorState, 1},
        {&w.frequencyMean.previousInput, 1},
        {&w.frequencyMean.heldOutput, 1},
        whole(w.regulators),
    };
}

// Five seconds of a 60 Hz, 600 V grid with 500 V DC and no plant behind the
// converter: the current regulators wind up and the reference saturates,
// but no signal ever becomes NaN or infinite.
TEST_F(SlowRateScheduleTest, FiveSecondsOfClosedLoopKeepEverySignalFinite) {
    GridDrive grid;
    const std::vector<std::pair<const double *, std::size_t>> doubles = modelDoubles(model);
    for (int step = 0; step < 5 * 200000; ++step) {
        grid.step(model);
        for (const auto &[first, count] : doubles) {
            for (std::size_t i = 0; i < count; ++i) {
                ASSERT_TRUE(std::isfinite(first[i])) << "base step " << step << ", value " << i;
            }
        }
    }
    EXPECT_EQ(modelRecord.errorStatus, nullptr);
    EXPECT_NEAR(modelSignals.control.pll.pllFrequency, 60.0, 1e-6);
}

} // namespace
} // namespace kestrune
