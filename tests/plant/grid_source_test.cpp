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
const std::array<double, 12> ZERO_LEVELS = {0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0};

// The sequence components of each type, as the power-quality literature
// derives them: dips through transformers lose their zero sequence, and the
// types differ in how positive and negative sequence share the drop.
TEST(GridSourceDips, EachTypeHasTheSequenceComponentsOfItsClass) {
    struct Case {
        DipType type;
        double positive, negative, zero; // as functions of h below, all real
    };
    for (const double h : {0.0, 0.2, 0.5, 0.8, 1.0, 1.2, 2.0}) {
        const Case cases[] = {
            {DipType::A, h, 0.0, 0.0},
            {DipType::B, (2.0 + h) / 3.0, -(1.0 - h) / 3.0, -(1.0 - h) / 3.0},
            {DipType::C, (1.0 + h) / 2.0, (1.0 - h) / 2.0, 0.0},
            {DipType::D, (1.0 + h) / 2.0, -(1.0 - h) / 2.0, 0.0},
            {DipType::E, (1.0 + 2.0 * h) / 3.0, (1.0 - h) / 3.0, (1.0 - h) / 3.0},
            {DipType::F, (1.0 + 2.0 * h) / 3.0, -(1.0 - h) / 3.0, 0.0},
            {DipType::G, (1.0 + 2.0 * h) / 3.0, (1.0 - h) / 3.0, 0.0},
        };
        for (const Case &c : cases) {
            for (int special = 0; special < 3; ++special) {
                const std::string what = std::string(1, static_cast<char>('A' + static_cast<int>(c.type))) +
                                         " h=" + std::to_string(h) + " special " + std::to_string(special);
                const SequenceComponents s = sequenceComponents(dipPhasors(c.type, h, special));
                // Another special phase turns the negative and zero sequences
                // against the positive one, by -120 and +120 degrees per phase.
                const Phasor turn = std::polar(1.0, 2.0 * PI / 3.0 * special);
                EXPECT_NEAR(std::abs(s.positive - c.positive), 0.0, 1e-15) << what;
                EXPECT_NEAR(std::abs(s.negative - c.negative * turn), 0.0, 1e-15) << what;
                EXPECT_NEAR(std::abs(s.zero - c.zero / turn), 0.0, 1e-15) << what;
            }
        }
    }
}

// The voltages the plant's source makes: peak * Im(V_k exp(j theta)) of
// the type's phasors, on the stiff and on a weak grid (where the PCC keeps
// the zero sequence and the currents carry none).
TEST(GridSourceDips, TheSourceMakesThePhasorsVoltagesAndTheWiresCarryNoZeroSequence) {
    struct Case {
        DipType type;
        double depth;
        int special;
        double scr; // 0: stiff
    };
    const Case cases[] = {{DipType::B, 0.3, 0, 0.0}, {DipType::C, 0.5, 1, 0.0}, {DipType::E, 0.0, 2, 0.0},
                          {DipType::G, 1.4, 0, 0.0}, {DipType::B, 0.3, 2, 3.0}, {DipType::F, 0.6, 1, 5.0}};
    for (const Case &c : cases) {
        const std::string what = std::string(1, static_cast<char>('A' + static_cast<int>(c.type))) + " " +
                                 std::to_string(c.depth) + " scr " + std::to_string(c.scr);
        GridEvent dip{0.001, EventKind::Dip, c.depth};
        dip.dip = c.type;
        dip.special = c.special;
        const PlantParameters p;
        Plant plant(p, gridImpedance(c.scr, 10.0, 1), {p}, {dip});
        const std::array<Phasor, 3> phasors = dipPhasors(c.type, c.depth, c.special);
        double worst = 0.0;
        double worstSum = 0.0;
        for (int k = 0; k < 1200; ++k) {
            const double theta = plant.gridAngle();
            const Phasor turning = std::polar(1.0, theta);
            for (std::size_t phase = 0; phase < 3; ++phase) {
                const double expected =
                    k < 200 ? p.gridPhasePeak * std::sin(theta - 2.0 * PI / 3.0 * static_cast<double>(phase))
                            : p.gridPhasePeak * (phasors[phase] * turning).imag();
                worst = std::max(worst, std::abs(plant.gridVoltages()[phase] - expected));
            }
            const std::array<double, 3> &i = plant.state().current;
            worstSum = std::max(worstSum, std::abs(i[0] + i[1] + i[2]));
            plant.step(ZERO_LEVELS);
        }
        EXPECT_LT(worst, 1e-9) << what;
        EXPECT_LT(worstSum, 1e-6) << what;
        EXPECT_GT(std::abs(plant.state().current[0]), 1.0) << what; // the dip drives current
        // The PCC keeps the source's zero sequence: no zero-sequence current
        // flows through the grid impedance.
        const std::array<double, 3> v = plant.pccVoltages();
        const std::array<double, 3> e = plant.gridVoltages();
        EXPECT_NEAR(v[0] + v[1] + v[2], e[0] + e[1] + e[2], 1e-9) << what;
    }
}

std::array<double, 12> gatesFor(int a, int b, int c) {
    std::array<double, 12> gates{};
    const int levels[] = {a, b, c};
    for (std::size_t leg = 0; leg < 3; ++leg) {
        gates[4 * leg] = levels[leg] > 0 ? 1.0 : 0.0;
        gates[4 * leg + 1] = levels[leg] >= 0 ? 1.0 : 0.0;
        gates[4 * leg + 2] = levels[leg] <= 0 ? 1.0 : 0.0;
        gates[4 * leg + 3] = levels[leg] < 0 ? 1.0 : 0.0;
    }
    return gates;
}

// Every type at h = 1 (and a harmonic background emptied again) is today's
// balanced grid to the last bit, stiff (step maps) or weak (stages), one or
// two converters.
TEST(GridSourceDips, EveryTypeAtFullDepthIsTheBalancedGridBitForBit) {
    for (const double scr : {0.0, 4.0}) {
        for (int type = 0; type < 7; ++type) {
            GridEvent dip{0.001, EventKind::Dip, 1.0};
            dip.dip = static_cast<DipType>(type);
            dip.special = type % 3;
            GridEvent none{0.002, EventKind::Harmonics, 0.0};
            const PlantParameters p;
            Plant plant(p, gridImpedance(scr, 10.0, 2), {p, p}, {dip, none});
            // Today's events that leave the grid nominal: each re-anchors
            // the rotating phasor, as these do.
            Plant reference(p, gridImpedance(scr, 10.0, 2), {p, p},
                            {{0.001, EventKind::Sag, 1.0}, {0.002, EventKind::Sag, 1.0}});
            for (int k = 0; k < 800; ++k) {
                const std::array<double, 12> gates = gatesFor(k % 3 - 1, (k / 3) % 3 - 1, 1 - k % 3);
                for (Plant *q : {&plant, &reference}) {
                    q->hold(0, gates);
                    q->hold(1, gatesFor(0, 1, -1));
                    q->step();
                }
                ASSERT_EQ(plant.measurements(0), reference.measurements(0))
                    << type << " scr " << scr << " " << k;
                ASSERT_EQ(plant.measurements(1), reference.measurements(1))
                    << type << " scr " << scr << " " << k;
            }
        }
    }
}

// The background's spectrum over whole cycles: each order at its magnitude
// and phase, in the sequence its order implies (5: negative, 7: positive,
// 3: zero, which the three-wire currents do not carry).
TEST(GridSourceHarmonics, EachOrderAppearsAtItsMagnitudePhaseAndSequence) {
    PlantParameters p;
    p.gridFrequency = 50.0; // 4000 base steps per cycle
    p.gridAngle = 0.0;
    GridEvent background{0.0, EventKind::Harmonics, 0.0};
    background.harmonics = {{5, 0.06, 30.0 * PI / 180.0}, {7, 0.05, 0.0}, {3, 0.04, -90.0 * PI / 180.0}};
    Plant plant(p, {background});
    const int n = 4000;
    std::array<std::array<Phasor, 3>, 9> spectrum{}; // orders 0 to 8, phases a to c
    double worstSum = 0.0;
    for (int k = 0; k < 2 * n; ++k) {
        if (k >= n) {
            for (std::size_t order = 1; order < 9; ++order) {
                const Phasor w = std::polar(2.0 / n, -2.0 * PI * static_cast<double>(order * (k - n)) / n);
                for (std::size_t phase = 0; phase < 3; ++phase) {
                    spectrum[order][phase] += plant.gridVoltages()[phase] * w;
                }
            }
        }
        const std::array<double, 3> &i = plant.state().current;
        worstSum = std::max(worstSum, std::abs(i[0] + i[1] + i[2]));
        plant.step(ZERO_LEVELS);
    }
    // A sin(x) has the coefficient A exp(j (x0 - 90 deg)) at its order.
    struct Expected {
        std::size_t order;
        double magnitude;
        double phaseDegrees; // phase a
        double stepDegrees;  // from phase to phase: -120 (positive), +120 (negative), 0 (zero)
    };
    const Expected expected[] = {{1, 1.0, 0.0, -120.0},
                                 {5, 0.06, 30.0, 120.0},
                                 {7, 0.05, 0.0, -120.0},
                                 {3, 0.04, -90.0, 0.0},
                                 {2, 0.0, 0.0, 0.0}};
    for (const Expected &e : expected) {
        for (std::size_t phase = 0; phase < 3; ++phase) {
            const double angle =
                (e.phaseDegrees - 90.0 + e.stepDegrees * static_cast<double>(phase)) * PI / 180.0;
            const Phasor want = std::polar(e.magnitude * p.gridPhasePeak, angle);
            EXPECT_NEAR(std::abs(spectrum[e.order][phase] - want), 0.0, 1e-6 * p.gridPhasePeak)
                << "order " << e.order << " phase " << phase;
        }
    }
    EXPECT_LT(worstSum, 1e-6);
}

// A ramp moves the frequency at its rate until its target and holds it
// there, the angle the integral of the frequency; a frequency event ends a
// ramp, a phase jump during one leaves it running.
TEST(GridSourceRamps, TheFrequencyFollowsTheRateUntilTheTargetWithTheAngleContinuous) {
    struct Case {
        const char *what;
        double rate, to;
        GridEvent during; // at 0.02 s
        double frequencyAtEnd;
        double angleAdded; // by the event during the ramp [rad]
    };
    const Case cases[] = {
        {"up", 20.0, 61.5, {0.02, EventKind::Load, 2e5}, 61.5, 0.0},
        {"down", -20.0, 57.5, {0.02, EventKind::Load, 2e5}, 57.5, 0.0},
        {"jump during", 20.0, 61.5, {0.02, EventKind::PhaseJump, 0.5}, 61.5, 0.5},
        {"ended by a step", 20.0, 61.5, {0.02, EventKind::Frequency, 59.0}, 59.0, 0.0},
    };
    for (const Case &c : cases) {
        const PlantParameters p;
        GridEvent ramp{0.01, EventKind::FrequencyRamp, c.rate};
        ramp.target = c.to;
        Plant plant(p, {ramp, c.during});
        const double start = 0.01;
        const double length = (c.to - 60.0) / c.rate;
        double previous = plant.gridVoltages()[0];
        double worstJump = 0.0;
        for (int k = 0; k < 40000; ++k) { // 0.2 s
            const double t = plant.time();
            const double tau = std::clamp(t - start, 0.0, length);
            const bool stepped = c.during.kind == EventKind::Frequency && t >= 0.02;
            const double expected = stepped ? 59.0 : 60.0 + c.rate * tau;
            ASSERT_NEAR(plant.gridFrequency(), expected, 1e-9) << c.what << " at " << t;
            if (!stepped) {
                // The integral of the frequency: 60 Hz, the ramp, its target.
                const double cycles = t < start ? 60.0 * t
                                                : 60.0 * start + 60.0 * tau + 0.5 * c.rate * tau * tau +
                                                      c.to * (t - start - tau);
                const double added = t >= 0.02 ? c.angleAdded : 0.0;
                ASSERT_NEAR(plant.gridAngle(), p.gridAngle + 2.0 * PI * cycles + added, 1e-9)
                    << c.what << " " << t;
            }
            plant.step(ZERO_LEVELS);
            const double now = plant.gridVoltages()[0];
            if (std::abs(plant.time() - 0.02) > 1e-9) {
                worstJump = std::max(worstJump, std::abs(now - previous));
            }
            previous = now;
        }
        EXPECT_EQ(plant.gridFrequency(), c.frequencyAtEnd) << c.what;
        // Continuous: no step of e_a beyond a base step's turn of the sine.
        EXPECT_LT(worstJump, p.gridPhasePeak * 2.0 * PI * 62.0 * BASE_STEP) << c.what;
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
    GridEvent dip{0.0, EventKind::Dip, 0.8};
    dip.dip = DipType::C;
    Plant after(p, {dip});
    struct Point {
        double time, depth;
    };
    const Point points[] = {{0.005, 1.0}, {0.01, 0.0}, {0.015, 0.0}, {0.02, 0.2}, {0.03, 0.6}, {0.05, 0.8}};
    for (const Point &point : points) {
        while (plant.time() < point.time - 1e-9) {
            plant.step(ZERO_LEVELS);
            after.step(ZERO_LEVELS);
        }
        EXPECT_NEAR(plant.gridAmplitude(), point.depth * p.gridPhasePeak, 1e-9) << point.time;
    }
    for (std::size_t phase = 0; phase < 3; ++phase) {
        EXPECT_NEAR(plant.gridVoltages()[phase], after.gridVoltages()[phase], 1e-9) << phase;
    }
    // Type C keeps phase a whole at any depth.
    EXPECT_NEAR(plant.gridVoltages()[0], p.gridPhasePeak * std::sin(plant.gridAngle()), 1e-9);
}

} // namespace
} // namespace kestrune::plant
