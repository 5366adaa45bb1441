// The twelve gate outputs as a master reads them after each base step.
#include "fmi_fixture.h"

#include <array>

namespace kestrune::fmitest {
namespace {

using Gates = master::Gates;

class GatesFmiTest : public FmiTest {
  protected:
    Gates gates(fmi2Component c) {
        Gates g{};
        for (fmi2ValueReference i = 0; i < GATE_COUNT; ++i) {
            g[i] = readReal(c, FIRST_GATE_VR + i);
        }
        return g;
    }
};

constexpr Gates ALL_NEUTRAL = {0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0};

// Until the first transferred reference arrives the modulator sees the
// initial reference 0, strictly between the carriers: every leg at the
// neutral point, from the step run by leaving initialization mode on.
TEST_F(GatesFmiTest, ZeroInputsHoldEveryLegAtTheNeutralPointForTheFirstTwentyBaseSteps) {
    fmi2Component c = initialized();
    ASSERT_NE(c, nullptr);
    double t = 0.0;
    for (int n = 0; n < 20; ++n) {
        if (n > 0) {
            ASSERT_EQ(doStep(c, t, BASE_STEP), fmi2OK);
            t = t + BASE_STEP;
        }
        EXPECT_EQ(gates(c), ALL_NEUTRAL) << "base step " << n;
    }
}

// A balanced grid and a DC voltage on the inputs; 8000 base steps cover 65
// carrier periods, among them base step 7500, where the carrier's trough is
// hit exactly.
TEST_F(GatesFmiTest, SwitchesOneAndThreeAndTwoAndFourAreComplementaryOnEveryStep) {
    fmi2Component c = instance();
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(setup(c, 0.0), fmi2OK);
    ASSERT_EQ(fmi().enterInitializationMode(c), fmi2OK);
    const double inputs[INPUT_COUNT] = {489.9, -244.9, -244.9, 10.0, -5.0, -5.0, 500.0};
    const fmi2ValueReference inputVr[INPUT_COUNT] = {0, 1, 2, 3, 4, 5, 6};
    ASSERT_EQ(fmi().setReal(c, inputVr, INPUT_COUNT, inputs), fmi2OK);
    ASSERT_EQ(fmi().exitInitializationMode(c), fmi2OK);

    double t = 0.0;
    for (int n = 0; n < 8000; ++n) {
        if (n > 0) {
            ASSERT_EQ(doStep(c, t, BASE_STEP), fmi2OK);
            t = t + BASE_STEP;
            logger.clear();
        }
        const Gates g = gates(c);
        for (std::size_t leg = 0; leg < 3; ++leg) {
            ASSERT_EQ(g[4 * leg] + g[4 * leg + 2], 1.0) << "base step " << n << ", leg " << leg;
            ASSERT_EQ(g[4 * leg + 1] + g[4 * leg + 3], 1.0) << "base step " << n << ", leg " << leg;
        }
    }
}

} // namespace
} // namespace kestrune::fmitest
