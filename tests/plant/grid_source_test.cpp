// The grid source's events: the dip types against their sequence
// components, the voltages the plant makes of them, harmonics against their
// spectrum, frequency ramps and profiles against their definitions.
#include "plant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

namespace kestrune::plant {
namespace {

constexpr double PI = std::numbers::pi;

// The gates of level pattern 9 (l_a + 1) + 3 (l_b + 1) + l_c + 1.
std::array<double, 12> gatesOf(int pattern) {
    std::array<double, 12> gates{};
    for (std::size_t leg = 0; leg < 3; ++leg) {
        const int level = (leg == 0 ? pattern / 9 : leg == 1 ? pattern / 3 : pattern) % 3 - 1;
        gates[4 * leg] = level > 0 ? 1.0 : 0.0;
        gates[4 * leg + 1] = level >= 0 ? 1.0 : 0.0;
        gates[4 * leg + 2] = level <= 0 ? 1.0 : 0.0;
        gates[4 * leg + 3] = level < 0 ? 1.0 : 0.0;
    }
    return gates;
}
const std::array<double, 12> ZERO_LEVELS = gatesOf(13);

GridEvent dipEvent(double time, DipType type, double depth, int special) {
    GridEvent event{time, EventKind::Dip, depth};
    event.dip = type;
    event.special = special;
    return event;
}

// The sequence components of each type as the literature derives them; a
// special phase b or c turns the negative sequence by +120 degrees per
// phase and the zero sequence by -120 against the positive one.
TEST(GridSourceDips, EachTypeHasTheSequenceComponentsOfItsClass) {
    for (const double h : {0.0, 0.2, 0.5, 0.8, 1.0, 1.2, 2.0}) {
        const struct {
            DipType type;
            double positive, negative, zero;
        } cases[] = {
            {DipType::A, h, 0.0, 0.0},
            {DipType::B, (2.0 + h) / 3.0, -(1.0 - h) / 3.0, -(1.0 - h) / 3.0},
            {DipType::C, (1.0 + h) / 2.0, (1.0 - h) / 2.0, 0.0},
            {DipType::D, (1.0 + h) / 2.0, -(1.0 - h) / 2.0, 0.0},
            {DipType::E, (1.0 + 2.0 * h) / 3.0, (1.0 - h) / 3.0, (1.0 - h) / 3.0},
            {DipType::F, (1.0 + 2.0 * h) / 3.0, -(1.0 - h) / 3.0, 0.0},
            {DipType::G, (1.0 + 2.0 * h) / 3.0, (1.0 - h) / 3.0, 0.0},
        };
        for (const auto &c : cases) {
            for (int special = 0; special < 3; ++special) {
                const SequenceComponents s = sequenceComponents(dipPhasors(c.type, h, special));
                const Phasor turn = std::polar(1.0, 2.0 * PI / 3.0 * special);
                const std::string what = std::to_string(static_cast<int>(c.type)) + " " + std::to_string(h);
                EXPECT_LT(std::abs(s.positive - c.positive), 1e-15) << what << " at " << special;
                EXPECT_LT(std::abs(s.negative - c.negative * turn), 1e-15) << what << " at " << special;
                EXPECT_LT(std::abs(s.zero - c.zero / turn), 1e-15) << what << " at " << special;
            }
        }
    }
}

// The source makes peak * Im(V_k exp(j theta)) of the type's phasors, stiff
// or weak; the three wires carry no zero sequence, and the PCC keeps the
// source's (no zero-sequence current flows through the grid impedance).
TEST(GridSourceDips, TheSourceMakesThePhasorsVoltagesAndTheWiresCarryNoZeroSequence) {
    const struct {
        DipType type;
        double depth;
        int special;
        double scr; // 0: stiff
    } cases[] = {{DipType::B, 0.3, 0, 0.0}, {DipType::C, 0.5, 1, 0.0}, {DipType::E, 0.0, 2, 0.0},
                 {DipType::G, 1.4, 0, 0.0}, {DipType::B, 0.3, 2, 3.0}, {DipType::F, 0.6, 1, 5.0}};
    for (const auto &c : cases) {
        const std::string what = std::to_string(static_cast<int>(c.type)) + " scr " + std::to_string(c.scr);
        const PlantParameters p;
        Plant plant(p, gridImpedance(c.scr, 10.0, 1), {p}, {dipEvent(0.001, c.type, c.depth, c.special)});
        const std::array<Phasor, 3> dip = dipPhasors(c.type, c.depth, c.special);
        double worst = 0.0;
        for (int k = 0; k < 1200; ++k) {
            const std::array<Phasor, 3> phasors = k < 200 ? dipPhasors(DipType::A, 1.0) : dip;
            for (std::size_t phase = 0; phase < 3; ++phase) {
                const double expected =
                    p.gridPhasePeak * (phasors[phase] * std::polar(1.0, plant.gridAngle())).imag();
                worst = std::max(worst, std::abs(plant.gridVoltages()[phase] - expected));
            }
            const std::array<double, 3> &i = plant.state().current;
            ASSERT_LT(std::abs(i[0] + i[1] + i[2]), 1e-6) << what << " at " << k;
            plant.step(ZERO_LEVELS);
        }
        EXPECT_LT(worst, 1e-9) << what;
        EXPECT_GT(std::abs(plant.state().current[0]), 1.0) << what; // the dip drives current
        const std::array<double, 3> v = plant.pccVoltages();
        const std::array<double, 3> e = plant.gridVoltages();
        EXPECT_NEAR(v[0] + v[1] + v[2], e[0] + e[1] + e[2], 1e-9) << what;
    }
}

// Every type at h = 1 (and a harmonic background emptied again) is today's
// balanced grid to the last bit, stiff (step maps) or weak (stages), against
// today's events that leave the grid nominal (each re-anchors the phasor).
TEST(GridSourceDips, EveryTypeAtFullDepthIsTheBalancedGridBitForBit) {
    const PlantParameters p;
    for (const double scr : {0.0, 4.0}) {
        for (int type = 0; type < 7; ++type) {
            Plant plant(p, gridImpedance(scr, 10.0, 2), {p, p},
                        {dipEvent(0.001, static_cast<DipType>(type), 1.0, type % 3),
                         {0.002, EventKind::Harmonics, 0.0}});
            Plant reference(p, gridImpedance(scr, 10.0, 2), {p, p},
                            {{0.001, EventKind::Sag, 1.0}, {0.002, EventKind::Sag, 1.0}});
            for (int k = 0; k < 800; ++k) {
                for (Plant *q : {&plant, &reference}) {
                    q->hold(0, gatesOf(k % 27));
                    q->hold(1, gatesOf(7));
                    q->step();
                }
                ASSERT_EQ(plant.measurements(0), reference.measurements(0)) << type << " scr " << scr;
                ASSERT_EQ(plant.measurements(1), reference.measurements(1)) << type << " scr " << scr;
            }
        }
    }
}

// The background's spectrum over a whole cycle: each order at its magnitude
// and phase, in the sequence its order implies (5 negative, 7 positive, 3
// zero, which the three-wire currents do not carry). A sin(x) has the
// coefficient A exp(j (x0 - 90 deg)) at its order.
TEST(GridSourceHarmonics, EachOrderAppearsAtItsMagnitudePhaseAndSequence) {
    PlantParameters p;
    p.gridFrequency = 50.0; // 4000 base steps per cycle
    p.gridAngle = 0.0;
    GridEvent background{0.0, EventKind::Harmonics, 0.0};
    background.harmonics = {{5, 0.06, 30.0 * PI / 180.0}, {7, 0.05, 0.0}, {3, 0.04, -90.0 * PI / 180.0}};
    Plant plant(p, {background});
    const int n = 4000;
    std::array<std::array<Phasor, 3>, 8> spectrum{}; // orders 0 to 7, phases a to c
    for (int k = 0; k < n; ++k) {
        for (std::size_t order = 1; order < 8; ++order) {
            const Phasor w = std::polar(2.0 / n, -2.0 * PI * static_cast<double>(order) * k / n);
            for (std::size_t phase = 0; phase < 3; ++phase) {
                spectrum[order][phase] += plant.gridVoltages()[phase] * w;
            }
        }
        const std::array<double, 3> &i = plant.state().current;
        ASSERT_LT(std::abs(i[0] + i[1] + i[2]), 1e-6) << k;
        plant.step(ZERO_LEVELS);
    }
    const struct {
        std::size_t order;
        double magnitude, degrees, perPhase; // phase a's angle, and from phase to phase
    } expected[] = {{1, 1.0, 0.0, -120.0},
                    {5, 0.06, 30.0, 120.0},
                    {7, 0.05, 0.0, -120.0},
                    {3, 0.04, -90.0, 0.0},
                    {2, 0.0, 0.0, 0.0}};
    for (const auto &e : expected) {
        for (std::size_t phase = 0; phase < 3; ++phase) {
            const double angle = (e.degrees - 90.0 + e.perPhase * static_cast<double>(phase)) * PI / 180.0;
            EXPECT_LT(std::abs(spectrum[e.order][phase] - std::polar(e.magnitude * p.gridPhasePeak, angle)),
                      1e-6 * p.gridPhasePeak)
                << "order " << e.order << " phase " << phase;
        }
    }
}

// A ramp moves the frequency at its rate until its target and holds it, the
// angle the frequency's integral and e continuous; a phase jump during a ramp
// leaves it running, a frequency event ends it.
TEST(GridSourceRamps, TheFrequencyFollowsTheRateUntilTheTargetWithTheAngleContinuous) {
    const struct {
        double rate, to;
        GridEvent during; // at 0.02 s
        double frequencyAtEnd;
    } cases[] = {{20.0, 61.5, {0.02, EventKind::PhaseJump, 0.5}, 61.5},
                 {-20.0, 57.5, {0.02, EventKind::Load, 2e5}, 57.5},
                 {20.0, 61.5, {0.02, EventKind::Frequency, 59.0}, 59.0}};
    for (const auto &c : cases) {
        const PlantParameters p;
        GridEvent ramp{0.01, EventKind::FrequencyRamp, c.rate};
        ramp.target = c.to;
        Plant plant(p, {ramp, c.during});
        const double length = (c.to - 60.0) / c.rate;
        const bool ends = c.during.kind == EventKind::Frequency;
        for (int k = 0; k < 40000; ++k) { // 0.2 s
            const double t = plant.time();
            const double tau = std::clamp(t - 0.01, 0.0, length);
            const bool after = t > 0.02 - 1e-9;
            ASSERT_NEAR(plant.gridFrequency(), ends && after ? 59.0 : 60.0 + c.rate * tau, 1e-9)
                << c.rate << t;
            const double cycles =
                t < 0.01 ? 60.0 * t : 0.6 + 60.0 * tau + 0.5 * c.rate * tau * tau + c.to * (t - 0.01 - tau);
            const double jump = after && c.during.kind == EventKind::PhaseJump ? 0.5 : 0.0;
            if (!(ends && after)) {
                ASSERT_NEAR(plant.gridAngle(), p.gridAngle + 2.0 * PI * cycles + jump, 1e-9)
                    << c.rate << " " << t;
            }
            const double before = plant.gridVoltages()[0];
            plant.step(ZERO_LEVELS);
            if (plant.stepCount() != 4000) { // but for the jump, e moves by less than a step's turn
                ASSERT_LT(std::abs(plant.gridVoltages()[0] - before),
                          p.gridPhasePeak * 2.0 * PI * 62.0 * BASE_STEP);
            }
        }
        EXPECT_EQ(plant.gridFrequency(), c.frequencyAtEnd) << c.rate;
    }
}

// A profile's depth follows its points and holds the last one, after which
// the source is the dip of the last depth.
TEST(GridSourceProfiles, TheDepthFollowsThePointsAndHoldsTheLast) {
    GridEvent profile{0.01, EventKind::Profile, 0.0};
    profile.dip = DipType::C;
    profile.profile = {{0.0, 0.0}, {0.005, 0.0}, {0.025, 0.8}};
    const PlantParameters p;
    Plant plant(p, {profile});
    Plant after(p, {dipEvent(0.0, DipType::C, 0.8, 0)});
    const double points[][2] = {{0.005, 1.0}, {0.01, 0.0}, {0.015, 0.0},
                                {0.02, 0.2},  {0.03, 0.6}, {0.05, 0.8}};
    for (const auto &point : points) {
        while (plant.time() < point[0] - 1e-9) {
            plant.step(ZERO_LEVELS);
            after.step(ZERO_LEVELS);
        }
        EXPECT_NEAR(plant.gridAmplitude(), point[1] * p.gridPhasePeak, 1e-9) << point[0];
    }
    for (std::size_t phase = 0; phase < 3; ++phase) {
        EXPECT_NEAR(plant.gridVoltages()[phase], after.gridVoltages()[phase], 1e-9) << phase;
    }
}

} // namespace
} // namespace kestrune::plant
