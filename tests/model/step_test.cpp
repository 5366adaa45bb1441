// The model step's rate schedule and time keeping, and what registration
// clears and keeps, driven directly on a model of the test's own.
#include "model/initialize.h"
#include "model/numeric.h"
#include "model/records.h"
#include "model/step.h"
#include "model_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrune {
namespace {

class ModelStepTest : public testing::ModelTest {
  protected:
    std::uint64_t baseTick() {
        return (std::uint64_t{modelRecord.baseTickHigh} << 32) | modelRecord.baseTickLow;
    }
    std::uint64_t slowTick() {
        return (std::uint64_t{modelRecord.slowTickHigh} << 32) | modelRecord.slowTickLow;
    }
    void steps(int n) {
        for (int i = 0; i < n; ++i) {
            modelStep(model);
        }
    }
};

TEST_F(ModelStepTest, InitializationStartsEveryCounterAtTheFirstSlowRateHit) {
    EXPECT_EQ(baseTick(), 0U);
    EXPECT_EQ(slowTick(), 0U);
    EXPECT_EQ(modelRecord.rateCounters[0], 0);
    EXPECT_EQ(modelRecord.rateCounters[1], 0);
    EXPECT_EQ(modelRecord.sampleHits[0], 1);
    EXPECT_EQ(modelRecord.sampleHits[1], 1);
    EXPECT_EQ(modelRecord.taskTimes[0], 0.0);
    EXPECT_EQ(modelRecord.taskTimes[1], 0.0);
    EXPECT_EQ(modelRecord.stopRequested, 0);
    EXPECT_EQ(modelRecord.errorStatus, nullptr);
}

TEST_F(ModelStepTest, SlowRateRunsOnEveryTwentiethBaseStepAndCountsItsTime) {
    modelStep(model);
    EXPECT_EQ(baseTick(), 1U);
    EXPECT_EQ(slowTick(), 1U);
    EXPECT_EQ(modelRecord.taskTimes[1], 1e-4);
    EXPECT_EQ(modelRecord.rateCounters[1], 1);
    EXPECT_EQ(modelRecord.sampleHits[1], 0);

    steps(20);
    EXPECT_EQ(baseTick(), 21U);
    EXPECT_EQ(slowTick(), 2U);
    EXPECT_EQ(modelRecord.taskTimes[1], 2e-4);
    EXPECT_EQ(modelRecord.rateCounters[1], 1);
}

TEST_F(ModelStepTest, SampleHitAnnouncesExactlyTheNextSlowRateHit) {
    for (int step = 0; step < 65; ++step) {
        const bool nextIsHit = (step + 1) % 20 == 0;
        const std::uint64_t slowBefore = slowTick();
        modelStep(model);
        EXPECT_EQ(slowTick() - slowBefore, step % 20 == 0 ? 1U : 0U) << "base step " << step;
        EXPECT_EQ(modelRecord.sampleHits[1], nextIsHit ? 1 : 0) << "base step " << step;
        EXPECT_EQ(modelRecord.sampleHits[0], 1);
        EXPECT_EQ(modelRecord.rateCounters[0], 0);
    }
}

TEST_F(ModelStepTest, BaseTickCarriesIntoItsHighWordWithoutATimeJump) {
    modelRecord.baseTickLow = 0xFFFFFFFFU;
    const double before = baseStepTime(modelRecord);
    modelStep(model);
    EXPECT_EQ(modelRecord.baseTickLow, 0U);
    EXPECT_EQ(modelRecord.baseTickHigh, 1U);
    const double after = baseStepTime(modelRecord);
    EXPECT_EQ(before, 4294967295.0 * 5e-6);
    EXPECT_EQ(after, 4294967296.0 * 5e-6);
    EXPECT_NEAR(after - before, BASE_STEP, 1e-9);
}

TEST_F(ModelStepTest, SlowTickCarriesIntoItsHighWordAndSlowTimeFollows) {
    modelRecord.slowTickLow = 0xFFFFFFFFU;
    modelStep(model); // a hit: the slow tick wraps
    EXPECT_EQ(modelRecord.slowTickLow, 0U);
    EXPECT_EQ(modelRecord.slowTickHigh, 1U);
    EXPECT_EQ(modelRecord.taskTimes[1], 0.0 * 1e-4 + 1.0 * 1e-4 * 4294967296.0);
}

// The controls compute a reference in every slow step; the modulator sees
// the one of slow step k throughout slow step k+1, and the initial 0 before.
TEST_F(ModelStepTest, SlowRateReferenceReachesTheModulatorOneSlowPeriodLater) {
    modelInputs.gridVoltage[0] = 400.0;
    modelInputs.gridVoltage[1] = -150.0;
    modelInputs.gridVoltage[2] = -250.0;
    modelInputs.dcVoltage = 480.0;
    double computed[3] = {0.0, 0.0, 0.0};
    for (int slow = 0; slow < 4; ++slow) {
        for (int step = 0; step < SLOW_RATE_RATIO; ++step) {
            modelStep(model);
            for (int i = 0; i < 3; ++i) {
                ASSERT_EQ(modelSignals.modulation.heldReferenceAbc[i], computed[i])
                    << "slow step " << slow << ", base step " << step;
            }
        }
        for (int i = 0; i < 3; ++i) {
            ASSERT_NE(modelSignals.control.modulationReferenceAbc[i], computed[i]);
            computed[i] = modelSignals.control.modulationReferenceAbc[i];
        }
    }
}

TEST_F(ModelStepTest, InitializationClearsModelDataButKeepsParameters) {
    modelInputs.gridVoltage[1] = 230.0;
    modelOutputs.gates[5] = 1.0;
    modelSignals.modulation.heldReferenceAbc[0] = 0.5;
    modelRecord.errorStatus = "left by an earlier run";
    modelRecord.stopRequested = 1;
    modelParameters.meanSampleTime = 2e-4;
    steps(7);

    modelInitialize(model);
    EXPECT_EQ(modelInputs.gridVoltage[1], 0.0);
    EXPECT_EQ(modelOutputs.gates[5], 0.0);
    EXPECT_EQ(modelSignals.modulation.heldReferenceAbc[0], 0.0);
    EXPECT_EQ(modelRecord.errorStatus, nullptr);
    EXPECT_EQ(modelRecord.stopRequested, 0);
    EXPECT_EQ(baseTick(), 0U);
    EXPECT_EQ(modelParameters.meanSampleTime, 2e-4);
    modelParameters.meanSampleTime = 1e-4;
}

TEST_F(ModelStepTest, InitializationSetsTheInfiniteLimitsAndWiresTheSharedInformation) {
    EXPECT_TRUE(std::isinf(modelParameters.control.agcMagnitudeMax) &&
                modelParameters.control.agcMagnitudeMax > 0.0);
    EXPECT_TRUE(std::isinf(modelParameters.control.pllIntegratorMax) &&
                modelParameters.control.pllIntegratorMax > 0.0);
    EXPECT_TRUE(std::isinf(modelParameters.control.pllOmegaMax) && modelParameters.control.pllOmegaMax > 0.0);

    const SharedModelInfo *info = modelRecord.sharedInfoPointer;
    ASSERT_EQ(info, &modelRecord.sharedInfo);
    // A hosted block fails the model and stops it through these addresses.
    *info->errorStatus = "block failed";
    EXPECT_STREQ(modelRecord.errorStatus, "block failed");
    *info->stopRequested = 1;
    EXPECT_EQ(modelRecord.stopRequested, 1);
    EXPECT_EQ(*info->sampleTimeCount, 2);
    EXPECT_EQ(info->taskTimePointers[1], &modelRecord.taskTimes[1]);
    EXPECT_EQ(*info->stepSize, 5e-6);
    EXPECT_STREQ((*info->solverSettingsPointer)->solverName, "FixedStepDiscrete");
    EXPECT_EQ(modelRecord.childCount, 5);
    for (int i = 0; i < CHILD_COUNT; ++i) {
        EXPECT_EQ(modelRecord.childTable[i], &modelRecord.children[i]);
    }
    modelRecord.errorStatus = nullptr;
    modelRecord.stopRequested = 0;
}

} // namespace
} // namespace kestrune
