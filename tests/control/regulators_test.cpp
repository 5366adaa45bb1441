// The DC-voltage and current regulators and the modulation reference,
// through the model step against a simulated grid.
#include "control/regulators.h"

#include "grid_drive.h"
#include "model/initialize.h"
#include "model/records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace kestrune {
namespace {

using testing::GridDrive;

class RegulatorsTest : public ::testing::Test {
  protected:
    void SetUp() override { modelInitialize(); }
    void TearDown() override {
        modelTerminate();
        modelParameters = defaults;
    }

    static const RegulatorSignals &signals() { return modelSignals.control.regulators; }
    static const RegulatorWork &work() { return modelWork.control.regulators; }

    const ModelParameters defaults = modelParameters;
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
        modelTerminate();
        modelInitialize();
        modelParameters.control.regulators.iqReference = k.iqReference;
        grid.dcVoltage = k.dcVoltage;
        for (int step = 0; step < 10000; ++step) {
            grid.slowStep();
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
    }
}

// The DC mean divides the voltage reference: a DC input of 0 V enters it as
// 10 V, so the mean, and the division, stay positive and finite.
TEST_F(RegulatorsTest, ADcInputOfZeroEntersTheDcMeanAsTenVolts) {
    grid.dcVoltage = 0.0;
    for (int step = 0; step < 400; ++step) {
        grid.slowStep();
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
// is cut to exactly 1.
TEST_F(RegulatorsTest, ModulationReferenceIsLimitedToAmplitudeOne) {
    bool saturated = false;
    for (int step = 0; step < 6000; ++step) {
        grid.slowStep();
        const double *ref = modelSignals.control.modulationReferenceAbc;
        const double vd = signals().voltageReferenceD;
        const double vq = signals().voltageReferenceQ;
        const double length = std::sqrt(vd * vd + vq * vq);
        const double amplitude = std::min(length, 1.0);
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

} // namespace
} // namespace kestrune
