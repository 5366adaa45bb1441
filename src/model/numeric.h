// Arithmetic that stays defined at the edges: the non-finite constants, a
// remainder, hypotenuse and arc tangent with fixed answers for special inputs,
// a table lookup that remembers its segment, the two rotations into a rotating
// frame, a one-fold ring index wrap and the machine epsilon. The functions the
// base step calls on every step are defined here, so that they inline.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace kestrune {

// Quiet NaN, +Infinity and -Infinity from their bit patterns. The NaN is
// the one of the machine's word order: sign set on a little-endian machine,
// all mantissa bits set on a big-endian one.
inline constexpr double nanValue = std::endian::native == std::endian::little
                                       ? std::bit_cast<double>(0xFFF8000000000000ULL)
                                       : std::bit_cast<double>(0x7FFFFFFFFFFFFFFFULL);
inline constexpr double infValue = std::bit_cast<double>(0x7FF0000000000000ULL);
inline constexpr double minusInfValue = std::bit_cast<double>(0xFFF0000000000000ULL);

// 2^-52, the spacing of doubles at 1.0.
inline constexpr double MACHINE_EPSILON = 2.220446049250313e-16;

inline bool isNaNValue(double x) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    const auto high = static_cast<std::uint32_t>(bits >> 32);
    const auto low = static_cast<std::uint32_t>(bits & 0xFFFFFFFFU);
    return (high & 0x7FF00000U) == 0x7FF00000U && ((high & 0x000FFFFFU) != 0U || low != 0U);
}

inline bool isInfValue(double x) {
    return x == infValue || x == minusInfValue;
}

// Remainder with the sign of the dividend; a quotient that is whole within
// relative epsilon gives a signed zero.
inline double remainderSafe(double u0, double u1) {
    if (isNaNValue(u0) || isNaNValue(u1) || isInfValue(u0)) {
        return nanValue;
    }
    if (isInfValue(u1)) {
        return u0;
    }
    const double truncated = u1 < 0.0 ? std::ceil(u1) : std::floor(u1);
    if (u1 != 0.0 && u1 != truncated) {
        // A fractional divisor is rarely exact in binary, so fmod of a whole
        // multiple can leave a residue near zero or near the divisor; a
        // quotient that is whole within relative epsilon counts as exact.
        const double q = std::fabs(u0 / u1);
        if (std::fabs(q - std::floor(q + 0.5)) > MACHINE_EPSILON * q) {
            return std::fmod(u0, u1);
        }
        return 0.0 * u0;
    }
    return std::fmod(u0, u1);
}

double hypotSafe(double u0, double u1);
double atan2Safe(double u0, double u1);

// Piecewise-linear interpolation over maxIndex segments with linear
// extrapolation at both ends; *cachedIndex remembers the last segment.
inline double lookup1D(double u, const double breakpoints[], const double table[], std::uint32_t *cachedIndex,
                       std::uint32_t maxIndex) {
    std::uint32_t i = 0;
    double f = 0.0;
    if (u <= breakpoints[0]) {
        i = 0;
        f = (u - breakpoints[0]) / (breakpoints[1] - breakpoints[0]);
    } else if (u < breakpoints[maxIndex]) {
        // Start from the remembered segment: a slowly moving input usually
        // stays in it and the search ends at the first test.
        std::uint32_t idx = *cachedIndex;
        std::uint32_t lo = 0;
        std::uint32_t hi = maxIndex;
        for (;;) {
            if (u < breakpoints[idx]) {
                hi = idx - 1U;
                idx = (hi + lo) >> 1U;
            } else if (u < breakpoints[idx + 1U]) {
                break;
            } else {
                lo = idx + 1U;
                idx = (lo + hi) >> 1U;
            }
        }
        i = idx;
        f = (u - breakpoints[i]) / (breakpoints[i + 1U] - breakpoints[i]);
    } else {
        i = maxIndex - 1U;
        f = (u - breakpoints[i]) / (breakpoints[maxIndex] - breakpoints[i]);
    }
    *cachedIndex = i;
    return (table[i + 1U] - table[i]) * f + table[i];
}

// Stationary two-axis vector into a frame whose first axis lies at angle
// (rotateToDq) or a quarter turn behind it (rotateToDqLagging). Nothing is
// written when enable is false.
void rotateToDq(bool enable, const double in[2], double angle, double out[2]);
void rotateToDqLagging(bool enable, const double in[2], double angle, double out[2]);
void copyPair(double dst[2], const double src[2]);

// Folds an index at most one period out of range into 0 .. n-1.
std::int32_t wrapIndex(std::int32_t i, std::int32_t n);
double machineEpsilon();

// Truncation toward zero to int32 as the machine's conversion does it: a
// value outside the int32 range, or NaN, gives INT32_MIN. A mode parameter
// is tested by comparing its truncation with the mode's number.
inline std::int32_t truncateToInt32(double x) {
    // -2^31 - 1 < x < 2^31 truncates into range; anything else, NaN included,
    // is out of range.
    if (x > -2147483649.0 && x < 2147483648.0) {
        return static_cast<std::int32_t>(x);
    }
    return INT32_MIN;
}

} // namespace kestrune
