// Advancing the unit in whole base steps, and publishing the outputs of each
// step's output phase.
#include "fmu/stepping.h"

#include "fmu/instance.h"
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

bool modelReadyToStep(const Fmu2Instance *instance) {
    return instance->model->record.childrenStarted != 0U;
}

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

} // namespace kestrune

extern "C" fmi2Status fmi2DoStep(fmi2Component c, fmi2Real currentCommunicationPoint,
                                 fmi2Real communicationStepSize,
                                 fmi2Boolean /*noSetFMUStatePriorToCurrentPoint*/) {
    using namespace kestrune;
    Fmu2Instance *instance = liveInstance(c);
    if (instance == nullptr) {
        return fmi2Error;
    }
    const double h = communicationStepSize;
    const double t = currentCommunicationPoint;
    fmi2Status status = fmi2OK;

    // Nearest whole step count, halves upward. The count's range is decided
    // before converting: a NaN, infinite or huge step size has no count.
    const double steps = h / BASE_STEP + 0.5;
    const bool countFits = steps >= 0.0 && steps < STEP_COUNT_LIMIT;
    const int n = countFits ? static_cast<int>(steps) : 0;

    logInfo(instance, "CommunicationStepSize=%.16g, LocalSolverStepSize=%.16g", h, BASE_STEP);

    // Comparisons are written so that a NaN fails them. The tolerance grows
    // with the time only where the fixed one no longer covers its rounding.
    const double tolerance = stepTolerance(instance->time, instance->lastStepCount);
    if (!modelReadyToStep(instance)) {
        logError(instance, NOT_INITIALIZED_FORMAT, "fmi2DoStep");
        status = fmi2Error;
    } else if (!countFits || h < 0.0 || !(std::fabs(h - static_cast<double>(n) * BASE_STEP) <= tolerance)) {
        logError(instance, "Stepsize must be non-negative and divisible by %.16g", BASE_STEP);
        status = fmi2Error;
    } else if (!(std::fabs(instance->time - t) <= tolerance)) {
        logError(instance, "CurrentCommunicationPoint is not equal to FMU time");
        status = fmi2Error;
    } else {
        // The master's time replaces the accumulated one, so rounding drift
        // never carries from one communication step to the next.
        instance->time = t;
        logInfo(instance, "Local solver will do %d steps from t = %.16g.", n, t);
        Model &model = *instance->model;
        int i = 0;
        for (; i < n; ++i) {
            if (model.record.stopRequested != 0U) {
                logError(instance, "stop requested in fmi2DoStep");
                status = fmi2Error;
                break;
            }
            stepAndPublish(model);
            instance->time = instance->time + BASE_STEP;
        }
        instance->lastStepCount = i;
    }

    if (instance->functions->stepFinished != nullptr) {
        instance->functions->stepFinished(instance->functions->componentEnvironment, status);
    }
    return status;
}
