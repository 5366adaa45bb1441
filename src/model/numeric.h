// Arithmetic that stays defined at the edges: the non-finite constants, a
// remainder, hypotenuse and arc tangent with fixed answers for special inputs,
// a table lookup that remembers its segment, the two rotations into a rotating
// frame, a one-fold ring index wrap and the machine epsilon.
#pragma once

#include <cstdint>

namespace kestrune {

// Quiet NaN, +Infinity and -Infinity, built at run time by initNonFinite from
// their bit patterns; 0.0 until then.
extern double nanValue;
extern double infValue;
extern double minusInfValue;

void initNonFinite();
bool isNaNValue(double x);
bool isInfValue(double x);

// Remainder with the sign of the dividend; a quotient that is whole within
// relative epsilon gives a signed zero.
double remainderSafe(double u0, double u1);
double hypotSafe(double u0, double u1);
double atan2Safe(double u0, double u1);

// Piecewise-linear interpolation over maxIndex segments with linear
// extrapolation at both ends; *cachedIndex remembers the last segment.
double lookup1D(double u, const double breakpoints[], const double table[], std::uint32_t *cachedIndex,
                std::uint32_t maxIndex);

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
std::int32_t truncateToInt32(double x);

} // namespace kestrune
