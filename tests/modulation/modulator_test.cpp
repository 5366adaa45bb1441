// The three-level modulator: its carriers, the comparison of the leg
// references with them, and the gate patterns on the twelve outputs.
#include "../model/model_fixture.h"
#include "model/initialize.h"
#include "model/records.h"
#include "model/step.h"
#include "modulation/modulator.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace kestrune {
namespace {

using LegGates = std::array<double, 4>;
using AllGates = std::array<double, GATE_COUNT>;

constexpr LegGates POSITIVE = {1.0, 1.0, 0.0, 0.0};
constexpr LegGates NEUTRAL = {0.0, 1.0, 1.0, 0.0};
constexpr LegGates NEGATIVE = {0.0, 0.0, 1.0, 1.0};

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double INF = std::numeric_limits<double>::infinity();

class ModulatorTest : public testing::ModelTest {
  protected:
    // One model step whose leg references are abc: written into the
    // transfer register just before each slow-rate hit, which moves it into
    // heldReferenceAbc, whatever the controls compute.
    void stepWithReference(const std::array<double, 3> &abc) {
        if (modelRecord.rateCounters[1] == 0) {
            for (int k = 0; k < 3; ++k) {
                modelWork.modulation.referenceTransferBuffer[k] = abc[static_cast<std::size_t>(k)];
            }
        }
        modelStep(model);
    }

    LegGates legGates(int leg) {
        LegGates g{};
        for (int s = 0; s < 4; ++s) {
            g[static_cast<std::size_t>(s)] = modelOutputs.gates[leg * 4 + s];
        }
        return g;
    }

    AllGates allGates() {
        AllGates g{};
        for (int i = 0; i < GATE_COUNT; ++i) {
            g[static_cast<std::size_t>(i)] = modelOutputs.gates[i];
        }
        return g;
    }
};

TEST_F(ModulatorTest, TableCarrierFollowsItsTriangleAtKnownBaseSteps) {
    struct Case {
        int step;
        double upper;
        double lower;
    };
    // Step 31 lies just past the peak, step 93 just past the trough.
    const Case cases[] = {{0, 0.5, -0.5}, {1, 0.5162, -0.4838}, {31, 0.9978, -0.0022}, {93, 0.0066, -0.9934}};
    for (const Case &c : cases) {
        const Carriers carriers = modulatorCarriers(model, c.step * BASE_STEP);
        EXPECT_NEAR(carriers.upperCarrier, c.upper, 5e-5) << "base step " << c.step;
        EXPECT_NEAR(carriers.lowerCarrier, c.lower, 5e-5) << "base step " << c.step;
        EXPECT_NEAR(carriers.upperCarrier - carriers.lowerCarrier, 1.0, 1e-15) << "base step " << c.step;
    }
    const Carriers start = modulatorCarriers(model, 0.0);
    EXPECT_EQ(start.upperCarrier, 0.5);
    EXPECT_EQ(start.lowerCarrier, -0.5);
}

TEST_F(ModulatorTest, CarrierModeOneHoldsTheCarriersAtPlusAndMinusOneHalf) {
    modelParameters.modulation.modulator.carrierMode = 1.0;
    for (int step : {0, 1, 31, 93, 1000}) {
        const Carriers carriers = modulatorCarriers(model, step * BASE_STEP);
        EXPECT_EQ(carriers.upperCarrier, 0.5) << "base step " << step;
        EXPECT_EQ(carriers.lowerCarrier, -0.5) << "base step " << step;
    }
}

// At base step 0 the carriers are exactly +0.5 and -0.5.
TEST_F(ModulatorTest, LevelOfAReferenceOnAroundAndBeyondTheCarriers) {
    struct Case {
        double reference;
        LegGates gates;
    };
    const Case cases[] = {
        {0.5, POSITIVE},  {std::nextafter(0.5, 0.0), NEUTRAL},
        {-0.5, NEGATIVE}, {std::nextafter(-0.5, 0.0), NEUTRAL},
        {0.0, NEUTRAL},   {NaN, NEUTRAL},
        {INF, POSITIVE},  {-INF, NEGATIVE},
    };
    for (const Case &c : cases) {
        modelInitialize(model);
        stepWithReference({c.reference, c.reference, c.reference});
        for (int leg = 0; leg < 3; ++leg) {
            EXPECT_EQ(legGates(leg), c.gates) << "reference " << c.reference << ", leg " << leg;
        }
    }
    // Each leg follows its own reference.
    modelInitialize(model);
    stepWithReference({-0.5, 0.0, 0.5});
    EXPECT_EQ(legGates(0), NEGATIVE);
    EXPECT_EQ(legGates(1), NEUTRAL);
    EXPECT_EQ(legGates(2), POSITIVE);
}

TEST_F(ModulatorTest, ReferencesBeyondTheCarrierRangeHoldTheirLevelOverWholeCarrierPeriods) {
    for (int n = 0; n < 250; ++n) {
        stepWithReference({1.5, -1.5, 0.0});
        ASSERT_EQ(legGates(0), POSITIVE) << "base step " << n;
        ASSERT_EQ(legGates(1), NEGATIVE) << "base step " << n;
        ASSERT_EQ(legGates(2), NEUTRAL) << "base step " << n;
    }
}

// Two arms: legs b and c repeat the level of the negated leg-a reference and
// ignore their own references, so the outputs equal those of three arms
// driven with (r, -r, -r).
TEST_F(ModulatorTest, TwoArmModeDrivesLegsBAndCFromTheNegatedLegAReference) {
    const auto legA = [](int n) { return 0.7 * std::sin(0.4 * (n / 20)); };
    std::vector<AllGates> twoArm;
    modelParameters.modulation.modulator.armCount = 2.0;
    for (int n = 0; n < 400; ++n) {
        stepWithReference({legA(n), 0.9, -0.9});
        twoArm.push_back(allGates());
    }

    modelParameters.modulation.modulator.armCount = 3.0;
    modelInitialize(model);
    int legsApart = 0;
    for (int n = 0; n < 400; ++n) {
        stepWithReference({legA(n), -legA(n), -legA(n)});
        ASSERT_EQ(twoArm[static_cast<std::size_t>(n)], allGates()) << "base step " << n;
        legsApart += legGates(0) != legGates(1) ? 1 : 0;
    }
    EXPECT_GT(legsApart, 0);
}

} // namespace
} // namespace kestrune
