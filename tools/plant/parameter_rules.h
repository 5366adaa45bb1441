// The ranges the plant's parameters and events must keep, in the words a
// message gives them: a scenario's reader and the plant FMU check with these.
#pragma once

#include "common/number_text.h"

#include <cmath>
#include <string>

namespace kestrune::plant {

enum class Range { Any, NonNegative, Positive };

// "" when value is finite and lies in range, else the rule it breaks.
inline std::string rangeProblem(double value, Range range) {
    if (!std::isfinite(value))
        return "must be a finite number";
    if (range == Range::Positive && !(value > 0.0))
        return "must be positive (got " + numberText(value) + ")";
    if (range == Range::NonNegative && value < 0.0)
        return "must not be negative (got " + numberText(value) + ")";
    return "";
}

inline constexpr double DEPTH_MAX = 2.0; // a dip's h: 0 to 2 (above 1 a swell)
inline constexpr int HARMONIC_ORDER_MAX = 100;

} // namespace kestrune::plant
