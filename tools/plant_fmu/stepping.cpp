// Advancing the plant over a communication step in whole base steps, and
// what the master may ask about the last one.
#include "plant_instance.h"

#include "common/number_text.h"
#include "divergence.h"
#include "identity.h"

#include <cfloat>
#include <cmath>
#include <cstdio>

using kestrune::plantfmu::Phase;
using kestrune::plantfmu::PlantInstance;

namespace {

using namespace kestrune;
using namespace kestrune::plantfmu;

// A step size within a millionth of a base step of a whole number of them.
constexpr double STEP_TOLERANCE = BASE_STEP * 1e-6;
constexpr double STEP_COUNT_LIMIT = 2147483647.0;

// How far the master's communication point may lie from the plant's time:
// a millionth of a base step, or what its additions may have rounded (half
// a unit in the last place of the point per step taken, and a few for its
// own arithmetic), never half a base step.
double pointTolerance(double time, std::int64_t steps) {
    const double ulp = std::fabs(time) * DBL_EPSILON;
    const double rounding = (4.0 + 0.5 * static_cast<double>(steps)) * ulp;
    return rounding > STEP_TOLERANCE && rounding < 0.5 * BASE_STEP ? rounding : STEP_TOLERANCE;
}

// Whether the state and the source the outputs show are finite numbers.
bool allFinite(const plant::Plant &p) {
    for (std::size_t j = 0; j < p.converterCount(); ++j)
        for (const double value : p.measurements(j))
            if (!std::isfinite(value))
                return false;
    for (const double value : p.gridVoltages())
        if (!std::isfinite(value))
            return false;
    return std::isfinite(p.gridFrequency());
}

// Stops the instance on a plant that is no longer finite, saying when.
fmi2Status stopNotFinite(PlantInstance *instance, const plant::Plant &p) {
    instance->outputsCurrent = false;
    instance->phase = Phase::Stopped;
    char text[200];
    std::snprintf(text, sizeof text,
                  "fmi2DoStep: the plant's state or source is no longer finite at t = %.17g s: check the "
                  "plant parameters",
                  p.time());
    logError(instance, text);
    return fmi2Error;
}

fmi2Status finish(PlantInstance *instance, fmi2Status status) {
    if (instance->functions->stepFinished != nullptr)
        instance->functions->stepFinished(instance->functions->componentEnvironment, status);
    return status;
}

} // namespace

extern "C" {

fmi2Status fmi2DoStep(fmi2Component c, fmi2Real t, fmi2Real h, fmi2Boolean) {
    PlantInstance *instance = liveInstance(c);
    if (instance == nullptr)
        return fmi2Error;
    char text[240];
    if (instance->phase != Phase::Stepping) {
        logError(instance, instance->phase == Phase::Stopped
                               ? "fmi2DoStep: the plant stopped where it diverged; reset or free the instance"
                               : "fmi2DoStep: the instance is not initialized and stepping");
        return finish(instance, fmi2Error);
    }
    plant::Plant &p = *instance->plant;
    if (h == 0.0) {
        std::snprintf(text, sizeof text,
                      "fmi2DoStep: the step size %g s is no step: a communication step must be positive", h);
        logError(instance, text);
        return finish(instance, fmi2Error);
    }
    const double count = std::floor(h / BASE_STEP + 0.5);
    if (!(count >= 0.0 && count <= STEP_COUNT_LIMIT) ||
        !(std::fabs(h - count * BASE_STEP) <= STEP_TOLERANCE * std::fmax(1.0, count))) {
        std::snprintf(
            text, sizeof text,
            "fmi2DoStep: the step size %.17g s is not a whole number of the plant's %g s base steps", h,
            BASE_STEP);
        logError(instance, text);
        return finish(instance, fmi2Error);
    }
    if (count < 1.0) {
        std::snprintf(text, sizeof text,
                      "fmi2DoStep: the step size %.17g s comes to no whole base step of the plant's %g s", h,
                      BASE_STEP);
        logError(instance, text);
        return finish(instance, fmi2Error);
    }
    if (!(std::fabs(t - p.time()) <= pointTolerance(p.time(), instance->communicationSteps))) {
        std::snprintf(text, sizeof text,
                      "fmi2DoStep: the communication point %.17g s does not match the plant's time %.17g s",
                      t, p.time());
        logError(instance, text);
        return finish(instance, fmi2Error);
    }
    if (instance->loggingOn) {
        std::snprintf(text, sizeof text, "fmi2DoStep: %.0f base steps from t = %.17g s", count, p.time());
        logInfo(instance, text);
    }
    holdAndPublish(*instance);
    const auto steps = static_cast<std::int64_t>(count);
    for (std::int64_t i = 0; i < steps; ++i) {
        p.step();
        if (p.diverged()) {
            if (!allFinite(p))
                return finish(instance, stopNotFinite(instance, p));
            instance->outputsCurrent = false;
            instance->phase = Phase::Stopped;
            instance->diverged = true;
            try {
                logDiscard(instance, ("the plant diverged at t = " + numberText(p.time(), 10) +
                                      " s: " + plant::divergence(p))
                                         .c_str());
            } catch (...) {
                logDiscard(instance, "the plant diverged");
            }
            return finish(instance, fmi2Discard);
        }
    }
    // A source gone infinite shows in the outputs before the state follows.
    if (!allFinite(p))
        return finish(instance, stopNotFinite(instance, p));
    ++instance->communicationSteps;
    instance->outputsCurrent = false;
    return finish(instance, fmi2OK);
}

fmi2Status fmi2CancelStep(fmi2Component c) {
    PlantInstance *instance = liveInstance(c);
    if (instance == nullptr)
        return fmi2Error;
    logError(instance, "fmi2CancelStep: the plant's steps are never pending");
    return fmi2Error;
}

// Only the kinds this FMU has something to tell: fmi2Terminated and
// fmi2LastSuccessfulTime; fmi2Discard for the others (no step is ever
// pending).
fmi2Status fmi2GetStatus(fmi2Component c, const fmi2StatusKind, fmi2Status *) {
    return liveInstance(c) == nullptr ? fmi2Error : fmi2Discard;
}

fmi2Status fmi2GetRealStatus(fmi2Component c, const fmi2StatusKind s, fmi2Real *value) {
    PlantInstance *instance = liveInstance(c);
    if (instance == nullptr || value == nullptr)
        return fmi2Error;
    if (s != fmi2LastSuccessfulTime)
        return fmi2Discard;
    *value = instance->plant != nullptr ? instance->plant->time() : 0.0;
    return fmi2OK;
}

fmi2Status fmi2GetIntegerStatus(fmi2Component c, const fmi2StatusKind, fmi2Integer *) {
    return liveInstance(c) == nullptr ? fmi2Error : fmi2Discard;
}

fmi2Status fmi2GetBooleanStatus(fmi2Component c, const fmi2StatusKind s, fmi2Boolean *value) {
    PlantInstance *instance = liveInstance(c);
    if (instance == nullptr || value == nullptr)
        return fmi2Error;
    if (s != fmi2Terminated)
        return fmi2Discard;
    *value = instance->diverged ? fmi2True : fmi2False;
    return fmi2OK;
}

fmi2Status fmi2GetStringStatus(fmi2Component c, const fmi2StatusKind, fmi2String *) {
    return liveInstance(c) == nullptr ? fmi2Error : fmi2Discard;
}

} // extern "C"
