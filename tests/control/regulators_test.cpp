// The DC-voltage and current regulators and the modulation reference,
// through the model step against a simulated grid.
#include "control/regulators.h"

#include "../model/model_fixture.h"
#include "grid_drive.h"
#include "model/initialize.h"
#include "model/records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace kestrune {
namespace {

using testing::GridDrive;

class RegulatorsTest : public testing::ModelTest {
  protected:
    const RegulatorSignals &signals() { return modelSignals.control.regulators; }
    const RegulatorWork &work() { return modelWork.control.regulators; }

    GridDrive grid;
};

// A DC-voltage error too large for the regulator drives idReference to its
// limit and stops the integrator exactly there; the current regulators'
// integrators and outputs stop at +-12 per unit.
TEST_F(RegulatorsTest, LargeErrorsSaturateTheOutputsAndStopTheIntegratorsAtTheirLimits) {
    struct Case {
        double dcVoltage;
        double iqReference;
        double limit; // sign of the saturation
    };
    const Case cases[] = {{0.0, -3.0, 1.0}, {1000.0, 3.0, -1.0}};
    for (const Case &k : cases) {
        SCOPED_TRACE(k.dcVoltage);
        modelTerminate(model);
        modelInitialize(model);
        modelParameters.control.regulators.iqReference = k.iqReference;
        grid.dcVoltage = k.dcVoltage;
        for (int step = 0; step < 10000; ++step) {
            grid.slowStep(model);
            ASSERT_LE(std::fabs(work().vdcIntegratorState), 1.2);
            ASSERT_LE(std::fabs(signals().idReference), 1.2);
            ASSERT_LE(std::fabs(work().currentRegulatorD.integratorState), 12.0);
            ASSERT_LE(std::fabs(work().currentRegulatorQ.integratorState), 12.0);
            ASSERT_LE(std::fabs(signals().currentD.limitedOutput), 12.0);
            ASSERT_LE(std::fabs(signals().currentQ.limitedOutput), 12.0);
        }
        EXPECT_EQ(signals().idReference, 1.2 * k.limit);
        EXPECT_EQ(work().vdcIntegratorState, 1.2 * k.limit);
        // No current flows without a plant: the integrators run into their clamps.
        EXPECT_EQ(work().currentRegulatorD.integratorState, 12.0 * k.limit);
        EXPECT_EQ(work().currentRegulatorQ.integratorState, -12.0 * k.limit);
        EXPECT_GT(std::fabs(signals().currentD.output), 12.0);
        EXPECT_EQ(signals().currentD.limitedOutput, 12.0 * k.limit);
        EXPECT_EQ(signals().currentQ.limitedOutput, -12.0 * k.limit);
        // The voltage references take the limited outputs, not the wound-up
        // ones: with no current, gridVdMean - ud and 0 - uq per volt of dcMean.
        const double scale = 391.91835884530855 / signals().dcMean;
        EXPECT_DOUBLE_EQ(signals().voltageReferenceD, (signals().gridVdMean - 12.0 * k.limit) * scale);
        EXPECT_DOUBLE_EQ(signals().voltageReferenceQ, 12.0 * k.limit * scale);
    }
}

// The DC mean divides the voltage reference: a DC input of 0 V enters it as
// 10 V, so the mean, and the division, stay positive and finite.
TEST_F(RegulatorsTest, ADcInputOfZeroEntersTheDcMeanAsTenVolts) {
    grid.dcVoltage = 0.0;
    for (int step = 0; step < 400; ++step) {
        grid.slowStep(model);
        ASSERT_EQ(signals().dcMeanInput, 10.0) << "slow step " << step;
        ASSERT_TRUE(std::isfinite(signals().voltageReferenceD)) << "slow step " << step;
        if (step < 167) {
            ASSERT_EQ(signals().dcMean, 500.0) << "slow step " << step;
        }
    }
    EXPECT_NEAR(signals().dcMean, 10.0, 1e-9);
}

// Whatever the dq reference, the three phase references are sines of one
// amplitude, at most 1, a third of a period apart; a reference longer than 1
// is cut to exactly 1. Each phase is the dq reference turned back from the
// frame of pllAngle: vd sin(a) + vq cos(a) at a = pllAngle plus the leg's
// phase offset, scaled down to length 1 when it is longer.
TEST_F(RegulatorsTest, ModulationReferenceIsLimitedToAmplitudeOne) {
    const double legOffset[3] = {0.0, -testing::TWO_PI / 3.0, testing::TWO_PI / 3.0};
    bool saturated = false;
    for (int step = 0; step < 6000; ++step) {
        grid.slowStep(model);
        const double *ref = modelSignals.control.modulationReferenceAbc;
        const double vd = signals().voltageReferenceD;
        const double vq = signals().voltageReferenceQ;
        const double length = std::sqrt(vd * vd + vq * vq);
        const double amplitude = std::min(length, 1.0);
        for (int k = 0; k < 3; ++k) {
            const double a = modelSignals.control.pll.pllAngle + legOffset[k];
            ASSERT_NEAR(ref[k], (vd * std::sin(a) + vq * std::cos(a)) * (amplitude / length), 1e-12)
                << "slow step " << step << ", leg " << k;
        }
        // A balanced set of amplitude m: the squares add up to 1.5 m^2, the values to 0.
        ASSERT_NEAR(ref[0] * ref[0] + ref[1] * ref[1] + ref[2] * ref[2], 1.5 * amplitude * amplitude, 1e-12)
            << "slow step " << step;
        ASSERT_NEAR(ref[0] + ref[1] + ref[2], 0.0, 1e-12) << "slow step " << step;
        if (length > 1.0) {
            saturated = true;
            ASSERT_EQ(signals().modulationMagnitude, 1.0);
        }
    }
    EXPECT_TRUE(saturated);
}

// The converter currents are measured in the frame of the locked loop: a
// current in phase with the grid voltage is all d axis, one a quarter cycle
// ahead all q axis. A q current at its reference leaves the q-axis
// regulator's integrator still.
TEST_F(RegulatorsTest, CurrentsAreMeasuredInTheFrameOfTheLockedLoop) {
    struct Case {
        double phase; // [rad] of the currents ahead of the grid voltage
        double id;    // [pu]
        double iq;    // [pu]
    };
    const double peak = 100.0; // [A]
    const double pu = peak * 0.0014696938456699067;
    const Case cases[] = {{0.0, pu, 0.0}, {M_PI / 2.0, 0.0, pu}, {M_PI, -pu, 0.0}};
    for (const Case &k : cases) {
        SCOPED_TRACE(k.phase);
        modelTerminate(model);
        modelInitialize(model);
        modelParameters.control.regulators.iqReference = k.iq;
        grid = GridDrive{};
        grid.currentAmplitude = peak;
        grid.currentPhase = k.phase;
        for (int step = 0; step < 3000; ++step) {
            grid.slowStep(model);
        }
        const double qIntegrator = work().currentRegulatorQ.integratorState;
        for (int step = 0; step < 1000; ++step) {
            grid.slowStep(model);
            ASSERT_NEAR(signals().currentDq[0], k.id, 1e-3 * pu) << "slow step " << step;
            ASSERT_NEAR(signals().currentDq[1], k.iq, 1e-3 * pu) << "slow step " << step;
        }
        EXPECT_NEAR(work().currentRegulatorQ.integratorState, qIntegrator, 1e-5);
    }
}

} // namespace
} // namespace kestrune
