// Advancing the unit in whole base steps, and publishing the outputs of each
// step's output phase.
#include "fmu/stepping.h"

#include "fmu/base_steps.h"

#include "fmu/instance.h"
#include "model/records.h"

namespace kestrune {

bool modelReadyToStep(const Fmu2Instance *instance) {
    return instance->model->record.childrenStarted != 0U;
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

    logInfo(instance, "CommunicationStepSize=%.16g, LocalSolverStepSize=%.16g", h, BASE_STEP);

    const StepPlan plan = planCommunicationStep(instance->time, instance->lastStepCount, t, h);
    if (!modelReadyToStep(instance)) {
        logError(instance, NOT_INITIALIZED_FORMAT, "fmi2DoStep");
        status = fmi2Error;
    } else if (plan.check == StepCheck::BadStepSize) {
        logError(instance, "Stepsize must be non-negative and divisible by %.16g", BASE_STEP);
        status = fmi2Error;
    } else if (plan.check == StepCheck::BadCommunicationPoint) {
        logError(instance, "CurrentCommunicationPoint is not equal to FMU time");
        status = fmi2Error;
    } else {
        // The master's time replaces the accumulated one, so rounding drift
        // never carries from one communication step to the next.
        instance->time = t;
        logInfo(instance, "Local solver will do %d steps from t = %.16g.", plan.baseSteps, t);
        const int done = runBaseSteps(*instance->model, plan.baseSteps, instance->time);
        if (done < plan.baseSteps) {
            logError(instance, "stop requested in fmi2DoStep");
            status = fmi2Error;
        }
        instance->lastStepCount = done;
    }

    if (instance->functions->stepFinished != nullptr) {
        instance->functions->stepFinished(instance->functions->componentEnvironment, status);
    }
    return status;
}
