// The functions of the standard for what this unit does not offer: model
// exchange, event mode, clock access, configuration mode,
// variable dependencies and derivatives. Each answers fmi3Error with a message
// that names it, and touches neither the instance nor its output arguments.
#include "fmu/fmi3/instance.h"

namespace {

constexpr const char *MODEL_EXCHANGE = "model exchange is not supported; this is a co-simulation unit";
constexpr const char *NO_EVENT_MODE = "this unit has no event mode";
constexpr const char *NO_CLOCKS =
    "the clocks are periodic input clocks of scheduled execution, activated only through "
    "fmi3ActivateModelPartition";
constexpr const char *NO_CONFIGURATION = "this unit has no structural parameters to configure";
constexpr const char *NO_DEPENDENCIES = "variable dependencies are not provided";
constexpr const char *NO_DERIVATIVES = "derivatives are not provided";

fmi3Status unsupported(fmi3Instance handle, const char *function, const char *reason) {
    const kestrune::fmi3::Instance *instance = kestrune::fmi3::liveInstance(handle);
    if (instance != nullptr) {
        kestrune::fmi3::refuse(instance, function, reason);
    }
    return fmi3Error;
}

} // namespace

#define KESTRUNE_UNSUPPORTED(Name, Reason, ...)                                                              \
    fmi3Status fmi3##Name(fmi3Instance handle __VA_OPT__(, ) __VA_ARGS__) {                                  \
        return unsupported(handle, "fmi3" #Name, Reason);                                                    \
    }

extern "C" {

fmi3Instance fmi3InstantiateModelExchange(fmi3String, fmi3String, fmi3String, fmi3Boolean,
                                          fmi3Boolean loggingOn, fmi3InstanceEnvironment instanceEnvironment,
                                          fmi3LogMessageCallback logMessage) {
    return kestrune::fmi3::refuseInstantiation(
        loggingOn, instanceEnvironment, logMessage,
        "fmi3InstantiateModelExchange: model exchange is not supported; this is a "
        "co-simulation unit");
}

KESTRUNE_UNSUPPORTED(EnterEventMode, NO_EVENT_MODE)
KESTRUNE_UNSUPPORTED(EnterStepMode, NO_EVENT_MODE)
KESTRUNE_UNSUPPORTED(EvaluateDiscreteStates, NO_EVENT_MODE)
KESTRUNE_UNSUPPORTED(UpdateDiscreteStates, NO_EVENT_MODE, fmi3Boolean *, fmi3Boolean *, fmi3Boolean *,
                     fmi3Boolean *, fmi3Boolean *, fmi3Float64 *)

KESTRUNE_UNSUPPORTED(GetClock, NO_CLOCKS, const fmi3ValueReference[], size_t, fmi3Clock[])
KESTRUNE_UNSUPPORTED(SetClock, NO_CLOCKS, const fmi3ValueReference[], size_t, const fmi3Clock[])
KESTRUNE_UNSUPPORTED(GetIntervalDecimal, NO_CLOCKS, const fmi3ValueReference[], size_t, fmi3Float64[],
                     fmi3IntervalQualifier[])
KESTRUNE_UNSUPPORTED(GetIntervalFraction, NO_CLOCKS, const fmi3ValueReference[], size_t, fmi3UInt64[],
                     fmi3UInt64[], fmi3IntervalQualifier[])
KESTRUNE_UNSUPPORTED(GetShiftDecimal, NO_CLOCKS, const fmi3ValueReference[], size_t, fmi3Float64[])
KESTRUNE_UNSUPPORTED(GetShiftFraction, NO_CLOCKS, const fmi3ValueReference[], size_t, fmi3UInt64[],
                     fmi3UInt64[])
KESTRUNE_UNSUPPORTED(SetIntervalDecimal, NO_CLOCKS, const fmi3ValueReference[], size_t, const fmi3Float64[])
KESTRUNE_UNSUPPORTED(SetIntervalFraction, NO_CLOCKS, const fmi3ValueReference[], size_t, const fmi3UInt64[],
                     const fmi3UInt64[])
KESTRUNE_UNSUPPORTED(SetShiftDecimal, NO_CLOCKS, const fmi3ValueReference[], size_t, const fmi3Float64[])
KESTRUNE_UNSUPPORTED(SetShiftFraction, NO_CLOCKS, const fmi3ValueReference[], size_t, const fmi3UInt64[],
                     const fmi3UInt64[])

KESTRUNE_UNSUPPORTED(EnterConfigurationMode, NO_CONFIGURATION)
KESTRUNE_UNSUPPORTED(ExitConfigurationMode, NO_CONFIGURATION)

KESTRUNE_UNSUPPORTED(GetNumberOfVariableDependencies, NO_DEPENDENCIES, fmi3ValueReference, size_t *)
KESTRUNE_UNSUPPORTED(GetVariableDependencies, NO_DEPENDENCIES, fmi3ValueReference, size_t[],
                     fmi3ValueReference[], size_t[], fmi3DependencyKind[], size_t)
KESTRUNE_UNSUPPORTED(GetDirectionalDerivative, NO_DERIVATIVES, const fmi3ValueReference[], size_t,
                     const fmi3ValueReference[], size_t, const fmi3Float64[], size_t, fmi3Float64[], size_t)
KESTRUNE_UNSUPPORTED(GetAdjointDerivative, NO_DERIVATIVES, const fmi3ValueReference[], size_t,
                     const fmi3ValueReference[], size_t, const fmi3Float64[], size_t, fmi3Float64[], size_t)
KESTRUNE_UNSUPPORTED(GetOutputDerivatives, NO_DERIVATIVES, const fmi3ValueReference[], size_t,
                     const fmi3Int32[], fmi3Float64[], size_t)

KESTRUNE_UNSUPPORTED(EnterContinuousTimeMode, MODEL_EXCHANGE)
KESTRUNE_UNSUPPORTED(CompletedIntegratorStep, MODEL_EXCHANGE, fmi3Boolean, fmi3Boolean *, fmi3Boolean *)
KESTRUNE_UNSUPPORTED(SetTime, MODEL_EXCHANGE, fmi3Float64)
KESTRUNE_UNSUPPORTED(SetContinuousStates, MODEL_EXCHANGE, const fmi3Float64[], size_t)
KESTRUNE_UNSUPPORTED(GetContinuousStateDerivatives, MODEL_EXCHANGE, fmi3Float64[], size_t)
KESTRUNE_UNSUPPORTED(GetEventIndicators, MODEL_EXCHANGE, fmi3Float64[], size_t)
KESTRUNE_UNSUPPORTED(GetContinuousStates, MODEL_EXCHANGE, fmi3Float64[], size_t)
KESTRUNE_UNSUPPORTED(GetNominalsOfContinuousStates, MODEL_EXCHANGE, fmi3Float64[], size_t)
KESTRUNE_UNSUPPORTED(GetNumberOfEventIndicators, MODEL_EXCHANGE, size_t *)
KESTRUNE_UNSUPPORTED(GetNumberOfContinuousStates, MODEL_EXCHANGE, size_t *)

} // extern "C"
