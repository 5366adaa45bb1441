// Where each FMI 3.0 function may be called: the interfaces of the instance
// (co-simulation, scheduled execution) that offer it and a mask of the modes
// that allow it, in one table. Every function that takes an instance starts
// with enterCall, which looks the handle up and checks the table; a refusal
// names the function and the rule it breaks. fmi3DoStep alone logs the step
// before it checks (liveInstance, then admits).
#pragma once

#include "fmu/fmi3/instance.h"

#include <cstddef>
#include <cstdint>

namespace kestrune::fmi3 {

inline constexpr std::uint8_t modeBit(Mode mode) {
    return static_cast<std::uint8_t>(1U << static_cast<unsigned>(mode));
}
inline constexpr std::uint8_t NO_MODE = 0;
inline constexpr std::uint8_t ANY_MODE = 0x3F;
static_assert(ANY_MODE == (modeBit(Mode::ClockActivationMode) << 1U) - 1U, "one bit per mode");
inline constexpr std::uint8_t STEP_MODE = modeBit(Mode::StepMode);
inline constexpr std::uint8_t CLOCK_ACTIVATION_MODE = modeBit(Mode::ClockActivationMode);
inline constexpr std::uint8_t STARTED = STEP_MODE | CLOCK_ACTIVATION_MODE;
inline constexpr auto NOT_FAILED = static_cast<std::uint8_t>(ANY_MODE & ~modeBit(Mode::Failed));

// The interfaces an instance is made for.
inline constexpr std::uint8_t NO_INTERFACE = 0;
inline constexpr std::uint8_t CO_SIMULATION = 1;
inline constexpr std::uint8_t SCHEDULED_EXECUTION = 2;
inline constexpr std::uint8_t ANY_INTERFACE = CO_SIMULATION | SCHEDULED_EXECUTION;

// Why the functions of what this unit does not offer refuse.
inline constexpr const char *MODEL_EXCHANGE = "model exchange is not supported; this is a co-simulation unit";
inline constexpr const char *NO_EVENT_MODE = "this unit has no event mode";
inline constexpr const char *NO_CLOCKS =
    "the clocks are periodic input clocks of scheduled execution, activated only through "
    "fmi3ActivateModelPartition";
inline constexpr const char *NO_CONFIGURATION = "this unit has no structural parameters to configure";
inline constexpr const char *NO_DEPENDENCIES = "variable dependencies are not provided";
inline constexpr const char *NO_DERIVATIVES = "derivatives are not provided";
// A state of a scheduled-execution instance would have to hold a partition
// in the middle of its work and the values in transit between the two; the
// unit does not offer it.
inline constexpr const char *SCHEDULED_STATE =
    "FMU states are offered for co-simulation only, not for scheduled execution";
inline constexpr const char *ONLY_SCHEDULED =
    "this instance was made for scheduled execution; it advances only through fmi3ActivateModelPartition";
inline constexpr const char *ONLY_CO_SIMULATION =
    "this instance was made for co-simulation; partitions are activated only on an instance from "
    "fmi3InstantiateScheduledExecution";

// X(function, modes, interfaces, refusal by interface, refusal by mode,
// hint after "not allowed in <mode>"): a null refusal by mode is
// "<function>: not allowed in <mode><hint>".
#define KESTRUNE_FMI3_CALLS(X)                                                                               \
    X(SetDebugLogging, ANY_MODE, ANY_INTERFACE, nullptr, nullptr, "")                                        \
    X(FreeInstance, ANY_MODE, ANY_INTERFACE, nullptr, nullptr, "")                                           \
    X(EnterInitializationMode, modeBit(Mode::Instantiated), ANY_INTERFACE, nullptr, nullptr, "")             \
    X(ExitInitializationMode, modeBit(Mode::InitializationMode), ANY_INTERFACE, nullptr, nullptr, "")        \
    X(Terminate, STARTED, ANY_INTERFACE, nullptr, nullptr, "")                                               \
    X(Reset, ANY_MODE, ANY_INTERFACE, nullptr, nullptr, "")                                                  \
    X(DoStep, STEP_MODE, CO_SIMULATION, ONLY_SCHEDULED, nullptr,                                             \
      "; step only after fmi3ExitInitializationMode")                                                        \
    X(ActivateModelPartition, CLOCK_ACTIVATION_MODE, SCHEDULED_EXECUTION, ONLY_CO_SIMULATION, nullptr,       \
      "; activate partitions only after fmi3ExitInitializationMode and before fmi3Terminate")                \
    X(GetFMUState, NOT_FAILED, CO_SIMULATION, SCHEDULED_STATE, "the instance failed; reset it first", "")    \
    X(SetFMUState, ANY_MODE, CO_SIMULATION, SCHEDULED_STATE, nullptr, "")                                    \
    X(FreeFMUState, ANY_MODE, ANY_INTERFACE, nullptr, nullptr, "")                                           \
    X(SerializedFMUStateSize, ANY_MODE, ANY_INTERFACE, nullptr, nullptr, "")                                 \
    X(SerializeFMUState, ANY_MODE, ANY_INTERFACE, nullptr, nullptr, "")                                      \
    X(DeserializeFMUState, ANY_MODE, CO_SIMULATION, SCHEDULED_STATE, nullptr, "")                            \
    X(GetFloat64, ANY_MODE, ANY_INTERFACE, nullptr, nullptr, "")                                             \
    X(SetFloat64, ANY_MODE, ANY_INTERFACE, nullptr, nullptr, "")                                             \
    KESTRUNE_FMI3_TYPED_ACCESS(X, Float32)                                                                   \
    KESTRUNE_FMI3_TYPED_ACCESS(X, Int8)                                                                      \
    KESTRUNE_FMI3_TYPED_ACCESS(X, UInt8)                                                                     \
    KESTRUNE_FMI3_TYPED_ACCESS(X, Int16)                                                                     \
    KESTRUNE_FMI3_TYPED_ACCESS(X, UInt16)                                                                    \
    KESTRUNE_FMI3_TYPED_ACCESS(X, Int32)                                                                     \
    KESTRUNE_FMI3_TYPED_ACCESS(X, UInt32)                                                                    \
    KESTRUNE_FMI3_TYPED_ACCESS(X, Int64)                                                                     \
    KESTRUNE_FMI3_TYPED_ACCESS(X, UInt64)                                                                    \
    KESTRUNE_FMI3_TYPED_ACCESS(X, Boolean)                                                                   \
    KESTRUNE_FMI3_TYPED_ACCESS(X, String)                                                                    \
    KESTRUNE_FMI3_TYPED_ACCESS(X, Binary)                                                                    \
    X(EnterEventMode, NO_MODE, NO_INTERFACE, NO_EVENT_MODE, nullptr, "")                                     \
    X(EnterStepMode, NO_MODE, NO_INTERFACE, NO_EVENT_MODE, nullptr, "")                                      \
    X(EvaluateDiscreteStates, NO_MODE, NO_INTERFACE, NO_EVENT_MODE, nullptr, "")                             \
    X(UpdateDiscreteStates, NO_MODE, NO_INTERFACE, NO_EVENT_MODE, nullptr, "")                               \
    X(GetClock, NO_MODE, NO_INTERFACE, NO_CLOCKS, nullptr, "")                                               \
    X(SetClock, NO_MODE, NO_INTERFACE, NO_CLOCKS, nullptr, "")                                               \
    X(GetIntervalDecimal, NO_MODE, NO_INTERFACE, NO_CLOCKS, nullptr, "")                                     \
    X(GetIntervalFraction, NO_MODE, NO_INTERFACE, NO_CLOCKS, nullptr, "")                                    \
    X(GetShiftDecimal, NO_MODE, NO_INTERFACE, NO_CLOCKS, nullptr, "")                                        \
    X(GetShiftFraction, NO_MODE, NO_INTERFACE, NO_CLOCKS, nullptr, "")                                       \
    X(SetIntervalDecimal, NO_MODE, NO_INTERFACE, NO_CLOCKS, nullptr, "")                                     \
    X(SetIntervalFraction, NO_MODE, NO_INTERFACE, NO_CLOCKS, nullptr, "")                                    \
    X(SetShiftDecimal, NO_MODE, NO_INTERFACE, NO_CLOCKS, nullptr, "")                                        \
    X(SetShiftFraction, NO_MODE, NO_INTERFACE, NO_CLOCKS, nullptr, "")                                       \
    X(EnterConfigurationMode, NO_MODE, NO_INTERFACE, NO_CONFIGURATION, nullptr, "")                          \
    X(ExitConfigurationMode, NO_MODE, NO_INTERFACE, NO_CONFIGURATION, nullptr, "")                           \
    X(GetNumberOfVariableDependencies, NO_MODE, NO_INTERFACE, NO_DEPENDENCIES, nullptr, "")                  \
    X(GetVariableDependencies, NO_MODE, NO_INTERFACE, NO_DEPENDENCIES, nullptr, "")                          \
    X(GetDirectionalDerivative, NO_MODE, NO_INTERFACE, NO_DERIVATIVES, nullptr, "")                          \
    X(GetAdjointDerivative, NO_MODE, NO_INTERFACE, NO_DERIVATIVES, nullptr, "")                              \
    X(GetOutputDerivatives, NO_MODE, NO_INTERFACE, NO_DERIVATIVES, nullptr, "")                              \
    X(EnterContinuousTimeMode, NO_MODE, NO_INTERFACE, MODEL_EXCHANGE, nullptr, "")                           \
    X(CompletedIntegratorStep, NO_MODE, NO_INTERFACE, MODEL_EXCHANGE, nullptr, "")                           \
    X(SetTime, NO_MODE, NO_INTERFACE, MODEL_EXCHANGE, nullptr, "")                                           \
    X(SetContinuousStates, NO_MODE, NO_INTERFACE, MODEL_EXCHANGE, nullptr, "")                               \
    X(GetContinuousStateDerivatives, NO_MODE, NO_INTERFACE, MODEL_EXCHANGE, nullptr, "")                     \
    X(GetEventIndicators, NO_MODE, NO_INTERFACE, MODEL_EXCHANGE, nullptr, "")                                \
    X(GetContinuousStates, NO_MODE, NO_INTERFACE, MODEL_EXCHANGE, nullptr, "")                               \
    X(GetNominalsOfContinuousStates, NO_MODE, NO_INTERFACE, MODEL_EXCHANGE, nullptr, "")                     \
    X(GetNumberOfEventIndicators, NO_MODE, NO_INTERFACE, MODEL_EXCHANGE, nullptr, "")                        \
    X(GetNumberOfContinuousStates, NO_MODE, NO_INTERFACE, MODEL_EXCHANGE, nullptr, "")

// The typed accessors of the types that have no variable: anywhere.
#define KESTRUNE_FMI3_TYPED_ACCESS(X, Type)                                                                  \
    X(Get##Type, ANY_MODE, ANY_INTERFACE, nullptr, nullptr, "")                                              \
    X(Set##Type, ANY_MODE, ANY_INTERFACE, nullptr, nullptr, "")

// Each function that takes an instance, named as fmi3<Name> without the
// prefix.
enum class Call : std::uint8_t {
#define KESTRUNE_CALL_NAME(Name, ...) Name,
    KESTRUNE_FMI3_CALLS(KESTRUNE_CALL_NAME)
#undef KESTRUNE_CALL_NAME
};

struct CallRule {
    const char *function;
    std::uint8_t modes;      // modeBit of each mode that allows it
    std::uint8_t interfaces; // the interfaces that offer it
    const char *interfaceRefusal;
    const char *modeRefusal; // null: "not allowed in <mode>" and the hint
    const char *modeHint;
};

inline constexpr CallRule CALL_RULES[] = {
#define KESTRUNE_CALL_RULE(Name, modes, interfaces, interfaceRefusal, modeRefusal, hint)                     \
    {"fmi3" #Name, modes, interfaces, interfaceRefusal, modeRefusal, hint},
    KESTRUNE_FMI3_CALLS(KESTRUNE_CALL_RULE)
#undef KESTRUNE_CALL_RULE
};

inline constexpr const CallRule &ruleOf(Call call) {
    return CALL_RULES[static_cast<std::size_t>(call)];
}

// Logs why the instance refuses the call; always fmi3Error.
fmi3Status refuseCall(const Instance *instance, Call call);

// Whether the instance's interface and mode allow the call; logs the
// refusal when not.
[[gnu::always_inline]] inline bool admits(const Instance *instance, Call call) {
    const CallRule &rule = ruleOf(call);
    if (rule.modes == ANY_MODE && rule.interfaces == ANY_INTERFACE) {
        return true;
    }
    const std::uint8_t madeFor = instance->schedule.active ? SCHEDULED_EXECUTION : CO_SIMULATION;
    if ((rule.interfaces & madeFor) != 0U && (rule.modes & modeBit(instance->mode)) != 0U) {
        return true;
    }
    refuseCall(instance, call);
    return false;
}

// The prologue of every function that takes an instance: the live instance
// behind handle when the call is allowed in its interface and mode, or null
// (after a message when the instance is live). Inlined, so that the rule of
// each call is a constant and a check that every mode passes costs nothing.
[[gnu::always_inline]] inline Instance *enterCall(fmi3Instance handle, Call call) {
    Instance *instance = liveInstance(handle);
    if (instance == nullptr || !admits(instance, call)) {
        return nullptr;
    }
    return instance;
}

} // namespace kestrune::fmi3
