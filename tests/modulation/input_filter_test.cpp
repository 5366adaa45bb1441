// The measurement filters and the sampling of their outputs for the slow
// rate, driven through the model step on a model of the test's own.
#include "../model/model_fixture.h"
#include "model/initialize.h"
#include "model/records.h"
#include "model/step.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>

namespace kestrune {
namespace {

constexpr std::size_t CHANNELS = FILTER_CHANNEL_COUNT;

// Each input in value-reference order with the filtered and the held signal
// it feeds.
struct Channel {
    double *input;
    const double *filtered;
    const double *held;
};

std::array<Channel, CHANNELS> channels(Model &model) {
    ModelInputs &u = model.inputs;
    const ModulationSignals &s = model.signals.modulation;
    std::array<Channel, CHANNELS> all{};
    for (std::size_t k = 0; k < 3; ++k) {
        all[k] = {&u.gridVoltage[k], &s.measuredVoltageAbc[k], &s.heldVoltageAbc[k]};
        all[k + 3] = {&u.converterCurrent[k], &s.measuredCurrentAbc[k], &s.heldCurrentAbc[k]};
    }
    all[6] = {&u.dcVoltage, &s.measuredDcVoltage, &s.heldDcVoltage};
    return all;
}

// A different level on every channel, so a channel fed from the wrong input
// or filtered with another channel's state shows.
constexpr std::array<double, CHANNELS> LEVEL = {339.4, -169.7, -169.7, 12.5, -4.0, -8.5, 500.0};

class InputFilterTest : public testing::ModelTest {
  protected:
    const std::array<Channel, CHANNELS> channel = channels(model);
};

TEST_F(InputFilterTest, ConstantInputSettlesToItselfFromTheDirectFeedthrough) {
    for (std::size_t k = 0; k < CHANNELS; ++k) {
        *channel[k].input = LEVEL[k];
    }
    modelStep(model);
    for (std::size_t k = 0; k < CHANNELS; ++k) {
        EXPECT_EQ(*channel[k].filtered, 0.00013651105989287426 * LEVEL[k]) << "channel " << k;
    }
    // The filter's time constants are well under a millisecond: 20 ms is
    // long settled.
    for (int n = 1; n < 4000; ++n) {
        modelStep(model);
    }
    for (std::size_t k = 0; k < CHANNELS; ++k) {
        EXPECT_NEAR(*channel[k].filtered, LEVEL[k], 1e-9 * std::fabs(LEVEL[k])) << "channel " << k;
    }
}

// Drives every channel with its own 60 Hz sine (amplitude LEVEL[k], phase
// k / 2 rad), lets the filters settle for three grid periods and fits the
// next three: 10000 base steps are exactly three periods, so the sine and
// cosine sums over them separate the two components exactly.
TEST_F(InputFilterTest, SixtyHertzSinePassesWithItsGainAndPhaseLag) {
    constexpr double OMEGA = 2.0 * std::numbers::pi * 60.0;
    constexpr int PERIODS_3 = 10000;
    const auto inputPhase = [](std::size_t k) { return 0.5 * static_cast<double>(k); };
    std::array<double, CHANNELS> sinSum{};
    std::array<double, CHANNELS> cosSum{};
    for (int n = 0; n < 2 * PERIODS_3; ++n) {
        const double t = n * BASE_STEP;
        for (std::size_t k = 0; k < CHANNELS; ++k) {
            *channel[k].input = LEVEL[k] * std::sin(OMEGA * t + inputPhase(k));
        }
        modelStep(model);
        if (n < PERIODS_3) {
            continue;
        }
        for (std::size_t k = 0; k < CHANNELS; ++k) {
            sinSum[k] += *channel[k].filtered * std::sin(OMEGA * t + inputPhase(k));
            cosSum[k] += *channel[k].filtered * std::cos(OMEGA * t + inputPhase(k));
        }
    }
    for (std::size_t k = 0; k < CHANNELS; ++k) {
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
        for (std::size_t k = 0; k < CHANNELS; ++k) {
            *channel[k].input = LEVEL[k] * (1.0 + 0.1 * n);
        }
        modelStep(model);
        const bool hit = n % 20 == 0;
        for (std::size_t k = 0; k < CHANNELS; ++k) {
            if (hit) {
                ASSERT_EQ(*channel[k].held, *channel[k].filtered) << "base step " << n << ", channel " << k;
            } else {
                ASSERT_EQ(*channel[k].held, previous[k]) << "base step " << n << ", channel " << k;
                ASSERT_NE(*channel[k].held, *channel[k].filtered) << "base step " << n << ", channel " << k;
            }
            previous[k] = *channel[k].held;
        }
    }
}

} // namespace
} // namespace kestrune
