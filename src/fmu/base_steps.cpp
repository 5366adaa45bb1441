// Base steps, communication-step checks, variable addresses and the
// initialization that keeps written inputs, shared by both FMI editions.
#include "fmu/base_steps.h"

#include "fmu/variables.h"
#include "model/initialize.h"
#include "model/numeric.h"
#include "model/records.h"
#include "model/step.h"

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

void stepAndPublish(Model &model) {
    modelStep(model);
    restoreOutputs(model);
}

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

int runBaseSteps(Model &model, int count, double &time) {
    int i = 0;
    for (; i < count && model.record.stopRequested == 0U; ++i) {
        stepAndPublish(model);
        time = time + BASE_STEP;
    }
    return i;
}

double *realVariable(Model &model, double &time, unsigned vr) {
    if (vr < VR_CONVERTER_CURRENT_A) {
        return &model.inputs.gridVoltage[vr - VR_GRID_VOLTAGE_A];
    }
    if (vr < VR_DC_VOLTAGE) {
        return &model.inputs.converterCurrent[vr - VR_CONVERTER_CURRENT_A];
    }
    if (vr == VR_DC_VOLTAGE) {
        return &model.inputs.dcVoltage;
    }
    if (vr < VR_TIME) {
        return &model.outputs.gates[vr - VR_FIRST_GATE];
    }
    return vr == VR_TIME ? &time : &model.parameters.meanSampleTime;
}

void initializeKeepingInputs(Model &model, std::uint32_t writtenInputs) {
    double unused = 0.0;
    double written[INPUT_COUNT];
    for (unsigned k = 0; k < INPUT_COUNT; ++k) {
        written[k] = *realVariable(model, unused, k);
    }
    modelInitialize(model);
    for (unsigned k = 0; k < INPUT_COUNT; ++k) {
        if ((writtenInputs & (1U << k)) != 0U) {
            *realVariable(model, unused, k) = written[k];
        }
    }
}

} // namespace kestrune
