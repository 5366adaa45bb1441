#include "fmu/step_check.h"

#include "identity.h"
#include "model/numeric.h"

#include <cmath>

namespace kestrune {

namespace {

// One millionth of a base step, for both the divisibility and the time test.
constexpr double STEP_TOLERANCE = BASE_STEP * 1e-6;
// The step count is a 32-bit signed integer; a larger count is refused.
constexpr double STEP_COUNT_LIMIT = 2147483648.0;
// Units in the last place allowed for the master's own rounding of a point
// it computes as k * h.
constexpr double MASTER_ROUNDING_ULPS = 4.0;

} // namespace

double stepTolerance(double time, int stepsAccumulated) {
    // A double's unit in the last place is at most its magnitude times the
    // machine epsilon, and at least half that.
    const double ulp = std::fabs(time) * MACHINE_EPSILON;
    const double rounding = (MASTER_ROUNDING_ULPS + 0.5 * static_cast<double>(stepsAccumulated)) * ulp;
    // Never half a base step or more, so that no point matches a neighbouring
    // step; written so that a NaN or infinite time keeps the fixed tolerance.
    return rounding > STEP_TOLERANCE && rounding < 0.5 * BASE_STEP ? rounding : STEP_TOLERANCE;
}

StepPlan planCommunicationStep(double instanceTime, int stepsAccumulated, double t, double h) {
    // Nearest whole step count, halves upward. The count's range is decided
    // before converting: a NaN, infinite or huge step size has no count.
    const double steps = h / BASE_STEP + 0.5;
    const bool countFits = steps >= 0.0 && steps < STEP_COUNT_LIMIT;
    const int n = countFits ? static_cast<int>(steps) : 0;

    // The tolerance grows with the time only where the fixed one no longer
    // covers its rounding.
    const double tolerance = stepTolerance(instanceTime, stepsAccumulated);
    if (!countFits || h < 0.0 || !(std::fabs(h - static_cast<double>(n) * BASE_STEP) <= tolerance)) {
        return {StepCheck::BadStepSize, 0};
    }
    if (!(std::fabs(instanceTime - t) <= tolerance)) {
        return {StepCheck::BadCommunicationPoint, 0};
    }
    return {StepCheck::Accepted, n};
}

} // namespace kestrune
