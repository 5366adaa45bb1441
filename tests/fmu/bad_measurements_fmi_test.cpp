// Measurements a broken sensor or master sends: NaN, infinities and huge
// values on every input. The unit must keep every leg in one of its three
// gate patterns, and a new initialization must leave nothing of them behind.
#include "fmi_fixture.h"
#include "master/grid.h"

#include <cfloat>
#include <cmath>

namespace kestrune::fmitest {
namespace {

using master::Gates;
using master::Inputs;

constexpr int ONE_SECOND = 200000; // base steps
constexpr int NORMAL_RUN = 20000;  // base steps of normal inputs after the bad second

// A balanced 600 V, 60 Hz grid with 10 A currents and 500 V DC after n base
// steps; the time comes from the step count, so both units of a comparison
// get the same doubles.
Inputs normalInputs(int n) {
    return master::gridInputs({.currentPeak = 10.0}, n * BASE_STEP);
}

Inputs badInputs(int n) {
    const double bad[6] = {NaN, INF, -INF, 1e300, -1e300, DBL_MAX};
    const int part = static_cast<int>(static_cast<long long>(n) * 12 / ONE_SECOND);
    Inputs inputs{};
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        inputs[i] = part < 6 ? bad[part] : bad[(static_cast<std::size_t>(part) + i) % 6];
    }
    return inputs;
}

class BadMeasurementsFmiTest : public FmiTest {
  protected:
    // One base step with these inputs; false when the step failed or a leg
    // left its patterns.
    bool stepWith(fmi2Component c, double &t, const Inputs &inputs) {
        if (writeInputs(c, inputs) != fmi2OK || doStep(c, t, BASE_STEP) != fmi2OK) {
            return false;
        }
        t = t + BASE_STEP;
        logger.clear();
        return legalGatePatterns(readGates(c));
    }
};

TEST_F(BadMeasurementsFmiTest, NonFiniteAndHugeInputsKeepLegalGatesAndReinitializationForgetsThem) {
    fmi2Component c = initialized();
    ASSERT_NE(c, nullptr);
    double t = 0.0;
    for (int n = 0; n < ONE_SECOND; ++n) {
        ASSERT_TRUE(stepWith(c, t, badInputs(n))) << "bad inputs, base step " << n;
    }
    for (int n = 0; n < NORMAL_RUN; ++n) {
        ASSERT_TRUE(stepWith(c, t, normalInputs(n))) << "normal inputs after the bad second, base step " << n;
    }

    // A new initialization, side by side with a fresh unit in a library of
    // its own, over the same normal inputs.
    ASSERT_EQ(fmi().reset(c), fmi2OK);
    ASSERT_TRUE(initialize(c));
    master::FmuLibrary freshLibrary;
    ASSERT_TRUE(freshLibrary.loadFreshCopy(KESTRUNE_LIBRARY_PATH)) << freshLibrary.error();
    master::RecordingLogger freshLogger;
    master::Session fresh(freshLibrary, freshLogger);
    ASSERT_TRUE(fresh.instantiate());
    ASSERT_EQ(fresh.initialize(0.0), fmi2OK);

    double freshTime = 0.0;
    t = 0.0;
    ASSERT_EQ(readGates(c), [&] {
        Gates g{};
        EXPECT_EQ(fresh.readGates(g), fmi2OK);
        return g;
    }());
    for (int n = 0; n < NORMAL_RUN; ++n) {
        const Inputs inputs = normalInputs(n);
        ASSERT_TRUE(stepWith(c, t, inputs)) << "base step " << n;
        ASSERT_EQ(fresh.setInputs(inputs), fmi2OK);
        ASSERT_EQ(fresh.doStep(freshTime, BASE_STEP), fmi2OK);
        freshTime = freshTime + BASE_STEP;
        freshLogger.clear();
        Gates expected{};
        ASSERT_EQ(fresh.readGates(expected), fmi2OK);
        ASSERT_EQ(readGates(c), expected) << "base step " << n << " after the new initialization";
    }
}

} // namespace
} // namespace kestrune::fmitest
