/* FMI 2.0 declarations: the platform types, the callback record, the status
 * enumerations and the 44 functions of the standard's C interface, written
 * from the published FMI 2.0 standard. Both the unit and our own master
 * include this one header. */
#ifndef KESTRUNE_FMI2_H
#define KESTRUNE_FMI2_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Only these functions leave the shared library; everything else is hidden. */
#if defined(_WIN32)
#define FMI2_EXPORT __declspec(dllexport)
#else
#define FMI2_EXPORT __attribute__((visibility("default")))
#endif

/* Platform types ("default" platform). */
typedef void *fmi2Component;
typedef void *fmi2ComponentEnvironment;
typedef void *fmi2FMUstate;
typedef unsigned int fmi2ValueReference;
typedef double fmi2Real;
typedef int fmi2Integer;
typedef int fmi2Boolean;
typedef char fmi2Char;
typedef const fmi2Char *fmi2String;
typedef char fmi2Byte;

#define fmi2True 1
#define fmi2False 0

#define fmi2TypesPlatform "default"
#define fmi2Version "2.0"

/* A master or a unit may pass any int where these enumerations are expected.
 * C lets an enumeration hold any value of its integer type; C++ lets one
 * without a fixed type hold only the values its enumerators' bits span, and
 * loading another is undefined. C++ therefore declares them with int as their
 * fixed type, which has every int as a value and the same size and calling
 * convention as the C declarations. */
#ifdef __cplusplus
typedef enum : int { fmi2OK, fmi2Warning, fmi2Discard, fmi2Error, fmi2Fatal, fmi2Pending } fmi2Status;
typedef enum : int { fmi2ModelExchange, fmi2CoSimulation } fmi2Type;
typedef enum : int {
    fmi2DoStepStatus,
    fmi2PendingStatus,
    fmi2LastSuccessfulTime,
    fmi2Terminated
} fmi2StatusKind;
#else
typedef enum { fmi2OK, fmi2Warning, fmi2Discard, fmi2Error, fmi2Fatal, fmi2Pending } fmi2Status;
typedef enum { fmi2ModelExchange, fmi2CoSimulation } fmi2Type;
typedef enum { fmi2DoStepStatus, fmi2PendingStatus, fmi2LastSuccessfulTime, fmi2Terminated } fmi2StatusKind;
#endif

typedef void (*fmi2CallbackLogger)(fmi2ComponentEnvironment componentEnvironment, fmi2String instanceName,
                                   fmi2Status status, fmi2String category, fmi2String message, ...);
typedef void *(*fmi2CallbackAllocateMemory)(size_t nobj, size_t size);
typedef void (*fmi2CallbackFreeMemory)(void *obj);
typedef void (*fmi2StepFinished)(fmi2ComponentEnvironment componentEnvironment, fmi2Status status);

typedef struct {
    fmi2CallbackLogger logger;
    fmi2CallbackAllocateMemory allocateMemory;
    fmi2CallbackFreeMemory freeMemory;
    fmi2StepFinished stepFinished;
    fmi2ComponentEnvironment componentEnvironment;
} fmi2CallbackFunctions;

typedef struct {
    fmi2Boolean newDiscreteStatesNeeded;
    fmi2Boolean terminateSimulation;
    fmi2Boolean nominalsOfContinuousStatesChanged;
    fmi2Boolean valuesOfContinuousStatesChanged;
    fmi2Boolean nextEventTimeDefined;
    fmi2Real nextEventTime;
} fmi2EventInfo;

/* Function types, so that a master can hold typed pointers to what it resolves. */

/* Inquiry, logging and lifecycle */
typedef const char *fmi2GetTypesPlatformTYPE(void);
typedef const char *fmi2GetVersionTYPE(void);
typedef fmi2Status fmi2SetDebugLoggingTYPE(fmi2Component c, fmi2Boolean loggingOn, size_t nCategories,
                                           const fmi2String categories[]);
typedef fmi2Component fmi2InstantiateTYPE(fmi2String instanceName, fmi2Type fmuType, fmi2String fmuGUID,
                                          fmi2String fmuResourceLocation,
                                          const fmi2CallbackFunctions *functions, fmi2Boolean visible,
                                          fmi2Boolean loggingOn);
typedef void fmi2FreeInstanceTYPE(fmi2Component c);
typedef fmi2Status fmi2SetupExperimentTYPE(fmi2Component c, fmi2Boolean toleranceDefined, fmi2Real tolerance,
                                           fmi2Real startTime, fmi2Boolean stopTimeDefined,
                                           fmi2Real stopTime);
typedef fmi2Status fmi2EnterInitializationModeTYPE(fmi2Component c);
typedef fmi2Status fmi2ExitInitializationModeTYPE(fmi2Component c);
typedef fmi2Status fmi2TerminateTYPE(fmi2Component c);
typedef fmi2Status fmi2ResetTYPE(fmi2Component c);

/* Variable access */
typedef fmi2Status fmi2GetRealTYPE(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                   fmi2Real value[]);
typedef fmi2Status fmi2GetIntegerTYPE(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                      fmi2Integer value[]);
typedef fmi2Status fmi2GetBooleanTYPE(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                      fmi2Boolean value[]);
typedef fmi2Status fmi2GetStringTYPE(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                     fmi2String value[]);
typedef fmi2Status fmi2SetRealTYPE(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                   const fmi2Real value[]);
typedef fmi2Status fmi2SetIntegerTYPE(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                      const fmi2Integer value[]);
typedef fmi2Status fmi2SetBooleanTYPE(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                      const fmi2Boolean value[]);
typedef fmi2Status fmi2SetStringTYPE(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                     const fmi2String value[]);

/* FMU state and directional derivatives */
typedef fmi2Status fmi2GetFMUstateTYPE(fmi2Component c, fmi2FMUstate *FMUstate);
typedef fmi2Status fmi2SetFMUstateTYPE(fmi2Component c, fmi2FMUstate FMUstate);
typedef fmi2Status fmi2FreeFMUstateTYPE(fmi2Component c, fmi2FMUstate *FMUstate);
typedef fmi2Status fmi2SerializedFMUstateSizeTYPE(fmi2Component c, fmi2FMUstate FMUstate, size_t *size);
typedef fmi2Status fmi2SerializeFMUstateTYPE(fmi2Component c, fmi2FMUstate FMUstate,
                                             fmi2Byte serializedState[], size_t size);
typedef fmi2Status fmi2DeSerializeFMUstateTYPE(fmi2Component c, const fmi2Byte serializedState[], size_t size,
                                               fmi2FMUstate *FMUstate);
typedef fmi2Status fmi2GetDirectionalDerivativeTYPE(fmi2Component c, const fmi2ValueReference vUnknown_ref[],
                                                    size_t nUnknown, const fmi2ValueReference vKnown_ref[],
                                                    size_t nKnown, const fmi2Real dvKnown[],
                                                    fmi2Real dvUnknown[]);

/* Model exchange */
typedef fmi2Status fmi2EnterEventModeTYPE(fmi2Component c);
typedef fmi2Status fmi2NewDiscreteStatesTYPE(fmi2Component c, fmi2EventInfo *fmi2eventInfo);
typedef fmi2Status fmi2EnterContinuousTimeModeTYPE(fmi2Component c);
typedef fmi2Status fmi2CompletedIntegratorStepTYPE(fmi2Component c,
                                                   fmi2Boolean noSetFMUStatePriorToCurrentPoint,
                                                   fmi2Boolean *enterEventMode,
                                                   fmi2Boolean *terminateSimulation);
typedef fmi2Status fmi2SetTimeTYPE(fmi2Component c, fmi2Real time);
typedef fmi2Status fmi2SetContinuousStatesTYPE(fmi2Component c, const fmi2Real x[], size_t nx);
typedef fmi2Status fmi2GetDerivativesTYPE(fmi2Component c, fmi2Real derivatives[], size_t nx);
typedef fmi2Status fmi2GetEventIndicatorsTYPE(fmi2Component c, fmi2Real eventIndicators[], size_t ni);
typedef fmi2Status fmi2GetContinuousStatesTYPE(fmi2Component c, fmi2Real x[], size_t nx);
typedef fmi2Status fmi2GetNominalsOfContinuousStatesTYPE(fmi2Component c, fmi2Real x_nominal[], size_t nx);

/* Co-simulation */
typedef fmi2Status fmi2SetRealInputDerivativesTYPE(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                                   const fmi2Integer order[], const fmi2Real value[]);
typedef fmi2Status fmi2GetRealOutputDerivativesTYPE(fmi2Component c, const fmi2ValueReference vr[],
                                                    size_t nvr, const fmi2Integer order[], fmi2Real value[]);
typedef fmi2Status fmi2DoStepTYPE(fmi2Component c, fmi2Real currentCommunicationPoint,
                                  fmi2Real communicationStepSize,
                                  fmi2Boolean noSetFMUStatePriorToCurrentPoint);
typedef fmi2Status fmi2CancelStepTYPE(fmi2Component c);
typedef fmi2Status fmi2GetStatusTYPE(fmi2Component c, const fmi2StatusKind s, fmi2Status *value);
typedef fmi2Status fmi2GetRealStatusTYPE(fmi2Component c, const fmi2StatusKind s, fmi2Real *value);
typedef fmi2Status fmi2GetIntegerStatusTYPE(fmi2Component c, const fmi2StatusKind s, fmi2Integer *value);
typedef fmi2Status fmi2GetBooleanStatusTYPE(fmi2Component c, const fmi2StatusKind s, fmi2Boolean *value);
typedef fmi2Status fmi2GetStringStatusTYPE(fmi2Component c, const fmi2StatusKind s, fmi2String *value);

/* The 44 exported functions. */
FMI2_EXPORT fmi2GetTypesPlatformTYPE fmi2GetTypesPlatform;
FMI2_EXPORT fmi2GetVersionTYPE fmi2GetVersion;
FMI2_EXPORT fmi2SetDebugLoggingTYPE fmi2SetDebugLogging;
FMI2_EXPORT fmi2InstantiateTYPE fmi2Instantiate;
FMI2_EXPORT fmi2FreeInstanceTYPE fmi2FreeInstance;
FMI2_EXPORT fmi2SetupExperimentTYPE fmi2SetupExperiment;
FMI2_EXPORT fmi2EnterInitializationModeTYPE fmi2EnterInitializationMode;
FMI2_EXPORT fmi2ExitInitializationModeTYPE fmi2ExitInitializationMode;
FMI2_EXPORT fmi2TerminateTYPE fmi2Terminate;
FMI2_EXPORT fmi2ResetTYPE fmi2Reset;
FMI2_EXPORT fmi2GetRealTYPE fmi2GetReal;
FMI2_EXPORT fmi2GetIntegerTYPE fmi2GetInteger;
FMI2_EXPORT fmi2GetBooleanTYPE fmi2GetBoolean;
FMI2_EXPORT fmi2GetStringTYPE fmi2GetString;
FMI2_EXPORT fmi2SetRealTYPE fmi2SetReal;
FMI2_EXPORT fmi2SetIntegerTYPE fmi2SetInteger;
FMI2_EXPORT fmi2SetBooleanTYPE fmi2SetBoolean;
FMI2_EXPORT fmi2SetStringTYPE fmi2SetString;
FMI2_EXPORT fmi2GetFMUstateTYPE fmi2GetFMUstate;
FMI2_EXPORT fmi2SetFMUstateTYPE fmi2SetFMUstate;
FMI2_EXPORT fmi2FreeFMUstateTYPE fmi2FreeFMUstate;
FMI2_EXPORT fmi2SerializedFMUstateSizeTYPE fmi2SerializedFMUstateSize;
FMI2_EXPORT fmi2SerializeFMUstateTYPE fmi2SerializeFMUstate;
FMI2_EXPORT fmi2DeSerializeFMUstateTYPE fmi2DeSerializeFMUstate;
FMI2_EXPORT fmi2GetDirectionalDerivativeTYPE fmi2GetDirectionalDerivative;
FMI2_EXPORT fmi2EnterEventModeTYPE fmi2EnterEventMode;
FMI2_EXPORT fmi2NewDiscreteStatesTYPE fmi2NewDiscreteStates;
FMI2_EXPORT fmi2EnterContinuousTimeModeTYPE fmi2EnterContinuousTimeMode;
FMI2_EXPORT fmi2CompletedIntegratorStepTYPE fmi2CompletedIntegratorStep;
FMI2_EXPORT fmi2SetTimeTYPE fmi2SetTime;
FMI2_EXPORT fmi2SetContinuousStatesTYPE fmi2SetContinuousStates;
FMI2_EXPORT fmi2GetDerivativesTYPE fmi2GetDerivatives;
FMI2_EXPORT fmi2GetEventIndicatorsTYPE fmi2GetEventIndicators;
FMI2_EXPORT fmi2GetContinuousStatesTYPE fmi2GetContinuousStates;
FMI2_EXPORT fmi2GetNominalsOfContinuousStatesTYPE fmi2GetNominalsOfContinuousStates;
FMI2_EXPORT fmi2SetRealInputDerivativesTYPE fmi2SetRealInputDerivatives;
FMI2_EXPORT fmi2GetRealOutputDerivativesTYPE fmi2GetRealOutputDerivatives;
FMI2_EXPORT fmi2DoStepTYPE fmi2DoStep;
FMI2_EXPORT fmi2CancelStepTYPE fmi2CancelStep;
FMI2_EXPORT fmi2GetStatusTYPE fmi2GetStatus;
FMI2_EXPORT fmi2GetRealStatusTYPE fmi2GetRealStatus;
FMI2_EXPORT fmi2GetIntegerStatusTYPE fmi2GetIntegerStatus;
FMI2_EXPORT fmi2GetBooleanStatusTYPE fmi2GetBooleanStatus;
FMI2_EXPORT fmi2GetStringStatusTYPE fmi2GetStringStatus;

#ifdef __cplusplus
}
#endif

#endif
