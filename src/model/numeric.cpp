#include "model/numeric.h"

#include <cmath>
#include <cstring>

namespace kestrune {

double nanValue = 0.0;
double infValue = 0.0;
double minusInfValue = 0.0;

namespace {

// 2^-52, the spacing of doubles at 1.0.
constexpr double kEpsilon = 2.220446049250313e-16;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kSqrt2 = 1.4142135623730951;

bool isLittleEndian() {
    const std::uint16_t probe = 1;
    unsigned char first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

// Words are given in numeric order (high, low) and laid out in memory in the
// machine's word order before the bytes are reinterpreted as a double.
double fromWords(bool littleEndian, std::uint32_t high, std::uint32_t low) {
    std::uint32_t words[2];
    if (littleEndian) {
        words[0] = low;
        words[1] = high;
    } else {
        words[0] = high;
        words[1] = low;
    }
    double value = 0.0;
    std::memcpy(&value, words, sizeof value);
    return value;
}

} // namespace

void initNonFinite() {
    const bool littleEndian = isLittleEndian();
    if (littleEndian) {
        nanValue = fromWords(littleEndian, 0xFFF80000U, 0x00000000U);
    } else {
        nanValue = fromWords(littleEndian, 0x7FFFFFFFU, 0xFFFFFFFFU);
    }
    infValue = fromWords(littleEndian, 0x7FF00000U, 0x00000000U);
    minusInfValue = fromWords(littleEndian, 0xFFF00000U, 0x00000000U);
}

bool isNaNValue(double x) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    const auto high = static_cast<std::uint32_t>(bits >> 32);
    const auto low = static_cast<std::uint32_t>(bits & 0xFFFFFFFFU);
    return (high & 0x7FF00000U) == 0x7FF00000U && ((high & 0x000FFFFFU) != 0U || low != 0U);
}

bool isInfValue(double x) {
    return x == infValue || x == minusInfValue;
}

double remainderSafe(double u0, double u1) {
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
        if (std::fabs(q - std::floor(q + 0.5)) > kEpsilon * q) {
            return std::fmod(u0, u1);
        }
        return 0.0 * u0;
    }
    return std::fmod(u0, u1);
}

double hypotSafe(double u0, double u1) {
    const double a = std::fabs(u0);
    const double b = std::fabs(u1);
    if (b > a) {
        const double r = a / b;
        return b * std::sqrt(r * r + 1.0);
    }
    if (a > b) {
        const double r = b / a;
        return std::sqrt(r * r + 1.0) * a;
    }
    if (isNaNValue(b)) {
        return b;
    }
    return a * kSqrt2;
}

double atan2Safe(double u0, double u1) {
    if (isNaNValue(u0) || isNaNValue(u1)) {
        return nanValue;
    }
    if (isInfValue(u0) && isInfValue(u1)) {
        const double s0 = u0 > 0.0 ? 1.0 : -1.0;
        const double s1 = u1 > 0.0 ? 1.0 : -1.0;
        return std::atan2(s0, s1);
    }
    if (u1 == 0.0) {
        if (u0 > 0.0) {
            return kHalfPi;
        }
        if (u0 < 0.0) {
            return -kHalfPi;
        }
        return 0.0;
    }
    return std::atan2(u0, u1);
}

double lookup1D(double u, const double breakpoints[], const double table[], std::uint32_t *cachedIndex,
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

void rotateToDq(bool enable, const double in[2], double angle, double out[2]) {
    if (!enable) {
        return;
    }
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    // Both components are computed before either is stored so that in and
    // out may be the same pair.
    const double d = in[0] * c + in[1] * s;
    const double q = -in[0] * s + in[1] * c;
    out[0] = d;
    out[1] = q;
}

void rotateToDqLagging(bool enable, const double in[2], double angle, double out[2]) {
    if (!enable) {
        return;
    }
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const double d = in[0] * s - in[1] * c;
    const double q = in[0] * c + in[1] * s;
    out[0] = d;
    out[1] = q;
}

void copyPair(double dst[2], const double src[2]) {
    dst[0] = src[0];
    dst[1] = src[1];
}

std::int32_t wrapIndex(std::int32_t i, std::int32_t n) {
    if (i >= n) {
        return i - n;
    }
    if (i < 0) {
        return i + n;
    }
    return i;
}

double machineEpsilon() {
    return kEpsilon;
}

std::int32_t truncateToInt32(double x) {
    // -2^31 - 1 < x < 2^31 truncates into range; anything else, NaN included,
    // is out of range.
    if (x > -2147483649.0 && x < 2147483648.0) {
        return static_cast<std::int32_t>(x);
    }
    return INT32_MIN;
}

} // namespace kestrune
