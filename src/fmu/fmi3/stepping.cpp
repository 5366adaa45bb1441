// Advancing an FMI 3.0 instance in whole base steps.
#include "fmu/base_steps.h"
#include "fmu/fmi3/call_rules.h"
#include "fmu/fmi3/instance.h"

extern "C" fmi3Status fmi3DoStep(fmi3Instance handle, fmi3Float64 currentCommunicationPoint,
                                 fmi3Float64 communicationStepSize,
                                 fmi3Boolean /*noSetFMUStatePriorToCurrentPoint*/,
                                 fmi3Boolean *eventHandlingNeeded, fmi3Boolean *terminateSimulation,
                                 fmi3Boolean *earlyReturn, fmi3Float64 *lastSuccessfulTime) {
    using namespace kestrune;
    using namespace kestrune::fmi3;
    Instance *instance = liveInstance(handle);
    if (instance == nullptr) {
        return fmi3Error;
    }
    const double h = communicationStepSize;
    const double t = currentCommunicationPoint;
    fmi3Status status = fmi3OK;
    bool stopRequested = false;

    // The step is logged before the call's rules are checked, and a refused
    // step still answers through its output arguments.
    logMessage(instance, fmi3OK, LOG_STEP, "CommunicationStepSize=%.16g, LocalSolverStepSize=%.16g", h,
               BASE_STEP);
    if (!admits(instance, Call::DoStep)) {
        status = fmi3Error;
    } else {
        const StepPlan plan = planCommunicationStep(instance->time, instance->lastStepCount, t, h);
        if (plan.check == StepCheck::BadStepSize) {
            logMessage(instance, fmi3Error, LOG_STATUS_ERROR,
                       "fmi3DoStep: Stepsize must be non-negative and divisible by %.16g", BASE_STEP);
            status = fmi3Error;
        } else if (plan.check == StepCheck::BadCommunicationPoint) {
            logMessage(instance, fmi3Error, LOG_STATUS_ERROR,
                       "fmi3DoStep: CurrentCommunicationPoint %.17g is not equal to FMU time %.17g", t,
                       instance->time);
            status = fmi3Error;
        } else {
            // The master's time replaces the accumulated one, so rounding
            // drift never carries from one communication step to the next.
            instance->time = t;
            logMessage(instance, fmi3OK, LOG_STEP, "Local solver will do %d steps from t = %.16g.",
                       plan.baseSteps, t);
            const int done = runBaseSteps(instance->model, plan.baseSteps, instance->time);
            instance->lastStepCount = done;
            // A stop the model requests ends the step where it was asked;
            // the master learns it through terminateSimulation.
            stopRequested = instance->model.record.stopRequested != 0U;
        }
    }

    if (eventHandlingNeeded != nullptr) {
        *eventHandlingNeeded = fmi3False;
    }
    if (terminateSimulation != nullptr) {
        *terminateSimulation = stopRequested;
    }
    if (earlyReturn != nullptr) {
        *earlyReturn = fmi3False;
    }
    if (lastSuccessfulTime != nullptr) {
        *lastSuccessfulTime = instance->time;
    }
    return status;
}
