// Model initialization: the five delay lines it sets up and starts, the
// initial value of every state, and where it stops when a line fails.
#include "model/initialize.h"

#include "../children/counting_allocator.h"
#include "children/child_host.h"
#include "children/variable_time_delay.h"
#include "model/records.h"
#include "model_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace kestrune {
namespace {

constexpr int START_ORDER[CHILD_COUNT] = {2, 3, 0, 1, 4};

class ModelInitializeTest : public testing::ModelData {
  protected:
    const ChildContext &child(int index) { return *modelRecord.childTable[index]; }
    bool started(int index) { return child(index).userData != nullptr; }
    std::vector<double> buffer(int index) {
        const ChildContext &c = child(index);
        const auto *b = static_cast<const double *>(c.ptrWork[0]);
        return {b, b + static_cast<std::int32_t>(c.realWork[0])};
    }
};

TEST_F(ModelInitializeTest, StartsFiveDelayLinesOfZerosWithTheirPathsAndDelays) {
    modelInitialize(model);
    ASSERT_EQ(modelRecord.errorStatus, nullptr);
    EXPECT_EQ(modelRecord.childrenStarted, 1U);

    struct Expected {
        std::size_t length;
        double delay;
        const char *meanBlock;
    };
    const Expected expected[CHILD_COUNT] = {
        {225, 0.0,
         "Kestrune/DC Regulator/Controller/PLL (3ph)/Model/Automatic Gain Control/Positive-Sequence "
         "(PLL-Driven)/"
         "Mean (Variable Frequency)1"},
        {225, 0.0,
         "Kestrune/DC Regulator/Controller/PLL (3ph)/Model/Automatic Gain Control/Positive-Sequence "
         "(PLL-Driven)/"
         "Mean (Variable Frequency)2"},
        {170, 0.0167, "Kestrune/DC Regulator/Controller/Current Regulators/Mean"},
        {170, 0.0167, "Kestrune/DC Regulator/Controller/Current Regulators/Mean1"},
        {225, 0.0, "Kestrune/DC Regulator/Controller/PLL (3ph)/Model/Variable Frequency Mean value"},
    };
    const MeanSignals *signals[CHILD_COUNT] = {
        &modelSignals.control.agcMeanD, &modelSignals.control.agcMeanQ, &modelSignals.control.dcVoltageMean,
        &modelSignals.control.gridVoltageMean, &modelSignals.control.frequencyMean};
    for (int i = 0; i < CHILD_COUNT; ++i) {
        SCOPED_TRACE(i);
        const ChildContext &c = child(i);
        EXPECT_EQ(std::string(c.path),
                  std::string(expected[i].meanBlock) + "/Model/Discrete Variable Time Delay/S-Function");
        EXPECT_STREQ(c.name, "S-Function");
        EXPECT_EQ(buffer(i), std::vector<double>(expected[i].length, 0.0));
        EXPECT_EQ(c.intWork[0], 0);
        EXPECT_EQ(signals[i]->delay, expected[i].delay);
        // "In" is the mean's integral, "D" its delay, the output its delayed integral.
        EXPECT_EQ(static_cast<double **>(c.inputPorts[0].signals)[0], &signals[i]->integral);
        EXPECT_EQ(static_cast<double **>(c.inputPorts[1].signals)[0], &signals[i]->delay);
        EXPECT_EQ(c.outputPorts[0].signals, &signals[i]->delayedIntegral);
    }
}

TEST_F(ModelInitializeTest, GivesEveryStateItsInitialValue) {
    modelInitialize(model);
    const ControlWork &w = modelWork.control;
    const ControlSignals &s = modelSignals.control;
    const ModulationSignals &ms = modelSignals.modulation;
    struct Value {
        const char *what;
        double actual;
        double expected;
    };
    const Value values[] = {
        {"angle reset value", w.pll.angleResetValue, -0.7853981633974483},
        {"angleState", w.pll.angleState, -0.7853981633974483},
        {"pllFrequency", s.pll.pllFrequency, 60.0},
        {"pllDerivativeState", w.pll.pllDerivativeState, 0.0},
        {"pllIntegratorState", w.pll.pllIntegratorState, 376.99111843077515},
        {"rateLimiterPrevious", w.pll.rateLimiterPrevious, 60.0},
        {"frequencyFilterState[0]", w.pll.frequencyFilterState[0], 24.316084080329627},
        {"frequencyFilterState[1]", w.pll.frequencyFilterState[1], -3.552713678800501e-15},
        {"agcGain", s.pll.agcGain, 1.0},
        {"Mean heldOutput", w.dcVoltageMean.heldOutput, 500.0},
        {"Mean1 heldOutput", w.gridVoltageMean.heldOutput, 1.007},
        {"Mean (Variable Frequency)1 heldOutput", w.agcMeanD.heldOutput, 1.0},
        {"Mean (Variable Frequency)2 heldOutput", w.agcMeanQ.heldOutput, 0.0},
        {"Variable Frequency Mean value heldOutput", w.frequencyMean.heldOutput, 0.0},
        {"held reference", ms.heldReferenceAbc[2], 0.0},
        {"vdcIntegratorState", w.regulators.vdcIntegratorState, 0.0},
    };
    for (const Value &v : values) {
        EXPECT_EQ(v.actual, v.expected) << v.what;
    }
    struct Flag {
        const char *what;
        int actual;
        int expected;
    };
    const Flag flags[] = {
        {"firstResetValue", w.pll.firstResetValue, 1},
        {"previousResetTrigger", w.pll.previousResetTrigger, 2},
        {"agcActive", w.pll.agcActive, 0},
        {"Mean first step", w.dcVoltageMean.integratorFirstStep, 1},
        {"Mean1 first step", w.gridVoltageMean.integratorFirstStep, 1},
        {"Variable Frequency Mean value first step", w.frequencyMean.integratorFirstStep, 1},
        {"Mean (Variable Frequency)1 first step", w.agcMeanD.integratorFirstStep, 0},
        {"Mean (Variable Frequency)2 first step", w.agcMeanQ.integratorFirstStep, 0},
        {"sine first step", modelWork.modulation.sineFirstStep, 1},
    };
    for (const Flag &f : flags) {
        EXPECT_EQ(f.actual, f.expected) << f.what;
    }
}

TEST_F(ModelInitializeTest, InitialValuesComeFromTheParameters) {
    ModelParameters &p = modelParameters;
    p.control.pll.angleInitial = 0.5;
    p.control.gridVoltageMean.initialOutput = 2.0;
    p.control.agcTransform.laggingInitial[1] = 3.0;
    p.control.regulators.currentRegulatorQ.integratorInitial = 4.0;
    p.modulation.reference.initialTransferValue = 0.25;
    p.modulation.currentFilter.initialState2 = 6.0;
    p.modulation.modulator.twoArmLevelInitial = 7.0;
    modelInitialize(model);
    ASSERT_EQ(modelRecord.childrenStarted, 1U);
    EXPECT_EQ(modelWork.control.pll.angleState, 0.5);
    EXPECT_EQ(modelWork.control.gridVoltageMean.heldOutput, 2.0);
    EXPECT_EQ(modelSignals.control.agcTransform.lagging[1], 3.0);
    EXPECT_EQ(modelWork.control.regulators.currentRegulatorQ.integratorState, 4.0);
    EXPECT_EQ(modelSignals.modulation.heldReferenceAbc[0], 0.25);
    EXPECT_EQ(modelWork.modulation.referenceTransferBuffer[2], 0.25);
    EXPECT_EQ(modelWork.modulation.filterState[2][1], 0.0);
    EXPECT_EQ(modelWork.modulation.filterState[3][1], 6.0);
    EXPECT_EQ(modelWork.modulation.filterState[6][1], 0.0);
    EXPECT_EQ(modelSignals.modulation.twoArmInvertedLevel, 7.0);
}

TEST_F(ModelInitializeTest, StopsAtTheFirstFailingLineAndStartsNoLaterOne) {
    struct Case {
        const char *what;
        int failing;
        double *parameter; // set to 0.0
        const char *message;
    };
    ControlParameters &p = modelParameters.control;
    const Case cases[] = {
        {"Mean, started first", 2, &p.dcVoltageMean.delayLine.maxDelay.block[2], DELAY_MAX_DELAY_ERROR},
        {"Mean1, started second", 3, &p.gridVoltageMean.delayLine.sampleTime.block[2],
         DELAY_SAMPLE_TIME_ERROR},
        {"Mean (Variable Frequency)1, third", 0, &p.agcMeanD.delayLine.maxDelay.block[2],
         DELAY_MAX_DELAY_ERROR},
        {"Variable Frequency Mean value, last", 4, &p.frequencyMean.delayLine.sampleTime.block[2],
         DELAY_SAMPLE_TIME_ERROR},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        modelParameters = defaults;
        *k.parameter = 0.0;
        modelInitialize(model);
        EXPECT_STREQ(modelRecord.errorStatus, k.message);
        EXPECT_EQ(modelRecord.childrenStarted, 0U);
        bool beforeFailing = true;
        for (int index : START_ORDER) {
            if (index == k.failing) {
                beforeFailing = false;
            }
            EXPECT_EQ(started(index), beforeFailing) << "child " << index;
        }
        // The list stopped there: a value set after the last start is still zero.
        EXPECT_EQ(modelSignals.control.pll.pllFrequency, 0.0);
        EXPECT_EQ(modelWork.modulation.sineFirstStep, 0);
        EXPECT_EQ(modelWork.control.dcVoltageMean.heldOutput, 0.0);
    }
    // With Mean failing, Mean1's delay (set after Mean's start) is untouched.
    modelParameters = defaults;
    modelParameters.control.dcVoltageMean.delayLine.maxDelay.block[2] = 0.0;
    modelInitialize(model);
    EXPECT_EQ(modelSignals.control.dcVoltageMean.delay, 0.0167);
    EXPECT_EQ(modelSignals.control.gridVoltageMean.delay, 0.0);
    EXPECT_EQ(modelWork.control.pll.angleResetValue, -0.7853981633974483);
}

TEST_F(ModelInitializeTest, AnyFailedAllocationStopsInitializationAndLeavesNothingBehind) {
    // Four allocations a line, lines started in the order 2, 3, 0, 1, 4.
    for (int failAt = 1; failAt <= 4 * CHILD_COUNT; ++failAt) {
        SCOPED_TRACE(failAt);
        {
            const CountingAllocator allocator(failAt);
            modelInitialize(model);
            EXPECT_STREQ(modelRecord.errorStatus, "Memory allocation error in mdlStart");
            EXPECT_EQ(allocator.calls(), failAt);
            EXPECT_EQ(modelRecord.childrenStarted, 0U);
            const int failing = START_ORDER[(failAt - 1) / 4];
            for (int index : START_ORDER) {
                if (index == failing) {
                    break;
                }
                EXPECT_TRUE(started(index)) << "child " << index;
            }
        }
        // Either a terminate or the next initialization releases the partly
        // started lines; the sanitizer build checks that nothing leaks.
        if (failAt % 2 == 0) {
            modelTerminate(model);
        }
    }
    const CountingAllocator allocator;
    modelInitialize(model);
    EXPECT_EQ(allocator.calls(), 4 * CHILD_COUNT);
    EXPECT_EQ(modelRecord.childrenStarted, 1U);
}

TEST_F(ModelInitializeTest, InitializingTwiceEqualsInitializingOnce) {
    modelInitialize(model);
    std::vector<std::vector<double>> firstBuffers;
    for (int i = 0; i < CHILD_COUNT; ++i) {
        firstBuffers.push_back(buffer(i));
    }
    const ModelSignals firstSignals = modelSignals;
    const ModelWork firstWork = modelWork;
    const std::uint32_t firstOptions = child(4).options;

    // Disturb the model, then initialize again without a terminate between.
    modelSignals.control.agcMeanD.integral = 3.0;
    modelWork.control.pll.angleState = 9.0;
    static_cast<double *>(child(2).ptrWork[0])[7] = 5.0;
    child(3).intWork[0] = 11;
    modelInitialize(model);

    EXPECT_EQ(std::memcmp(&modelSignals, &firstSignals, sizeof(ModelSignals)), 0);
    EXPECT_EQ(std::memcmp(&modelWork, &firstWork, sizeof(ModelWork)), 0);
    EXPECT_EQ(child(4).options, firstOptions);
    for (int i = 0; i < CHILD_COUNT; ++i) {
        EXPECT_EQ(buffer(i), firstBuffers[static_cast<std::size_t>(i)]) << "child " << i;
        EXPECT_EQ(child(i).intWork[0], 0);
    }
    EXPECT_EQ(modelRecord.childrenStarted, 1U);
}

TEST_F(ModelInitializeTest, TerminateMarksTheChildrenStoppedAndReleasesTheirLines) {
    modelInitialize(model);
    modelTerminate(model);
    EXPECT_EQ(modelRecord.childrenStarted, 0U);
    for (int i = 0; i < CHILD_COUNT; ++i) {
        EXPECT_FALSE(started(i));
    }
    modelTerminate(model);
}

} // namespace
} // namespace kestrune
