#include "model/numeric.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace kestrune {
namespace {

std::uint64_t bitsOf(double x) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

double fromBits(std::uint64_t bits) {
    double x = 0.0;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

class NumericTest : public ::testing::Test {};

TEST_F(NumericTest, NonFiniteConstantsHaveExactBitPatterns) {
    EXPECT_EQ(bitsOf(infValue), 0x7FF0000000000000U);
    EXPECT_EQ(bitsOf(minusInfValue), 0xFFF0000000000000U);
    // The quiet NaN with the sign bit set is the little-endian pattern.
    EXPECT_EQ(bitsOf(nanValue), 0xFFF8000000000000U);
    EXPECT_TRUE(std::isnan(nanValue));
}

TEST_F(NumericTest, IsNaNValueChecksExponentAndBothMantissaWords) {
    struct Case {
        std::uint64_t bits;
        bool nan;
        const char *what;
    };
    const Case cases[] = {
        {0x7FF0000000000001U, true, "payload only in the low word"},
        {0x7FF0000100000000U, true, "payload only in the high word"},
        {0xFFF8000000000000U, true, "negative quiet NaN"},
        {0x7FFFFFFFFFFFFFFFU, true, "all mantissa bits"},
        {0x7FF0000000000000U, false, "+Infinity"},
        {0xFFF0000000000000U, false, "-Infinity"},
        {0x0000000000000000U, false, "+0"},
        {0x8000000000000000U, false, "-0"},
        {0x7FEFFFFFFFFFFFFFU, false, "largest finite"},
        {0x000FFFFFFFFFFFFFU, false, "full mantissa, zero exponent"},
        {0x7FE0000000000001U, false, "exponent one short of all ones"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(isNaNValue(fromBits(c.bits)), c.nan) << c.what;
    }
}

TEST_F(NumericTest, IsInfValueMatchesOnlyTheTwoInfinities) {
    EXPECT_TRUE(isInfValue(std::numeric_limits<double>::infinity()));
    EXPECT_TRUE(isInfValue(-std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(isInfValue(nanValue));
    EXPECT_FALSE(isInfValue(std::numeric_limits<double>::max()));
    EXPECT_FALSE(isInfValue(0.0));
}

TEST_F(NumericTest, RemainderSafeFollowsDividendSignAndSnapsWholeQuotients) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double u0, u1, expected;
    };
    const Case cases[] = {
        {7.5, 2.0, 1.5},
        {-7.5, 2.0, -1.5},
        {7.5, -2.0, 1.5},
        {5.0, inf, 5.0},
        {-5.0, -inf, -5.0},
        // fmod would leave 0.09999999999999998 here; the quotient is 3 within
        // relative epsilon, so the result is a zero with the dividend's sign.
        {0.3, 0.1, 0.0},
        {-0.3, 0.1, -0.0},
        {0.3, -0.1, 0.0},
        // Fractional divisor and a clearly fractional quotient: plain fmod.
        {1.0, 0.3, 0.10000000000000003},
        // Whole divisor: fmod, including its signed zero.
        {6.0, 2.0, 0.0},
        {-6.0, 2.0, -0.0},
    };
    for (const Case &c : cases) {
        const double r = remainderSafe(c.u0, c.u1);
        EXPECT_EQ(r, c.expected) << c.u0 << " rem " << c.u1;
        EXPECT_EQ(std::signbit(r), std::signbit(c.expected)) << c.u0 << " rem " << c.u1;
    }
}

TEST_F(NumericTest, RemainderSafeGivesNaNForUndefinedInputs) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Rule-based NaNs are the model's own constant, not whatever fmod returns.
    EXPECT_EQ(bitsOf(remainderSafe(inf, 2.0)), bitsOf(nanValue));
    EXPECT_EQ(bitsOf(remainderSafe(-inf, 2.0)), bitsOf(nanValue));
    EXPECT_EQ(bitsOf(remainderSafe(nan, 2.0)), bitsOf(nanValue));
    EXPECT_EQ(bitsOf(remainderSafe(2.0, nan)), bitsOf(nanValue));
    EXPECT_TRUE(std::isnan(remainderSafe(1.0, 0.0)));
}

TEST_F(NumericTest, HypotSafeScalesByTheLargerMagnitude) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(hypotSafe(3.0, 4.0), 5.0);
    EXPECT_EQ(hypotSafe(-4.0, 3.0), 5.0);
    // The exact sqrt(26) rounds to ...845; the scaled form gives ...854, and
    // model results must match the scaled form bit for bit.
    EXPECT_EQ(hypotSafe(1.0, 5.0), 5.0990195135927854);
    EXPECT_EQ(hypotSafe(5.0, -1.0), 5.0990195135927854);
    EXPECT_EQ(hypotSafe(2.0, -2.0), 2.0 * 1.4142135623730951);
    EXPECT_EQ(hypotSafe(1e300, 1e300), 1e300 * 1.4142135623730951);
    EXPECT_TRUE(std::isfinite(hypotSafe(1e300, 1e299)));
    EXPECT_TRUE(std::isnan(hypotSafe(nan, nan)));
    EXPECT_TRUE(std::isnan(hypotSafe(nan, 1.0)));
    EXPECT_TRUE(std::isnan(hypotSafe(1.0, nan)));
}

TEST_F(NumericTest, Atan2SafeFixedAnswersForZeroAbscissaInfinitiesAndNaN) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double y, x, expected;
    };
    const Case cases[] = {
        {1.0, 0.0, 1.5707963267948966},
        {-1.0, 0.0, -1.5707963267948966},
        {1.0, -0.0, 1.5707963267948966},
        {inf, 0.0, 1.5707963267948966},
        // The library would answer pi and -0.0 for these.
        {0.0, -0.0, 0.0},
        {-0.0, 0.0, 0.0},
        {inf, -inf, std::atan2(1.0, -1.0)},
        {-inf, -inf, std::atan2(-1.0, -1.0)},
        {inf, inf, std::atan2(1.0, 1.0)},
        {-inf, inf, std::atan2(-1.0, 1.0)},
        {-1.0, -1.0, std::atan2(-1.0, -1.0)},
        {0.5, 2.0, std::atan2(0.5, 2.0)},
    };
    for (const Case &c : cases) {
        const double r = atan2Safe(c.y, c.x);
        EXPECT_EQ(r, c.expected) << "atan2(" << c.y << ", " << c.x << ")";
        EXPECT_EQ(std::signbit(r), std::signbit(c.expected)) << "atan2(" << c.y << ", " << c.x << ")";
    }
    EXPECT_NEAR(atan2Safe(inf, -inf), 3.0 * std::atan(1.0), 1e-15);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(bitsOf(atan2Safe(nan, 1.0)), bitsOf(nanValue));
    EXPECT_EQ(bitsOf(atan2Safe(0.0, nan)), bitsOf(nanValue));
}

TEST_F(NumericTest, Lookup1DInterpolatesAndExtrapolates) {
    const double bp[] = {0.0, 0.5, 1.0};
    const double table[] = {-1.0, 1.0, -1.0};
    struct Case {
        double u, expected;
        std::uint32_t index;
    };
    // An inner breakpoint starts the segment to its right; the last one stays
    // in the last segment.
    const Case cases[] = {{0.25, 0.0, 0}, {0.0, -1.0, 0},  {0.5, 1.0, 1},  {0.75, 0.0, 1},
                          {1.0, -1.0, 1}, {1.25, -2.0, 1}, {-0.5, -3.0, 0}};
    for (const Case &c : cases) {
        for (std::uint32_t start = 0; start < 2; ++start) {
            std::uint32_t cached = start;
            EXPECT_EQ(lookup1D(c.u, bp, table, &cached, 2), c.expected) << c.u << " from " << start;
            EXPECT_EQ(cached, c.index) << c.u << " from " << start;
        }
    }
}

TEST_F(NumericTest, Lookup1DFindsTheSegmentFromAnyRememberedIndex) {
    // Uneven spacing and a non-monotone table, so a wrong segment shows in
    // the value as well as in the index.
    const double bp[] = {-2.0, -1.0, 0.0, 0.25, 3.0, 4.0, 10.0};
    const double table[] = {5.0, -1.0, 2.0, 2.5, -4.0, 0.0, 8.0};
    constexpr std::uint32_t maxIndex = 6;
    const double inputs[] = {-1.5, -1.0, -0.25, 0.0, 0.1, 0.25, 1.0, 2.999, 3.0, 3.5, 4.0, 9.0, 9.999};
    for (const double u : inputs) {
        std::uint32_t want = 0;
        while (!(u < bp[want + 1U])) {
            ++want;
        }
        const double expected =
            table[want] + (u - bp[want]) * (table[want + 1U] - table[want]) / (bp[want + 1U] - bp[want]);
        for (std::uint32_t start = 0; start < maxIndex; ++start) {
            std::uint32_t cached = start;
            const double r = lookup1D(u, bp, table, &cached, maxIndex);
            EXPECT_EQ(cached, want) << "u=" << u << " from " << start;
            EXPECT_NEAR(r, expected, 1e-12) << "u=" << u << " from " << start;
        }
    }
}

TEST_F(NumericTest, RotationsAtQuarterTurn) {
    const double halfPi = 1.5707963267948966;
    const double in[2] = {1.0, 0.0};
    double out[2] = {9.0, 9.0};
    rotateToDq(true, in, halfPi, out);
    EXPECT_EQ(out[0], std::cos(halfPi));
    EXPECT_EQ(out[1], -1.0);
    rotateToDqLagging(true, in, halfPi, out);
    EXPECT_EQ(out[0], 1.0);
    EXPECT_EQ(out[1], std::cos(halfPi));
}

TEST_F(NumericTest, RotationsPlaceAVectorAtTheAngleOnTheirAxis) {
    // A vector pointing at the frame angle lies on the first axis of the
    // leading frame and on the second axis of the lagging one.
    const double angles[] = {0.0, 0.3, 2.0, -2.5, 7.0};
    for (const double a : angles) {
        const double in[2] = {2.0 * std::cos(a), 2.0 * std::sin(a)};
        double dq[2] = {0.0, 0.0};
        double lag[2] = {0.0, 0.0};
        rotateToDq(true, in, a, dq);
        rotateToDqLagging(true, in, a, lag);
        EXPECT_NEAR(dq[0], 2.0, 1e-12) << a;
        EXPECT_NEAR(dq[1], 0.0, 1e-12) << a;
        EXPECT_NEAR(lag[0], 0.0, 1e-12) << a;
        EXPECT_NEAR(lag[1], 2.0, 1e-12) << a;
    }
}

TEST_F(NumericTest, DisabledRotationsKeepTheHeldPair) {
    const double initial[2] = {0.25, -0.75};
    const double in[2] = {1.0, 1.0};
    double held[2] = {0.0, 0.0};
    copyPair(held, initial);
    rotateToDq(false, in, 0.5, held);
    EXPECT_EQ(held[0], 0.25);
    EXPECT_EQ(held[1], -0.75);
    rotateToDqLagging(false, in, 0.5, held);
    EXPECT_EQ(held[0], 0.25);
    EXPECT_EQ(held[1], -0.75);
}

TEST_F(NumericTest, WrapIndexFoldsExactlyOnce) {
    struct Case {
        std::int32_t i, expected;
    };
    // The last two are two periods out and are folded once only.
    const Case cases[] = {{0, 0}, {4, 4}, {5, 0}, {9, 4}, {-1, 4}, {-5, 0}, {10, 5}, {-6, -1}};
    for (const Case &c : cases) {
        EXPECT_EQ(wrapIndex(c.i, 5), c.expected) << c.i;
    }
}

TEST_F(NumericTest, MachineEpsilonIsTheSpacingAtOne) {
    EXPECT_EQ(bitsOf(machineEpsilon()), 0x3CB0000000000000U);
    EXPECT_EQ(1.0 + machineEpsilon(), std::nextafter(1.0, 2.0));
}

// Mode parameters: truncation toward zero compared with a whole number,
// with no undefined conversion for NaN, infinities or huge values.
TEST_F(NumericTest, ModeTestTruncatesTowardZero) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double x;
        std::int32_t n;
        bool expected;
    };
    const Case cases[] = {
        {1.0, 1, true},    {1.999, 1, true},   {2.0, 1, false},          {0.999, 1, false}, {-1.0, 1, false},
        {2.5, 2, true},    {-0.9, 0, true},    {0.9, 0, true},           {-1.0, 0, false},  {-1.5, -1, true},
        {-2.0, -1, false}, {nan, 1, false},    {nan, 0, false},          {inf, 1, false},   {-inf, -1, false},
        {1e300, 2, false}, {-1e300, 0, false}, {4294967297.0, 1, false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(truncateToInt32(c.x) == c.n, c.expected) << c.x << " vs " << c.n;
    }
}

// Values beyond the int32 range, and NaN, give INT32_MIN as the machine's
// conversion does; the ends of the range still truncate into it.
TEST_F(NumericTest, TruncationOutsideTheIntegerRangeGivesTheLowestInteger) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double x;
        std::int32_t expected;
    };
    const Case cases[] = {
        {2147483647.9, INT32_MAX},  {-2147483648.9, INT32_MIN}, {2147483648.0, INT32_MIN},
        {-2147483649.0, INT32_MIN}, {nan, INT32_MIN},           {inf, INT32_MIN},
        {-inf, INT32_MIN},          {97.6 + 0.5, 98},           {-0.5, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(truncateToInt32(c.x), c.expected) << c.x;
    }
}

} // namespace
} // namespace kestrune
