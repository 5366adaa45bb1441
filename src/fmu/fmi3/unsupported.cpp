// The functions of the standard for what this unit does not offer: model
// exchange, event mode, clock access, configuration mode,
// variable dependencies and derivatives. Each answers fmi3Error with a message
// that names it, and touches neither the instance nor its output arguments.
#include "fmu/fmi3/call_rules.h"

// Refused by the table of where each function may be called: no interface
// of this unit offers them.
#define KESTRUNE_UNSUPPORTED(Name, ...)                                                                      \
    fmi3Status fmi3##Name(fmi3Instance handle __VA_OPT__(, ) __VA_ARGS__) {                                  \
        static_assert(kestrune::fmi3::ruleOf(kestrune::fmi3::Call::Name).interfaces ==                       \
                      kestrune::fmi3::NO_INTERFACE);                                                         \
        kestrune::fmi3::enterCall(handle, kestrune::fmi3::Call::Name);                                       \
        return fmi3Error;                                                                                    \
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

KESTRUNE_UNSUPPORTED(EnterEventMode)
KESTRUNE_UNSUPPORTED(EnterStepMode)
KESTRUNE_UNSUPPORTED(EvaluateDiscreteStates)
KESTRUNE_UNSUPPORTED(UpdateDiscreteStates, fmi3Boolean *, fmi3Boolean *, fmi3Boolean *, fmi3Boolean *,
                     fmi3Boolean *, fmi3Float64 *)

KESTRUNE_UNSUPPORTED(GetClock, const fmi3ValueReference[], size_t, fmi3Clock[])
KESTRUNE_UNSUPPORTED(SetClock, const fmi3ValueReference[], size_t, const fmi3Clock[])
KESTRUNE_UNSUPPORTED(GetIntervalDecimal, const fmi3ValueReference[], size_t, fmi3Float64[],
                     fmi3IntervalQualifier[])
KESTRUNE_UNSUPPORTED(GetIntervalFraction, const fmi3ValueReference[], size_t, fmi3UInt64[], fmi3UInt64[],
                     fmi3IntervalQualifier[])
KESTRUNE_UNSUPPORTED(GetShiftDecimal, const fmi3ValueReference[], size_t, fmi3Float64[])
KESTRUNE_UNSUPPORTED(GetShiftFraction, const fmi3ValueReference[], size_t, fmi3UInt64[], fmi3UInt64[])
KESTRUNE_UNSUPPORTED(SetIntervalDecimal, const fmi3ValueReference[], size_t, const fmi3Float64[])
KESTRUNE_UNSUPPORTED(SetIntervalFraction, const fmi3ValueReference[], size_t, const fmi3UInt64[],
                     const fmi3UInt64[])
KESTRUNE_UNSUPPORTED(SetShiftDecimal, const fmi3ValueReference[], size_t, const fmi3Float64[])
KESTRUNE_UNSUPPORTED(SetShiftFraction, const fmi3ValueReference[], size_t, const fmi3UInt64[],
                     const fmi3UInt64[])

KESTRUNE_UNSUPPORTED(EnterConfigurationMode)
KESTRUNE_UNSUPPORTED(ExitConfigurationMode)

KESTRUNE_UNSUPPORTED(GetNumberOfVariableDependencies, fmi3ValueReference, size_t *)
KESTRUNE_UNSUPPORTED(GetVariableDependencies, fmi3ValueReference, size_t[], fmi3ValueReference[], size_t[],
                     fmi3DependencyKind[], size_t)
KESTRUNE_UNSUPPORTED(GetDirectionalDerivative, const fmi3ValueReference[], size_t, const fmi3ValueReference[],
                     size_t, const fmi3Float64[], size_t, fmi3Float64[], size_t)
KESTRUNE_UNSUPPORTED(GetAdjointDerivative, const fmi3ValueReference[], size_t, const fmi3ValueReference[],
                     size_t, const fmi3Float64[], size_t, fmi3Float64[], size_t)
KESTRUNE_UNSUPPORTED(GetOutputDerivatives, const fmi3ValueReference[], size_t, const fmi3Int32[],
                     fmi3Float64[], size_t)

KESTRUNE_UNSUPPORTED(EnterContinuousTimeMode)
KESTRUNE_UNSUPPORTED(CompletedIntegratorStep, fmi3Boolean, fmi3Boolean *, fmi3Boolean *)
KESTRUNE_UNSUPPORTED(SetTime, fmi3Float64)
KESTRUNE_UNSUPPORTED(SetContinuousStates, const fmi3Float64[], size_t)
KESTRUNE_UNSUPPORTED(GetContinuousStateDerivatives, fmi3Float64[], size_t)
KESTRUNE_UNSUPPORTED(GetEventIndicators, fmi3Float64[], size_t)
KESTRUNE_UNSUPPORTED(GetContinuousStates, fmi3Float64[], size_t)
KESTRUNE_UNSUPPORTED(GetNominalsOfContinuousStates, fmi3Float64[], size_t)
KESTRUNE_UNSUPPORTED(GetNumberOfEventIndicators, size_t *)
KESTRUNE_UNSUPPORTED(GetNumberOfContinuousStates, size_t *)

} // extern "C"
