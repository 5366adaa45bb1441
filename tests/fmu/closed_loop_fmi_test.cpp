// The closed loop as a master sees it: five simulated seconds against a
// balanced 600 V, 60 Hz grid with 500 V on the DC link.
#include "fmi_fixture.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kestrune::fmitest {
namespace {

using Gates = master::Gates;
using Pattern = std::array<double, 4>;

constexpr double GRID_PEAK = 489.89794855663564; // [V] phase peak of 600 V line to line
constexpr double OMEGA = 2.0 * 3.141592653589793 * 60.0;
constexpr double PHASE_SHIFT = 2.0 * 3.141592653589793 / 3.0;
constexpr int BASE_STEPS = 5 * 200000;
constexpr int LAST_SECOND = BASE_STEPS - 200000;

// A leg's four switches: at the negative rail, the neutral point, the
// positive rail.
constexpr Pattern LEGAL_PATTERNS[3] = {{0, 0, 1, 1}, {0, 1, 1, 0}, {1, 1, 0, 0}};

// The leg's level -1, 0 or 1, or 2 for a pattern that is none of the three.
int legLevel(const Gates &g, std::size_t leg) {
    const Pattern p = {g[4 * leg], g[4 * leg + 1], g[4 * leg + 2], g[4 * leg + 3]};
    for (int level = 0; level < 3; ++level) {
        if (p == LEGAL_PATTERNS[level]) {
            return level - 1;
        }
    }
    return 2;
}

class ClosedLoopFmiTest : public FmiTest {};

// Whatever amplitude the freely integrating current regulators leave, every
// leg shows a legal pattern on every base step, keeps switching to the end,
// and uses all three levels.
TEST_F(ClosedLoopFmiTest, FiveSecondsOnA60HzGridGiveLegalSwitchingLegs) {
    fmi2Component c = instance();
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(setup(c, 0.0), fmi2OK);
    ASSERT_EQ(fmi().enterInitializationMode(c), fmi2OK);

    const fmi2ValueReference inputVr[4] = {0, 1, 2, 6};
    fmi2ValueReference gateVr[GATE_COUNT];
    for (fmi2ValueReference i = 0; i < GATE_COUNT; ++i) {
        gateVr[i] = FIRST_GATE_VR + i;
    }
    auto setGrid = [&](int n) {
        const double t = n * BASE_STEP;
        const double inputs[4] = {GRID_PEAK * std::sin(OMEGA * t),
                                  GRID_PEAK * std::sin(OMEGA * t - PHASE_SHIFT),
                                  GRID_PEAK * std::sin(OMEGA * t + PHASE_SHIFT), 500.0};
        return fmi().setReal(c, inputVr, 4, inputs);
    };
    ASSERT_EQ(setGrid(0), fmi2OK);
    ASSERT_EQ(fmi().exitInitializationMode(c), fmi2OK);

    std::array<int, 3> previous = {0, 0, 0};
    std::array<int, 3> lastSwitch = {0, 0, 0};
    std::array<int, 3> longestStill = {0, 0, 0}; // base steps without a switch
    std::array<int, 3> switchesLastSecond = {0, 0, 0};
    std::array<std::array<bool, 3>, 3> levelsLastSecond{};
    double t = 0.0;
    for (int n = 0; n < BASE_STEPS; ++n) {
        if (n > 0) {
            ASSERT_EQ(setGrid(n), fmi2OK);
            ASSERT_EQ(doStep(c, t, BASE_STEP), fmi2OK);
            t = t + BASE_STEP;
            logger.clear();
        }
        Gates g{};
        ASSERT_EQ(fmi().getReal(c, gateVr, GATE_COUNT, g.data()), fmi2OK);
        for (std::size_t leg = 0; leg < 3; ++leg) {
            const int level = legLevel(g, leg);
            ASSERT_NE(level, 2) << "base step " << n << ", leg " << leg;
            if (n > 0 && level != previous[leg]) {
                longestStill[leg] = std::max(longestStill[leg], n - lastSwitch[leg]);
                lastSwitch[leg] = n;
                switchesLastSecond[leg] += n >= LAST_SECOND ? 1 : 0;
            }
            if (n >= LAST_SECOND) {
                levelsLastSecond[leg][static_cast<std::size_t>(level + 1)] = true;
            }
            previous[leg] = level;
        }
    }
    for (std::size_t leg = 0; leg < 3; ++leg) {
        SCOPED_TRACE(leg);
        // A carrier period gives a leg a pulse toward its side, two
        // switches, except near the reference's zero crossings: over 1620
        // carrier periods, well over a thousand switches.
        EXPECT_GT(switchesLastSecond[leg], 1000);
        // From the start to the end, no leg rests for as long as a grid cycle.
        longestStill[leg] = std::max(longestStill[leg], BASE_STEPS - lastSwitch[leg]);
        EXPECT_LT(longestStill[leg], 3333);
        EXPECT_EQ(levelsLastSecond[leg], (std::array<bool, 3>{true, true, true}));
    }
}

} // namespace
} // namespace kestrune::fmitest
