// The figures of a run, on synthetic samples with known answers.
#include "figures.h"
#include "plant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <string>

namespace kestrune::plant {
namespace {

constexpr double PI = std::numbers::pi;

struct Signals {
    std::function<std::array<double, 3>(double)> e;
    std::function<std::array<double, 3>(double)> i;
    std::function<double(double)> vdc = [](double) { return 500.0; };
    std::function<double(double)> frequency = [](double) { return 60.0; };
    std::function<std::int64_t(std::int64_t)> illegal = [](std::int64_t) { return 0; };
    std::function<std::int64_t(std::int64_t)> direct = [](std::int64_t) { return 0; };
};

std::array<double, 3> balanced(double peak, double angle) {
    return {peak * std::sin(angle), peak * std::sin(angle - 2.0 * PI / 3.0),
            peak * std::sin(angle + 2.0 * PI / 3.0)};
}

const auto GRID = [](double t) { return balanced(PHASE_PEAK, 2.0 * PI * 60.0 * t + 0.3); };
const auto NO_CURRENT = [](double) { return std::array<double, 3>{}; };

// Feeds one sample per base step from t = 0 up to and including the end.
std::vector<SegmentFigures> record(const Signals &s, std::vector<double> events, double duration,
                                   std::int64_t stopAtStep = -1) {
    FiguresRecorder recorder(events, duration);
    const std::int64_t last = std::llround(duration / BASE_STEP);
    for (std::int64_t k = 0; k <= last && k != stopAtStep; ++k) {
        const double t = static_cast<double>(k) * BASE_STEP;
        recorder.add({t, s.e(t), s.i(t), s.vdc(t), s.frequency(t), s.illegal(k), s.direct(k)});
    }
    return recorder.figures();
}

// Current of phase a at the grid's angle shifted by `shift` with one
// harmonic; the other phases shifted by -+120 degrees of the fundamental.
struct CurrentCase {
    const char *what;
    double frequency;
    double shiftDegrees;
    int harmonic;
    double harmonicShare; // of the fundamental's amplitude
    double tolerance;
};

TEST(RunFigures, PowerFactorPhaseAndDistortionOfKnownCurrents) {
    const CurrentCase cases[] = {
        {"pure sine in phase", 60.0, 0.0, 0, 0.0, 1e-9},
        {"pure sine lagging 30 degrees", 60.0, -30.0, 0, 0.0, 1e-9},
        {"pure sine leading 10 degrees", 60.0, 10.0, 0, 0.0, 1e-9},
        {"fifth harmonic at 20 %", 60.0, 0.0, 5, 0.2, 1e-9},
        {"carrier sideband at 1380 Hz, 15 %", 60.0, 0.0, 23, 0.15, 1e-9},
        {"59.5 Hz, not a whole number of steps", 59.5, -5.0, 7, 0.1, 2e-5},
    };
    const double peak = 0.8 * CURRENT_BASE;
    for (const CurrentCase &c : cases) {
        Signals s;
        const double w = 2.0 * PI * c.frequency;
        s.frequency = [&](double) { return c.frequency; };
        s.e = [&](double t) { return balanced(PHASE_PEAK, w * t + 0.3); };
        s.i = [&](double t) {
            const double angle = w * t + 0.3 + c.shiftDegrees * PI / 180.0;
            std::array<double, 3> i = balanced(peak, angle);
            if (c.harmonic > 0) {
                for (std::size_t k = 0; k < 3; ++k) {
                    const double phase = angle - 2.0 * PI / 3.0 * static_cast<double>(k);
                    i[k] += c.harmonicShare * peak * std::sin(c.harmonic * phase);
                }
            }
            return i;
        };
        const std::vector<SegmentFigures> f = record(s, {}, 0.2);
        ASSERT_EQ(f.size(), 1u) << c.what;
        EXPECT_NEAR(f[0].gridFrequency, c.frequency, 0.0) << c.what;
        EXPECT_NEAR(f[0].phaseDegrees, c.shiftDegrees, 1e3 * c.tolerance) << c.what;
        EXPECT_NEAR(f[0].powerFactor, std::cos(c.shiftDegrees * PI / 180.0), c.tolerance) << c.what;
        EXPECT_NEAR(f[0].fundamentalPu, 0.8, 10.0 * c.tolerance) << c.what;
        EXPECT_NEAR(f[0].thd, c.harmonicShare, 1e2 * c.tolerance + 1e-6) << c.what;
        const double rms = 0.8 * std::sqrt(1.0 + c.harmonicShare * c.harmonicShare);
        EXPECT_NEAR(f[0].steadyRmsPu, rms, 10.0 * c.tolerance) << c.what;
        EXPECT_GE(f[0].peakCurrentPu, 0.8 - 1e-6) << c.what;
        EXPECT_LE(f[0].peakCurrentPu, 0.8 * (1.0 + c.harmonicShare) + 1e-9) << c.what;
    }
}

// A frequency ramp within a segment: its last cycles are counted at the
// frequency the ramp ended on, so a clean sine shows no distortion.
TEST(RunFigures, TheWindowFollowsAFrequencyRampWithinTheSegment) {
    // 60 Hz to 57.5 Hz at -25 Hz/s over the first 0.1 s, then steady.
    const auto angle = [](double t) {
        return t < 0.1 ? 2.0 * PI * (60.0 * t - 12.5 * t * t)
                       : 2.0 * PI * (60.0 * 0.1 - 12.5 * 0.01 + 57.5 * (t - 0.1));
    };
    Signals s;
    s.frequency = [](double t) { return t < 0.1 ? 60.0 - 25.0 * t : 57.5; };
    s.e = [&](double t) { return balanced(PHASE_PEAK, angle(t)); };
    s.i = [&](double t) { return balanced(0.8 * CURRENT_BASE, angle(t)); };
    const std::vector<SegmentFigures> f = record(s, {}, 0.4);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].gridFrequency, 57.5);
    EXPECT_NEAR(f[0].fundamentalPu, 0.8, 1e-3);
    EXPECT_LT(f[0].thd, 0.01);
}

// Vdc leaves the band at chosen times; the settling time is the last time
// outside, from the segment's start.
// Three phases made of a positive- and a negative-sequence set with known
// peaks and angles, and a zero sequence that the sequences must not see.
struct SequenceCase {
    const char *what;
    double positive; // [pu] peak
    double negative; // [pu] peak
    double negativeAngle;
    double zero; // [pu] peak
    double frequency;
    double tolerance;
};

std::array<double, 3> sequenceSet(double positive, double negative, double zero, double angle,
                                  double negativeAngle) {
    std::array<double, 3> x{};
    for (std::size_t k = 0; k < 3; ++k) {
        const double shift = 2.0 * PI / 3.0 * static_cast<double>(k);
        x[k] = positive * std::sin(angle - shift) + negative * std::sin(angle + negativeAngle + shift) +
               zero * std::sin(angle);
    }
    return x;
}

TEST(RunFigures, SequenceComponentsAndUnbalanceOfKnownSets) {
    const SequenceCase cases[] = {
        {"balanced", 0.8, 0.0, 0.0, 0.0, 60.0, 1e-9},
        {"20 % negative sequence", 0.5, 0.1, 0.7, 0.0, 60.0, 1e-9},
        {"mostly negative", 0.05, 0.3, -1.0, 0.0, 60.0, 1e-9},
        {"with a zero sequence", 0.6, 0.15, 2.0, 0.2, 60.0, 1e-9},
        {"59.5 Hz", 0.6, 0.06, 0.0, 0.0, 59.5, 2e-4},
    };
    for (const SequenceCase &c : cases) {
        Signals s;
        const double w = 2.0 * PI * c.frequency;
        s.frequency = [&](double) { return c.frequency; };
        // The PCC voltage carries the same shares, on its own base.
        s.e = [&](double t) {
            return sequenceSet(PHASE_PEAK, PHASE_PEAK * c.negative / std::max(c.positive, 1e-3), 0.0, w * t,
                               c.negativeAngle);
        };
        s.i = [&](double t) {
            return sequenceSet(c.positive * CURRENT_BASE, c.negative * CURRENT_BASE, c.zero * CURRENT_BASE,
                               w * t + 0.4, c.negativeAngle);
        };
        const SegmentFigures f = record(s, {}, 0.2).at(0);
        SCOPED_TRACE(c.what);
        EXPECT_NEAR(f.positiveSequencePu, c.positive, c.tolerance);
        EXPECT_NEAR(f.negativeSequencePu, c.negative, c.tolerance);
        const double unbalance = c.positive > 0.0 ? 100.0 * c.negative / c.positive : 0.0;
        EXPECT_NEAR(f.currentUnbalance, unbalance, 100.0 * c.tolerance);
        EXPECT_NEAR(f.pccNegativeSequence, 100.0 * c.negative / std::max(c.positive, 1e-3),
                    100.0 * c.tolerance);
    }
}

TEST(RunFigures, TheLinkRippleAtTwiceTheGridFrequencyIsItsPeakToPeak) {
    const struct {
        const char *what;
        double at120; // [V] amplitude at twice the grid frequency
        double at360; // [V] at six times: not counted
        double expected;
        double tolerance; // two cycles are no whole number of steps: 360 Hz leaks a little
    } cases[] = {
        {"pure 120 Hz", 3.0, 0.0, 6.0, 1e-9},
        {"with 360 Hz beside it", 2.0, 4.0, 4.0, 1e-3},
        {"no 120 Hz", 0.0, 5.0, 0.0, 1e-3},
    };
    for (const auto &c : cases) {
        Signals s;
        s.e = GRID;
        s.i = NO_CURRENT;
        // A different 120 Hz amplitude before the last two cycles, which
        // the figure must not see.
        s.vdc = [&](double t) {
            const double early = t < 0.2 - 2.0 / 60.0 ? 5.0 : 0.0;
            return 500.0 + (c.at120 + early) * std::sin(2.0 * PI * 120.0 * t + 0.2) +
                   c.at360 * std::sin(2.0 * PI * 360.0 * t);
        };
        const SegmentFigures f = record(s, {}, 0.2).at(0);
        SCOPED_TRACE(c.what);
        EXPECT_NEAR(f.vdcRipple120, c.expected, c.tolerance);
    }
}

TEST(RunFigures, SettlingTimeIsTheLastTimeOutsideTheBandFromTheSegmentStart) {
    struct Case {
        const char *what;
        std::function<double(double)> vdc;
        std::vector<double> events;
        std::size_t segment;
        double settlingTime;
        bool settled;
        double vdcMin;
        double vdcMax;
    };
    const Case cases[] = {
        {"never outside",
         [](double t) { return 500.0 + 4.0 * std::sin(2000.0 * t); },
         {},
         0,
         0.0,
         true,
         496.0,
         504.0},
        {"dip then back",
         [](double t) { return t < 0.012302 ? 480.0 : 500.0; },
         {},
         0,
         0.0123,
         true,
         480.0,
         500.0},
        {"band edges are inside",
         [](double t) { return t < 0.05 ? 495.0 : 505.0; },
         {},
         0,
         0.0,
         true,
         495.0,
         505.0},
        {"from a load step",
         [](double t) { return t >= 0.0499975 && t < 0.0700025 ? 520.0 : 500.0; },
         {0.05},
         1,
         0.02,
         true,
         500.0,
         520.0},
        {"ends outside", [](double t) { return t > 0.09 ? 494.0 : 500.0; }, {}, 0, 0.1, false, 494.0, 500.0},
    };
    for (const Case &c : cases) {
        Signals s{GRID, NO_CURRENT};
        s.vdc = c.vdc;
        const std::vector<SegmentFigures> f = record(s, c.events, 0.1);
        ASSERT_GT(f.size(), c.segment) << c.what;
        const SegmentFigures &g = f[c.segment];
        EXPECT_NEAR(g.settlingTime, c.settlingTime, 1e-9) << c.what;
        EXPECT_EQ(g.settled, c.settled) << c.what;
        EXPECT_NEAR(g.vdcMin, c.vdcMin, 1e-3) << c.what;
        EXPECT_NEAR(g.vdcMax, c.vdcMax, 1e-3) << c.what;
    }
}

// Two cycles at 60 Hz are 6666 steps and two thirds: the window is the last
// 6666 samples.
TEST(RunFigures, RippleCoversOnlyTheLastTwoCyclesOfTheSegment) {
    Signals s{GRID, NO_CURRENT};
    const std::int64_t end = 20000;
    s.vdc = [&](double t) {
        const std::int64_t k = std::llround(t / BASE_STEP);
        if (k == end - 6665) {
            return 507.0; // first sample in the window
        }
        if (k == end - 6666) {
            return 530.0; // last before it
        }
        return k == end ? 497.0 : 500.0;
    };
    const std::vector<SegmentFigures> f = record(s, {}, 0.1);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].vdcRipple, 10.0);
    EXPECT_EQ(f[0].vdcMax, 530.0);
    EXPECT_EQ(f[0].vdcMin, 497.0);
}

// Events split the run; the sample at an event's step opens the new segment,
// and each counter counts the steps of its segment, the one ending it
// included.
TEST(RunFigures, SegmentsSplitAtEventStepsWithTheirOwnCounters) {
    Signals s{GRID, NO_CURRENT};
    // Steps 10000 and 16001 open segments (the second event falls between
    // steps). The sample at step 10000 carries a spike the first segment
    // must not see.
    s.vdc = [](double t) { return std::llround(t / BASE_STEP) == 10000 ? 530.0 : 500.0; };
    s.frequency = [](double t) { return t >= 0.08 + 2e-6 ? 59.5 : (t >= 0.0499975 ? 61.0 : 60.0); };
    // One illegal pattern in the step ending each of the first two segments
    // (counted at the next segment's first sample), two more in the last.
    s.illegal = [](std::int64_t k) -> std::int64_t { return (k >= 10000) + (k >= 16001) + 2 * (k >= 19000); };
    s.direct = [](std::int64_t k) -> std::int64_t { return k >= 5 ? 3 : 0; };
    const std::vector<SegmentFigures> f = record(s, {0.08 + 2e-6, 0.05, 0.0, 0.05, 0.2}, 0.1);
    ASSERT_EQ(f.size(), 3u);
    const double starts[] = {0.0, 0.05, 16001 * BASE_STEP};
    const double ends[] = {0.05, 16001 * BASE_STEP, 0.1};
    const double frequencies[] = {60.0, 61.0, 59.5};
    const double maxima[] = {500.0, 530.0, 500.0};
    const std::int64_t illegal[] = {1, 1, 2};
    const std::int64_t direct[] = {3, 0, 0};
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_DOUBLE_EQ(f[k].start, starts[k]) << k;
        EXPECT_DOUBLE_EQ(f[k].end, ends[k]) << k;
        EXPECT_EQ(f[k].gridFrequency, frequencies[k]) << k;
        EXPECT_EQ(f[k].vdcMax, maxima[k]) << k;
        EXPECT_EQ(f[k].illegalPatterns, illegal[k]) << k;
        EXPECT_EQ(f[k].directChanges, direct[k]) << k;
    }
}

TEST(RunFigures, ASegmentShorterThanItsWindowUsesAllItsSamples) {
    Signals s{GRID, NO_CURRENT};
    // A constant 0.5 pu in phase a for the first 0.01 s, none after: the
    // first segment's rms counts every one of its samples and nothing of the
    // next segment.
    s.i = [](double t) {
        return t < 0.0099975 ? std::array<double, 3>{0.5 * CURRENT_BASE, -0.5 * CURRENT_BASE, 0.0}
                             : std::array<double, 3>{};
    };
    s.vdc = [](double t) { return t < 0.0049975 ? 510.0 : 500.0 + 1000.0 * (t - 0.005); };
    const std::vector<SegmentFigures> f = record(s, {0.01}, 0.2);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_NEAR(f[0].steadyRmsPu, 0.5 * std::sqrt(2.0) * std::sqrt(2.0 / 3.0), 1e-12);
    EXPECT_NEAR(f[0].peakCurrentPu, 0.5, 1e-12);
    EXPECT_NEAR(f[0].vdcRipple, 10.0, 1e-9);
    EXPECT_EQ(f[1].steadyRmsPu, 0.0);
    EXPECT_EQ(f[1].peakCurrentPu, 0.0);
}

TEST(RunFigures, ARunStoppedEarlyReportsOnlyTheSegmentsItReached) {
    Signals s{GRID, NO_CURRENT};
    s.illegal = [](std::int64_t k) -> std::int64_t { return k; };
    const std::vector<SegmentFigures> f = record(s, {0.05, 0.08}, 0.1, 12000);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[1].illegalPatterns, 11999 - 10000);
    EXPECT_EQ(f[0].illegalPatterns, 10000);
}

} // namespace
} // namespace kestrune::plant
