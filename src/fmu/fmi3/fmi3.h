/* FMI 3.0 declarations: the platform types, the status and qualifier
 * enumerations, the callbacks and the 75 functions of the standard's C
 * interface, written from the published FMI 3.0 standard. The FMI 3.0 edition
 * of the unit and our own master include this one header. */
#ifndef KESTRUNE_FMI3_H
#define KESTRUNE_FMI3_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Only these functions leave the shared library; everything else is hidden. */
#if defined(_WIN32)
#define FMI3_EXPORT __declspec(dllexport)
#else
#define FMI3_EXPORT __attribute__((visibility("default")))
#endif

#define fmi3Version "3.0"

/* Platform types. */
typedef void *fmi3Instance;
typedef void *fmi3InstanceEnvironment;
typedef void *fmi3FMUState;
typedef uint32_t fmi3ValueReference;
typedef float fmi3Float32;
typedef double fmi3Float64;
typedef int8_t fmi3Int8;
typedef uint8_t fmi3UInt8;
typedef int16_t fmi3Int16;
typedef uint16_t fmi3UInt16;
typedef int32_t fmi3Int32;
typedef uint32_t fmi3UInt32;
typedef int64_t fmi3Int64;
typedef uint64_t fmi3UInt64;
typedef bool fmi3Boolean;
typedef char fmi3Char;
typedef const fmi3Char *fmi3String;
typedef uint8_t fmi3Byte;
typedef const fmi3Byte *fmi3Binary;
typedef bool fmi3Clock;

#define fmi3True true
#define fmi3False false
#define fmi3ClockActive true
#define fmi3ClockInactive false

/* As in the FMI 2.0 header: C++ gives the enumerations int as their fixed
 * type, so that any int a master passes is a value of the type. */
#ifdef __cplusplus
typedef enum : int { fmi3OK, fmi3Warning, fmi3Discard, fmi3Error, fmi3Fatal } fmi3Status;
typedef enum : int {
    fmi3Independent,
    fmi3Constant,
    fmi3Fixed,
    fmi3Tunable,
    fmi3Discrete,
    fmi3Dependent
} fmi3DependencyKind;
typedef enum : int {
    fmi3IntervalNotYetKnown,
    fmi3IntervalUnchanged,
    fmi3IntervalChanged
} fmi3IntervalQualifier;
#else
typedef enum { fmi3OK, fmi3Warning, fmi3Discard, fmi3Error, fmi3Fatal } fmi3Status;
typedef enum {
    fmi3Independent,
    fmi3Constant,
    fmi3Fixed,
    fmi3Tunable,
    fmi3Discrete,
    fmi3Dependent
} fmi3DependencyKind;
typedef enum { fmi3IntervalNotYetKnown, fmi3IntervalUnchanged, fmi3IntervalChanged } fmi3IntervalQualifier;
#endif

/* Callbacks. */
typedef void (*fmi3LogMessageCallback)(fmi3InstanceEnvironment instanceEnvironment, fmi3Status status,
                                       fmi3String category, fmi3String message);
typedef void (*fmi3ClockUpdateCallback)(fmi3InstanceEnvironment instanceEnvironment);
typedef void (*fmi3IntermediateUpdateCallback)(fmi3InstanceEnvironment instanceEnvironment,
                                               fmi3Float64 intermediateUpdateTime,
                                               fmi3Boolean intermediateVariableSetRequested,
                                               fmi3Boolean intermediateVariableGetAllowed,
                                               fmi3Boolean intermediateStepFinished,
                                               fmi3Boolean canReturnEarly, fmi3Boolean *earlyReturnRequested,
                                               fmi3Float64 *earlyReturnTime);
typedef void (*fmi3LockPreemptionCallback)(void);
typedef void (*fmi3UnlockPreemptionCallback)(void);

/* Function types, so that a master can hold typed pointers to what it resolves. */

/* Inquiry, logging and lifecycle */
typedef const char *fmi3GetVersionTYPE(void);
typedef fmi3Status fmi3SetDebugLoggingTYPE(fmi3Instance instance, fmi3Boolean loggingOn, size_t nCategories,
                                           const fmi3String categories[]);
typedef fmi3Instance fmi3InstantiateModelExchangeTYPE(fmi3String instanceName, fmi3String instantiationToken,
                                                      fmi3String resourcePath, fmi3Boolean visible,
                                                      fmi3Boolean loggingOn,
                                                      fmi3InstanceEnvironment instanceEnvironment,
                                                      fmi3LogMessageCallback logMessage);
typedef fmi3Instance fmi3InstantiateCoSimulationTYPE(
    fmi3String instanceName, fmi3String instantiationToken, fmi3String resourcePath, fmi3Boolean visible,
    fmi3Boolean loggingOn, fmi3Boolean eventModeUsed, fmi3Boolean earlyReturnAllowed,
    const fmi3ValueReference requiredIntermediateVariables[], size_t nRequiredIntermediateVariables,
    fmi3InstanceEnvironment instanceEnvironment, fmi3LogMessageCallback logMessage,
    fmi3IntermediateUpdateCallback intermediateUpdate);
typedef fmi3Instance fmi3InstantiateScheduledExecutionTYPE(
    fmi3String instanceName, fmi3String instantiationToken, fmi3String resourcePath, fmi3Boolean visible,
    fmi3Boolean loggingOn, fmi3InstanceEnvironment instanceEnvironment, fmi3LogMessageCallback logMessage,
    fmi3ClockUpdateCallback clockUpdate, fmi3LockPreemptionCallback lockPreemption,
    fmi3UnlockPreemptionCallback unlockPreemption);
typedef void fmi3FreeInstanceTYPE(fmi3Instance instance);
typedef fmi3Status fmi3EnterInitializationModeTYPE(fmi3Instance instance, fmi3Boolean toleranceDefined,
                                                   fmi3Float64 tolerance, fmi3Float64 startTime,
                                                   fmi3Boolean stopTimeDefined, fmi3Float64 stopTime);
typedef fmi3Status fmi3ExitInitializationModeTYPE(fmi3Instance instance);
typedef fmi3Status fmi3EnterEventModeTYPE(fmi3Instance instance);
typedef fmi3Status fmi3TerminateTYPE(fmi3Instance instance);
typedef fmi3Status fmi3ResetTYPE(fmi3Instance instance);

/* Variable access: one getter and one setter per type. */
#define KESTRUNE_FMI3_ACCESS_TYPES(Name, Type)                                                               \
    typedef fmi3Status fmi3Get##Name##TYPE(fmi3Instance instance,                                            \
                                           const fmi3ValueReference valueReferences[],                       \
                                           size_t nValueReferences, Type values[], size_t nValues);          \
    typedef fmi3Status fmi3Set##Name##TYPE(fmi3Instance instance,                                            \
                                           const fmi3ValueReference valueReferences[],                       \
                                           size_t nValueReferences, const Type values[], size_t nValues);
KESTRUNE_FMI3_ACCESS_TYPES(Float32, fmi3Float32)
KESTRUNE_FMI3_ACCESS_TYPES(Float64, fmi3Float64)
KESTRUNE_FMI3_ACCESS_TYPES(Int8, fmi3Int8)
KESTRUNE_FMI3_ACCESS_TYPES(UInt8, fmi3UInt8)
KESTRUNE_FMI3_ACCESS_TYPES(Int16, fmi3Int16)
KESTRUNE_FMI3_ACCESS_TYPES(UInt16, fmi3UInt16)
KESTRUNE_FMI3_ACCESS_TYPES(Int32, fmi3Int32)
KESTRUNE_FMI3_ACCESS_TYPES(UInt32, fmi3UInt32)
KESTRUNE_FMI3_ACCESS_TYPES(Int64, fmi3Int64)
KESTRUNE_FMI3_ACCESS_TYPES(UInt64, fmi3UInt64)
KESTRUNE_FMI3_ACCESS_TYPES(Boolean, fmi3Boolean)
KESTRUNE_FMI3_ACCESS_TYPES(String, fmi3String)
#undef KESTRUNE_FMI3_ACCESS_TYPES
typedef fmi3Status fmi3GetBinaryTYPE(fmi3Instance instance, const fmi3ValueReference valueReferences[],
                                     size_t nValueReferences, size_t valueSizes[], fmi3Binary values[],
                                     size_t nValues);
typedef fmi3Status fmi3SetBinaryTYPE(fmi3Instance instance, const fmi3ValueReference valueReferences[],
                                     size_t nValueReferences, const size_t valueSizes[],
                                     const fmi3Binary values[], size_t nValues);
typedef fmi3Status fmi3GetClockTYPE(fmi3Instance instance, const fmi3ValueReference valueReferences[],
                                    size_t nValueReferences, fmi3Clock values[]);
typedef fmi3Status fmi3SetClockTYPE(fmi3Instance instance, const fmi3ValueReference valueReferences[],
                                    size_t nValueReferences, const fmi3Clock values[]);

/* Variable dependencies */
typedef fmi3Status fmi3GetNumberOfVariableDependenciesTYPE(fmi3Instance instance,
                                                           fmi3ValueReference valueReference,
                                                           size_t *nDependencies);
typedef fmi3Status fmi3GetVariableDependenciesTYPE(fmi3Instance instance, fmi3ValueReference dependent,
                                                   size_t elementIndicesOfDependent[],
                                                   fmi3ValueReference independents[],
                                                   size_t elementIndicesOfIndependents[],
                                                   fmi3DependencyKind dependencyKinds[],
                                                   size_t nDependencies);

/* FMU state */
typedef fmi3Status fmi3GetFMUStateTYPE(fmi3Instance instance, fmi3FMUState *FMUState);
typedef fmi3Status fmi3SetFMUStateTYPE(fmi3Instance instance, fmi3FMUState FMUState);
typedef fmi3Status fmi3FreeFMUStateTYPE(fmi3Instance instance, fmi3FMUState *FMUState);
typedef fmi3Status fmi3SerializedFMUStateSizeTYPE(fmi3Instance instance, fmi3FMUState FMUState, size_t *size);
typedef fmi3Status fmi3SerializeFMUStateTYPE(fmi3Instance instance, fmi3FMUState FMUState,
                                             fmi3Byte serializedState[], size_t size);
typedef fmi3Status fmi3DeserializeFMUStateTYPE(fmi3Instance instance, const fmi3Byte serializedState[],
                                               size_t size, fmi3FMUState *FMUState);

/* Partial derivatives */
typedef fmi3Status fmi3GetDirectionalDerivativeTYPE(fmi3Instance instance,
                                                    const fmi3ValueReference unknowns[], size_t nUnknowns,
                                                    const fmi3ValueReference knowns[], size_t nKnowns,
                                                    const fmi3Float64 seed[], size_t nSeed,
                                                    fmi3Float64 sensitivity[], size_t nSensitivity);
typedef fmi3Status fmi3GetAdjointDerivativeTYPE(fmi3Instance instance, const fmi3ValueReference unknowns[],
                                                size_t nUnknowns, const fmi3ValueReference knowns[],
                                                size_t nKnowns, const fmi3Float64 seed[], size_t nSeed,
                                                fmi3Float64 sensitivity[], size_t nSensitivity);

/* Configuration mode and clocks */
typedef fmi3Status fmi3EnterConfigurationModeTYPE(fmi3Instance instance);
typedef fmi3Status fmi3ExitConfigurationModeTYPE(fmi3Instance instance);
typedef fmi3Status fmi3GetIntervalDecimalTYPE(fmi3Instance instance,
                                              const fmi3ValueReference valueReferences[],
                                              size_t nValueReferences, fmi3Float64 intervals[],
                                              fmi3IntervalQualifier qualifiers[]);
typedef fmi3Status fmi3GetIntervalFractionTYPE(fmi3Instance instance,
                                               const fmi3ValueReference valueReferences[],
                                               size_t nValueReferences, fmi3UInt64 counters[],
                                               fmi3UInt64 resolutions[], fmi3IntervalQualifier qualifiers[]);
typedef fmi3Status fmi3GetShiftDecimalTYPE(fmi3Instance instance, const fmi3ValueReference valueReferences[],
                                           size_t nValueReferences, fmi3Float64 shifts[]);
typedef fmi3Status fmi3GetShiftFractionTYPE(fmi3Instance instance, const fmi3ValueReference valueReferences[],
                                            size_t nValueReferences, fmi3UInt64 counters[],
                                            fmi3UInt64 resolutions[]);
typedef fmi3Status fmi3SetIntervalDecimalTYPE(fmi3Instance instance,
                                              const fmi3ValueReference valueReferences[],
                                              size_t nValueReferences, const fmi3Float64 intervals[]);
typedef fmi3Status fmi3SetIntervalFractionTYPE(fmi3Instance instance,
                                               const fmi3ValueReference valueReferences[],
                                               size_t nValueReferences, const fmi3UInt64 counters[],
                                               const fmi3UInt64 resolutions[]);
typedef fmi3Status fmi3SetShiftDecimalTYPE(fmi3Instance instance, const fmi3ValueReference valueReferences[],
                                           size_t nValueReferences, const fmi3Float64 shifts[]);
typedef fmi3Status fmi3SetShiftFractionTYPE(fmi3Instance instance, const fmi3ValueReference valueReferences[],
                                            size_t nValueReferences, const fmi3UInt64 counters[],
                                            const fmi3UInt64 resolutions[]);
typedef fmi3Status fmi3EvaluateDiscreteStatesTYPE(fmi3Instance instance);
typedef fmi3Status fmi3UpdateDiscreteStatesTYPE(fmi3Instance instance, fmi3Boolean *discreteStatesNeedUpdate,
                                                fmi3Boolean *terminateSimulation,
                                                fmi3Boolean *nominalsOfContinuousStatesChanged,
                                                fmi3Boolean *valuesOfContinuousStatesChanged,
                                                fmi3Boolean *nextEventTimeDefined,
                                                fmi3Float64 *nextEventTime);

/* Model exchange */
typedef fmi3Status fmi3EnterContinuousTimeModeTYPE(fmi3Instance instance);
typedef fmi3Status fmi3CompletedIntegratorStepTYPE(fmi3Instance instance,
                                                   fmi3Boolean noSetFMUStatePriorToCurrentPoint,
                                                   fmi3Boolean *enterEventMode,
                                                   fmi3Boolean *terminateSimulation);
typedef fmi3Status fmi3SetTimeTYPE(fmi3Instance instance, fmi3Float64 time);
typedef fmi3Status fmi3SetContinuousStatesTYPE(fmi3Instance instance, const fmi3Float64 continuousStates[],
                                               size_t nContinuousStates);
typedef fmi3Status fmi3GetContinuousStateDerivativesTYPE(fmi3Instance instance, fmi3Float64 derivatives[],
                                                         size_t nContinuousStates);
typedef fmi3Status fmi3GetEventIndicatorsTYPE(fmi3Instance instance, fmi3Float64 eventIndicators[],
                                              size_t nEventIndicators);
typedef fmi3Status fmi3GetContinuousStatesTYPE(fmi3Instance instance, fmi3Float64 continuousStates[],
                                               size_t nContinuousStates);
typedef fmi3Status fmi3GetNominalsOfContinuousStatesTYPE(fmi3Instance instance, fmi3Float64 nominals[],
                                                         size_t nContinuousStates);
typedef fmi3Status fmi3GetNumberOfEventIndicatorsTYPE(fmi3Instance instance, size_t *nEventIndicators);
typedef fmi3Status fmi3GetNumberOfContinuousStatesTYPE(fmi3Instance instance, size_t *nContinuousStates);

/* Co-simulation */
typedef fmi3Status fmi3EnterStepModeTYPE(fmi3Instance instance);
typedef fmi3Status fmi3GetOutputDerivativesTYPE(fmi3Instance instance,
                                                const fmi3ValueReference valueReferences[],
                                                size_t nValueReferences, const fmi3Int32 orders[],
                                                fmi3Float64 values[], size_t nValues);
typedef fmi3Status fmi3DoStepTYPE(fmi3Instance instance, fmi3Float64 currentCommunicationPoint,
                                  fmi3Float64 communicationStepSize,
                                  fmi3Boolean noSetFMUStatePriorToCurrentPoint,
                                  fmi3Boolean *eventHandlingNeeded, fmi3Boolean *terminateSimulation,
                                  fmi3Boolean *earlyReturn, fmi3Float64 *lastSuccessfulTime);

/* Scheduled execution */
typedef fmi3Status fmi3ActivateModelPartitionTYPE(fmi3Instance instance, fmi3ValueReference clockReference,
                                                  fmi3Float64 activationTime);

/* The functions. The list is the X-macro below, so that the library, the
 * master's loader and the tests enumerate the same 75 names. */
#define KESTRUNE_FMI3_FUNCTIONS(X)                                                                           \
    X(GetVersion)                                                                                            \
    X(SetDebugLogging)                                                                                       \
    X(InstantiateModelExchange)                                                                              \
    X(InstantiateCoSimulation)                                                                               \
    X(InstantiateScheduledExecution)                                                                         \
    X(FreeInstance)                                                                                          \
    X(EnterInitializationMode)                                                                               \
    X(ExitInitializationMode)                                                                                \
    X(EnterEventMode)                                                                                        \
    X(Terminate)                                                                                             \
    X(Reset)                                                                                                 \
    X(GetFloat32)                                                                                            \
    X(GetFloat64)                                                                                            \
    X(GetInt8)                                                                                               \
    X(GetUInt8)                                                                                              \
    X(GetInt16)                                                                                              \
    X(GetUInt16)                                                                                             \
    X(GetInt32)                                                                                              \
    X(GetUInt32)                                                                                             \
    X(GetInt64)                                                                                              \
    X(GetUInt64)                                                                                             \
    X(GetBoolean)                                                                                            \
    X(GetString)                                                                                             \
    X(GetBinary)                                                                                             \
    X(GetClock)                                                                                              \
    X(SetFloat32)                                                                                            \
    X(SetFloat64)                                                                                            \
    X(SetInt8)                                                                                               \
    X(SetUInt8)                                                                                              \
    X(SetInt16)                                                                                              \
    X(SetUInt16)                                                                                             \
    X(SetInt32)                                                                                              \
    X(SetUInt32)                                                                                             \
    X(SetInt64)                                                                                              \
    X(SetUInt64)                                                                                             \
    X(SetBoolean)                                                                                            \
    X(SetString)                                                                                             \
    X(SetBinary)                                                                                             \
    X(SetClock)                                                                                              \
    X(GetNumberOfVariableDependencies)                                                                       \
    X(GetVariableDependencies)                                                                               \
    X(GetFMUState)                                                                                           \
    X(SetFMUState)                                                                                           \
    X(FreeFMUState)                                                                                          \
    X(SerializedFMUStateSize)                                                                                \
    X(SerializeFMUState)                                                                                     \
    X(DeserializeFMUState)                                                                                   \
    X(GetDirectionalDerivative)                                                                              \
    X(GetAdjointDerivative)                                                                                  \
    X(EnterConfigurationMode)                                                                                \
    X(ExitConfigurationMode)                                                                                 \
    X(GetIntervalDecimal)                                                                                    \
    X(GetIntervalFraction)                                                                                   \
    X(GetShiftDecimal)                                                                                       \
    X(GetShiftFraction)                                                                                      \
    X(SetIntervalDecimal)                                                                                    \
    X(SetIntervalFraction)                                                                                   \
    X(SetShiftDecimal)                                                                                       \
    X(SetShiftFraction)                                                                                      \
    X(EvaluateDiscreteStates)                                                                                \
    X(UpdateDiscreteStates)                                                                                  \
    X(EnterContinuousTimeMode)                                                                               \
    X(CompletedIntegratorStep)                                                                               \
    X(SetTime)                                                                                               \
    X(SetContinuousStates)                                                                                   \
    X(GetContinuousStateDerivatives)                                                                         \
    X(GetEventIndicators)                                                                                    \
    X(GetContinuousStates)                                                                                   \
    X(GetNominalsOfContinuousStates)                                                                         \
    X(GetNumberOfEventIndicators)                                                                            \
    X(GetNumberOfContinuousStates)                                                                           \
    X(EnterStepMode)                                                                                         \
    X(GetOutputDerivatives)                                                                                  \
    X(DoStep)                                                                                                \
    X(ActivateModelPartition)

#define KESTRUNE_FMI3_DECLARE(Name) FMI3_EXPORT fmi3##Name##TYPE fmi3##Name;
KESTRUNE_FMI3_FUNCTIONS(KESTRUNE_FMI3_DECLARE)
#undef KESTRUNE_FMI3_DECLARE

#ifdef __cplusplus
}
#endif

#endif /* KESTRUNE_FMI3_H */
