// The ranges the plant's parameters and events must keep, in the words a
// message gives them: a scenario's reader and the plant FMU check with these.
#pragma once

#include "common/number_text.h"

#include <cmath>
#include <string>

namespace kestrune::plant {

enum class Range { Any, NonNegative, Positive };

// Every value lies within +-1e9 of its unit, and a positive one (a
// frequency, an inductance, a capacitance, a ratio) at or above 1e-18: far
// beyond any plant of this kind either way, yet narrow enough that the
// source, the grid impedance and every base step the plant derives from
// them stay finite (the largest coefficient of a step, 5 us times 1e9 over
// 1e-18, raised to the fourth power of its stages, stays near 1e87).
inline constexpr double MAGNITUDE_MAX = 1e9;
inline constexpr double POSITIVE_MIN = 1e-18;

// "" when value is finite and lies in range, else the rule it breaks.
inline std::string rangeProblem(double value, Range range) {
    if (!std::isfinite(value))
        return "must be a finite number";
    if (range == Range::Positive && !(value > 0.0))
        return "must be positive (got " + numberText(value) + ")";
    if (range == Range::NonNegative && value < 0.0)
        return "must not be negative (got " + numberText(value) + ")";
    if (std::fabs(value) > MAGNITUDE_MAX)
        return "must lie within -1e9 to 1e9 (got " + numberText(value) + ")";
    if (range == Range::Positive && value < POSITIVE_MIN)
        return "must be at least 1e-18 (got " + numberText(value) + ")";
    return "";
}

inline constexpr double DEPTH_MAX = 2.0; // a dip's h: 0 to 2 (above 1 a swell)
inline constexpr int HARMONIC_ORDER_MAX = 100;

} // namespace kestrune::plant
