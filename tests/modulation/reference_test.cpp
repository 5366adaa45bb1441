// The leg references: transfer of the slow rate's modulation reference with
// one slow period of delay, and the internal 60 Hz sine source.
#include "../model/model_fixture.h"
#include "model/initialize.h"
#include "model/records.h"
#include "model/step.h"
#include "modulation/reference.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>

namespace kestrune {
namespace {

constexpr double OMEGA = 2.0 * std::numbers::pi * 60.0;
constexpr std::array<double, 3> PHASE = {0.0, -2.0 * std::numbers::pi / 3.0, 2.0 * std::numbers::pi / 3.0};

double sineAt(double t, int k) {
    return 0.8 * std::sin(OMEGA * t + PHASE[k]);
}

class ReferenceTest : public testing::ModelTest {
  protected:
    void useSineSource() { modelParameters.modulation.reference.referenceSource = 0.0; }
    void steps(int n) {
        for (int i = 0; i < n; ++i) {
            modelStep(model);
        }
    }
};

TEST_F(ReferenceTest, SineSourceStartsExactlyOnItsThreePhases) {
    useSineSource();
    const LegReferences first = selectLegReferences(model, 0.0);
    EXPECT_EQ(first.abc[0], 0.0);
    EXPECT_EQ(first.abc[1], -0.692820323027551);
    EXPECT_EQ(first.abc[2], 0.6928203230275511);
}

// 10000 base steps are exactly three grid periods; the rotation must keep
// the amplitude and land on the phase the time gives, on every leg.
TEST_F(ReferenceTest, SineSourceKeepsAmplitudeAndPhaseOverWholeGridPeriods) {
    useSineSource();
    steps(10000);
    const LegReferences after = selectLegReferences(model, 10000 * BASE_STEP);
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(after.abc[k], sineAt(0.0, k), 1e-10) << "leg " << k;
        const ModulationWork &w = modelWork.modulation;
        EXPECT_NEAR(std::hypot(w.sineLast[k], w.cosineLast[k]), 1.0, 1e-12) << "leg " << k;
    }
    steps(833); // a quarter period later, to the step
    const LegReferences quarter = selectLegReferences(model, 10833 * BASE_STEP);
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(quarter.abc[k], sineAt(10833 * BASE_STEP, k), 1e-10) << "leg " << k;
    }
}

TEST_F(ReferenceTest, SineSourceRunsOnWhileTheTransferredReferenceIsSelected) {
    steps(2500); // default source: the sine output is not used
    useSineSource();
    const LegReferences now = selectLegReferences(model, 2500 * BASE_STEP);
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(now.abc[k], sineAt(2500 * BASE_STEP, k), 1e-10) << "leg " << k;
    }
}

// Whatever the slow step leaves in modulationReferenceAbc drives the legs for
// the 20 base steps of the next slow period, and never its own.
TEST_F(ReferenceTest, TransferredReferenceReachesTheLegsOneSlowPeriodLater) {
    std::array<double, 3> expected = {0.0, 0.0, 0.0}; // the initial transfer value
    std::array<double, 3> stored{};
    for (int n = 0; n < 80; ++n) {
        const bool hit = n % 20 == 0;
        if (hit) {
            expected = stored;
            const double slowStep = n / 20;
            modelSignals.control.modulationReferenceAbc[0] = 0.1 + slowStep;
            modelSignals.control.modulationReferenceAbc[1] = -0.2 - slowStep;
            modelSignals.control.modulationReferenceAbc[2] = 0.3 * slowStep;
        }
        modelStep(model);
        if (hit) {
            for (int k = 0; k < 3; ++k) {
                ASSERT_EQ(modelSignals.modulation.heldReferenceAbc[k], expected[k]) << "base step " << n;
                stored[k] = modelSignals.control.modulationReferenceAbc[k];
            }
        }
        // The references the next output phase uses, unless the next step
        // starts a new slow period.
        if ((n + 1) % 20 != 0) {
            const LegReferences legs = selectLegReferences(model, (n + 1) * BASE_STEP);
            for (int k = 0; k < 3; ++k) {
                ASSERT_EQ(legs.abc[k], expected[k]) << "base step " << n + 1 << ", leg " << k;
            }
        }
    }
}

} // namespace
} // namespace kestrune
