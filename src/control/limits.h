// The two ways the controls hold a value within bounds. Both use ordinary
// comparisons, so a NaN passes unchanged.
#pragma once

namespace kestrune {

// Saturation of a block output: max when x > max, else min when x < min.
inline double limitTo(double x, double min, double max) {
    if (x > max) {
        return max;
    }
    if (x < min) {
        return min;
    }
    return x;
}

// Anti-windup of an integrator state: a state that has reached or passed a
// bound is set to it.
inline double clampIntegrator(double x, double min, double max) {
    if (x >= max) {
        return max;
    }
    if (min >= x) {
        return min;
    }
    return x;
}

} // namespace kestrune
