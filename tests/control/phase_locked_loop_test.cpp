// The phase-locked loop against a simulated grid, through the model step.
#include "control/phase_locked_loop.h"

#include "../model/model_fixture.h"
#include "grid_drive.h"
#include "model/initialize.h"
#include "model/records.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrune {
namespace {

using testing::GridDrive;
using testing::TWO_PI;

constexpr double ANGLE_INITIAL = -0.7853981633974483;
constexpr double OMEGA_60HZ = 376.99111843077515;
constexpr int SLOW_STEPS_PER_SECOND = 10000;

class PhaseLockedLoopTest : public testing::ModelTest {
  protected:
    const PhaseLockedLoopSignals &pll() { return modelSignals.control.pll; }

    // Grid angle minus pllAngle, folded into (-pi, pi].
    double angleOffset(double gridAngle) { return std::remainder(gridAngle - pll().pllAngle, TWO_PI); }

    GridDrive grid;
};

// From its -45 degree start the loop turns at 60 Hz until its phase detector
// has a full cycle (slow step 167), then pulls in and locks: 60 Hz, one wrap
// a cycle within (0, 2 pi], a constant offset from the grid (the measurement
// filters' lag), no q component left.
TEST_F(PhaseLockedLoopTest, PullsInFromItsStartAngleAndLocksToA60HzGrid) {
    double previousAngle = 0.0;
    int firstWrap = -1;
    for (int k = 0; k < 4000; ++k) {
        grid.slowStep(model);
        if (k == 0) {
            EXPECT_EQ(pll().pllAngle, ANGLE_INITIAL);
            // The phase detector's mean spans the 60 Hz the loop starts from.
            EXPECT_EQ(modelSignals.control.frequencyMean.delay, 167 * 1e-4);
        }
        if (k < 167) {
            ASSERT_EQ(pll().pllOmega, OMEGA_60HZ) << "slow step " << k;
        }
        if (firstWrap < 0 && k > 0 && pll().pllAngle < previousAngle) {
            firstWrap = k;
            EXPECT_GT(pll().pllAngle, 0.0);
            EXPECT_LE(pll().pllAngle, 0.0377);
        }
        previousAngle = pll().pllAngle;
    }
    ASSERT_GT(firstWrap, 0);

    // Locked: the next 0.1 s, six grid cycles.
    const double offset = angleOffset(grid.gridAngle - TWO_PI * 60.0 * BASE_STEP * SLOW_RATE_RATIO);
    int wraps = 0;
    for (int k = 0; k < 1000; ++k) {
        const double gridAngle = grid.gridAngle;
        grid.slowStep(model);
        EXPECT_NEAR(pll().pllFrequency, 60.0, 0.01) << "slow step " << k;
        EXPECT_GT(pll().pllAngle, 0.0);
        EXPECT_LE(pll().pllAngle, TWO_PI);
        EXPECT_NEAR(angleOffset(gridAngle), offset, 1e-4) << "slow step " << k;
        EXPECT_NEAR(pll().qMean, 0.0, 1e-4) << "slow step " << k;
        wraps += pll().pllAngle < previousAngle ? 1 : 0;
        previousAngle = pll().pllAngle;
    }
    EXPECT_EQ(wraps, 6);
    // The offset is the lag of the 750 Hz measurement filters at 60 Hz, 6.49 degrees.
    EXPECT_NEAR(offset, 6.49 * M_PI / 180.0, 0.002);
}

// The frequency follows a grid frequency step, up or down, at no more than
// 12 Hz/s, and settles at the new frequency.
TEST_F(PhaseLockedLoopTest, AGridFrequencyStepIsFollowedAtNoMoreThan12HzPerSecond) {
    for (int k = 0; k < 3000; ++k) {
        grid.slowStep(model);
    }
    for (double target : {62.0, 58.5}) {
        SCOPED_TRACE(target);
        grid.frequency = target;
        double previous = pll().limitedFrequency;
        double steepest = 0.0;
        for (int k = 0; k < SLOW_STEPS_PER_SECOND; ++k) {
            grid.slowStep(model);
            const double change = pll().limitedFrequency - previous;
            ASSERT_LE(std::fabs(change), 12.0 * 1e-4 * (1.0 + 1e-9)) << "slow step " << k;
            steepest = std::max(steepest, std::fabs(change));
            previous = pll().limitedFrequency;
        }
        EXPECT_GT(steepest, 12.0 * 1e-4 * (1.0 - 1e-9)); // the limiter did act
        EXPECT_NEAR(pll().pllFrequency, target, 0.01);
    }
}

// The gain control divides the phase error by the measured magnitude: a grid
// at half voltage gets gain 2, and the loop locks as at full voltage. Its
// two means run only while it is enabled and start a fresh integral when it
// is enabled again.
TEST_F(PhaseLockedLoopTest, AutomaticGainControlNormalizesThePhaseErrorAndReArmsItsMeans) {
    modelParameters.control.pll.agcEnable = 1.0;
    grid.amplitude = testing::GRID_PEAK / 2.0;
    for (int k = 0; k < 4000; ++k) {
        grid.slowStep(model);
        // The phase error takes the gain of the same slow step, also on the
        // steps where the gain moves.
        ASSERT_EQ(pll().phaseError, pll().qMean * pll().agcGain) << "slow step " << k;
    }
    EXPECT_NEAR(pll().agcGain, 2.0, 1e-3);
    EXPECT_NEAR(pll().pllFrequency, 60.0, 0.01);
    EXPECT_NEAR(pll().qMean, 0.0, 1e-4);
    EXPECT_EQ(modelWork.control.pll.agcActive, 1U);

    // Disabled: the gain and the two means' states stand still.
    modelParameters.control.pll.agcEnable = 0.0;
    const double gain = pll().agcGain;
    const MeanWork frozen = modelWork.control.agcMeanD;
    const double frozenIntegral = modelSignals.control.agcMeanD.integral;
    for (int k = 0; k < 50; ++k) {
        grid.slowStep(model);
    }
    EXPECT_EQ(modelWork.control.pll.agcActive, 0U);
    EXPECT_EQ(pll().agcGain, gain);
    EXPECT_EQ(modelWork.control.agcMeanD.integratorState, frozen.integratorState);
    EXPECT_EQ(modelWork.control.agcMeanD.heldOutput, frozen.heldOutput);
    EXPECT_EQ(modelSignals.control.agcMeanD.integral, frozenIntegral);

    // Enabled again: the first integral is the kept state, without the half step.
    modelParameters.control.pll.agcEnable = 1.0;
    const double stateBefore = modelWork.control.agcMeanQ.integratorState;
    grid.slowStep(model);
    EXPECT_EQ(modelWork.control.pll.agcActive, 1U);
    EXPECT_EQ(modelSignals.control.agcMeanD.integral, frozen.integratorState);
    EXPECT_EQ(modelSignals.control.agcMeanQ.integral, stateBefore);
    EXPECT_EQ(modelWork.control.agcMeanD.integratorFirstStep, 0U);
}

// Disabled (the default), the gain control leaves the gain at 1 and its two
// delay lines untouched.
TEST_F(PhaseLockedLoopTest, WithoutGainControlItsMeansNeverRun) {
    for (int k = 0; k < 500; ++k) {
        grid.slowStep(model);
    }
    EXPECT_EQ(pll().agcGain, 1.0);
    for (int child : {0, 1}) {
        EXPECT_EQ(modelRecord.childTable[child]->intWork[0], 0) << "child " << child;
    }
    EXPECT_EQ(modelSignals.control.agcMeanD.integral, 0.0);
    EXPECT_EQ(modelWork.control.agcMeanD.heldOutput, 1.0);
}

} // namespace
} // namespace kestrune
