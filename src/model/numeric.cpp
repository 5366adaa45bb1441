#include "model/numeric.h"

#include <cmath>
#include <cstring>

namespace kestrune {

namespace {

constexpr double kHalfPi = 1.5707963267948966;
constexpr double kSqrt2 = 1.4142135623730951;

} // namespace

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
    return MACHINE_EPSILON;
}

} // namespace kestrune
