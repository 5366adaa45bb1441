// The balanced grid the test masters and kestrune-record feed the unit.
#include "master/grid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace kestrune::master {
namespace {

TEST(MasterGrid, PhasePeakFromLineToLineRmsAndPhaseOrder) {
    const BalancedGrid grid{
        .lineToLineRms = 600.0, .frequency = 50.0, .currentPeak = 10.0, .dcVoltage = 700.0};
    const double peak = 600.0 * std::sqrt(2.0 / 3.0);

    // A quarter period in: phase A at its positive peak, B and C at -peak/2.
    Inputs at = gridInputs(grid, 0.005);
    EXPECT_NEAR(at[0], peak, 1e-9);
    EXPECT_NEAR(at[1], -peak / 2, 1e-9);
    EXPECT_NEAR(at[2], -peak / 2, 1e-9);
    EXPECT_NEAR(at[3], 10.0, 1e-12); // currents in phase with the voltages
    EXPECT_EQ(at[6], 700.0);
    // B lags A by a third of a period: it peaks a third of a period later.
    at = gridInputs(grid, 0.005 + 0.02 / 3);
    EXPECT_NEAR(at[1], peak, 1e-9);
    EXPECT_NEAR(at[4], 10.0, 1e-12);
    // Line-to-line A-B peaks a sixth of a period in, at sqrt(2) times the rms.
    at = gridInputs(grid, 0.02 / 6);
    EXPECT_NEAR(at[0] - at[1], 600.0 * std::numbers::sqrt2, 1e-9);

    // The start angle shifts every phase.
    const BalancedGrid turned{.angle = std::numbers::pi / 2.0};
    at = gridInputs(turned, 0.0);
    EXPECT_NEAR(at[0], peak, 1e-9);
    EXPECT_NEAR(at[2], -peak / 2, 1e-9);
}

} // namespace
} // namespace kestrune::master
