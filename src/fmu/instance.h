// The FMI side of one instance, the library-wide model every instance
// drives, the pointer to the newest instance, and the logger convention every
// exported function reports through.
#pragma once

#include "fmu/fmi2.h"
#include "identity.h"

#include <cstdint>

namespace kestrune {

struct Model;

inline constexpr int REAL_VARIABLE_COUNT = 21;
inline constexpr int OUTPUT_COUNT = 12;
inline constexpr int FIRST_OUTPUT_VR = 7;

// Allocated zero-filled by fmi2Instantiate, released by fmi2FreeInstance. It
// holds the master's side of the instance and only points at the library's
// model.
struct Fmu2Instance {
    Model *model;
    char *instanceName;
    fmi2Type fmuType;
    char *fmuGUID;
    char *resourcePath;
    const fmi2CallbackFunctions *functions;
    fmi2Boolean visible;
    fmi2Boolean loggingOn;
    double time;
    double **realVariables; // REAL_VARIABLE_COUNT addresses, indexed by value reference
    double *outputSnapshot; // OUTPUT_COUNT outputs of the last output phase
    // Room for the variable tables of the other types; this unit has none.
    int **integerVariables;
    char **booleanVariables;
    char **stringVariables;
    int *stringCapacities;
    // The live instance created before this one, or null: the live instances
    // form a list from currentInstance, newest first.
    Fmu2Instance *olderInstance;
    // Bit k is set once the master has written input k (value reference k)
    // since instantiation or the last reset; model initialization keeps
    // those inputs.
    std::uint32_t writtenInputs;
    // Base steps whose additions built time since it last took the master's
    // communication point; the step checks allow for their rounding.
    int lastStepCount;
};

// The one model of this library, which every instance drives: one usable
// instance at a time.
extern Model libraryModel;

// The most recently created instance that is still alive, or null. The
// model publishes every step's outputs into its snapshot.
extern Fmu2Instance *currentInstance;

// The live instance that c names, or null for a null component and for one
// that is not (or no longer) a live instance of this library, such as an
// instance already freed. Every exported function that takes a component
// looks it up here first and answers anything else with fmi2Error, without a
// message and without touching it.
Fmu2Instance *liveInstance(fmi2Component c);

// One logger call per message: (fmi2OK, "info") or (fmi2Error, "error").
template <typename... Args>
void logAs(const fmi2CallbackFunctions *functions, const char *name, fmi2Status status, const char *format,
           Args... args) {
    functions->logger(functions->componentEnvironment, name, status, status == fmi2OK ? "info" : "error",
                      format, args...);
}

template <typename... Args> void logError(const Fmu2Instance *instance, const char *format, Args... args) {
    logAs(instance->functions, instance->instanceName, fmi2Error, format, args...);
}

template <typename... Args> void logInfo(const Fmu2Instance *instance, const char *format, Args... args) {
    logAs(instance->functions, instance->instanceName, fmi2OK, format, args...);
}

// Points the 21 entries of the instance's table at their variables.
void fillRealVariableTable(Fmu2Instance *instance);

} // namespace kestrune
