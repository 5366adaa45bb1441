// The open-loop sine source driving the modulator, stepped through the fmi2
// functions of the statically linked unit. The source is chosen through the
// parameter record, which the FMI surface does not publish.
#include "fmu/fmi2.h"
#include "fmu/instance.h"
#include "master/recording_logger.h"
#include "model/records.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace kestrune {
namespace {

constexpr double STEP = 5e-6;
constexpr int STEPS = 20000;                     // 0.1 s: six grid periods
constexpr double CARRIER_PERIODS = 0.1 * 1620.0; // carrier periods in that time

class OpenLoopTest : public ::testing::Test {
  protected:
    void SetUp() override { libraryModel.parameters.modulation.reference.referenceSource = 0.0; }
    void TearDown() override {
        if (component != nullptr) {
            fmi2FreeInstance(component);
        }
        libraryModel.parameters.modulation.reference.referenceSource = 1.0;
    }

    // Level of each leg after every base step, read from its four gates,
    // whose complementary pairs are checked on the way.
    std::vector<std::array<int, 3>> runLevels() {
        component = fmi2Instantiate("open-loop", fmi2CoSimulation, MODEL_GUID, nullptr, logger.callbacks(),
                                    fmi2False, fmi2False);
        EXPECT_NE(component, nullptr);
        EXPECT_EQ(fmi2SetupExperiment(component, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
        EXPECT_EQ(fmi2EnterInitializationMode(component), fmi2OK);
        EXPECT_EQ(fmi2ExitInitializationMode(component), fmi2OK);

        std::vector<std::array<int, 3>> levels;
        double t = 0.0;
        for (int n = 0; n < STEPS; ++n) {
            if (n > 0) {
                EXPECT_EQ(fmi2DoStep(component, t, STEP, fmi2True), fmi2OK);
                t = t + STEP;
                logger.clear();
            }
            const fmi2ValueReference vr[GATE_COUNT] = {7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
            fmi2Real gates[GATE_COUNT] = {};
            EXPECT_EQ(fmi2GetReal(component, vr, GATE_COUNT, gates), fmi2OK);
            std::array<int, 3> level{};
            for (std::size_t leg = 0; leg < 3; ++leg) {
                const double *g = &gates[leg * 4];
                // Switches 1 and 3, and 2 and 4, are complementary.
                EXPECT_EQ(g[0] + g[2], 1.0) << "base step " << n << ", leg " << leg;
                EXPECT_EQ(g[1] + g[3], 1.0) << "base step " << n << ", leg " << leg;
                level[leg] = g[0] == 1.0 ? 1 : (g[3] == 1.0 ? -1 : 0);
            }
            levels.push_back(level);
        }
        return levels;
    }

    fmi2Component component = nullptr;
    master::RecordingLogger logger;
};

// A pulse is a step at which a leg leaves the neutral point. The 60 Hz
// reference stays on one side of zero for a half period, and each carrier
// period gives one pulse toward that side; only around the reference's zero
// crossings, where it is too small to reach a carrier, can a pulse fall out.
TEST_F(OpenLoopTest, EachLegPulsesOncePerCarrierPeriod) {
    const std::vector<std::array<int, 3>> levels = runLevels();
    for (std::size_t leg = 0; leg < 3; ++leg) {
        int pulses = 0;
        int positive = 0;
        int negative = 0;
        for (std::size_t n = 1; n < levels.size(); ++n) {
            const int now = levels[n][leg];
            if (now != 0 && levels[n - 1][leg] == 0) {
                ++pulses;
            }
            positive += now > 0 ? 1 : 0;
            negative += now < 0 ? 1 : 0;
        }
        EXPECT_LE(pulses, CARRIER_PERIODS + 1) << "leg " << leg;
        EXPECT_GE(pulses, CARRIER_PERIODS - 12) << "leg " << leg;
        // A sine over whole periods: as long at the positive rail as at the
        // negative one, to within a few pulses' worth.
        EXPECT_NEAR(positive, negative, 0.02 * STEPS) << "leg " << leg;
    }
    // The three legs are a third of a period apart, not in step.
    int apart = 0;
    for (const std::array<int, 3> &level : levels) {
        apart += level[0] != level[1] || level[1] != level[2] ? 1 : 0;
    }
    EXPECT_GT(apart, STEPS / 4);
}

} // namespace
} // namespace kestrune
