// The measurement filters and the sampling of their outputs for the slow
// rate, driven through the model step on the static model.
#include "model/initialize.h"
#include "model/records.h"
#include "model/step.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>

namespace kestrune {
namespace {

constexpr int CHANNELS = FILTER_CHANNEL_COUNT;

// Channel k: inputs 0..6 in value-reference order, with the filtered and
// the held signal fed by that input.
double &input(int k) {
    if (k < 3) {
        return modelInputs.gridVoltage[k];
    }
    if (k < 6) {
        return modelInputs.converterCurrent[k - 3];
    }
    return modelInputs.dcVoltage;
}

double filtered(int k) {
    const ModulationSignals &s = modelSignals.modulation;
    if (k < 3) {
        return s.measuredVoltageAbc[k];
    }
    if (k < 6) {
        return s.measuredCurrentAbc[k - 3];
    }
    return s.measuredDcVoltage;
}

double held(int k) {
    const ModulationSignals &s = modelSignals.modulation;
    if (k < 3) {
        return s.heldVoltageAbc[k];
    }
    if (k < 6) {
        return s.heldCurrentAbc[k - 3];
    }
    return s.heldDcVoltage;
}

// A different level on every channel, so a channel fed from the wrong input
// or filtered with another channel's state shows.
constexpr std::array<double, CHANNELS> LEVEL = {339.4, -169.7, -169.7, 12.5, -4.0, -8.5, 500.0};

class InputFilterTest : public ::testing::Test {
  protected:
    void SetUp() override { modelInitialize(); }
};

TEST_F(InputFilterTest, ConstantInputSettlesToItselfFromTheDirectFeedthrough) {
    for (int k = 0; k < CHANNELS; ++k) {
        input(k) = LEVEL[k];
    }
    modelStep();
    for (int k = 0; k < CHANNELS; ++k) {
        EXPECT_EQ(filtered(k), 0.00013651105989287426 * LEVEL[k]) << "channel " << k;
    }
    // The filter's time constants are well under a millisecond: 20 ms is
    // long settled.
    for (int n = 1; n < 4000; ++n) {
        modelStep();
    }
    for (int k = 0; k < CHANNELS; ++k) {
        EXPECT_NEAR(filtered(k), LEVEL[k], 1e-9 * std::fabs(LEVEL[k])) << "channel " << k;
    }
}

// Drives every channel with its own 60 Hz sine (amplitude LEVEL[k], phase
// k / 2 rad), lets the filters settle for three grid periods and fits the
// next three: 10000 base steps are exactly three periods, so the sine and
// cosine sums over them separate the two components exactly.
TEST_F(InputFilterTest, SixtyHertzSinePassesWithItsGainAndPhaseLag) {
    constexpr double OMEGA = 2.0 * std::numbers::pi * 60.0;
    constexpr int PERIODS_3 = 10000;
    const auto inputPhase = [](int k) { return 0.5 * k; };
    std::array<double, CHANNELS> sinSum{};
    std::array<double, CHANNELS> cosSum{};
    for (int n = 0; n < 2 * PERIODS_3; ++n) {
        const double t = n * BASE_STEP;
        for (int k = 0; k < CHANNELS; ++k) {
            input(k) = LEVEL[k] * std::sin(OMEGA * t + inputPhase(k));
        }
        modelStep();
        if (n < PERIODS_3) {
            continue;
        }
        for (int k = 0; k < CHANNELS; ++k) {
            sinSum[k] += filtered(k) * std::sin(OMEGA * t + inputPhase(k));
            cosSum[k] += filtered(k) * std::cos(OMEGA * t + inputPhase(k));
        }
    }
    for (int k = 0; k < CHANNELS; ++k) {
        const double inPhase = 2.0 * sinSum[k] / PERIODS_3 / LEVEL[k];
        const double quadrature = 2.0 * cosSum[k] / PERIODS_3 / LEVEL[k];
        const double gain = std::hypot(inPhase, quadrature);
        const double lagDegrees = std::atan2(quadrature, inPhase) * 180.0 / std::numbers::pi;
        EXPECT_NEAR(gain, 0.99998, 1e-5) << "channel " << k;
        EXPECT_NEAR(lagDegrees, -6.49, 0.01) << "channel " << k;
    }
}

TEST_F(InputFilterTest, HeldSignalsTakeTheFilteredValueOfEachSlowRateHitOnly) {
    std::array<double, CHANNELS> previous{};
    for (int n = 0; n < 61; ++n) {
        // A ramp: the filtered values differ on every base step.
        for (int k = 0; k < CHANNELS; ++k) {
            input(k) = LEVEL[k] * (1.0 + 0.1 * n);
        }
        modelStep();
        const bool hit = n % 20 == 0;
        for (int k = 0; k < CHANNELS; ++k) {
            if (hit) {
                ASSERT_EQ(held(k), filtered(k)) << "base step " << n << ", channel " << k;
            } else {
                ASSERT_EQ(held(k), previous[k]) << "base step " << n << ", channel " << k;
                ASSERT_NE(held(k), filtered(k)) << "base step " << n << ", channel " << k;
            }
            previous[k] = held(k);
        }
    }
}

} // namespace
} // namespace kestrune
