// One instance of the plant FMU: the master's side (name, callbacks,
// logging), the values of every variable and its own plant, built when
// initialization ends. Nothing is shared between instances.
#pragma once

#include "fmu/fmi2.h"
#include "instance_registry.h"
#include "plant_setup.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kestrune::plantfmu {

enum class Phase { Instantiated, Initialization, Stepping, Stopped, Terminated };

struct PlantInstance {
    std::string name;
    const fmi2CallbackFunctions *functions = nullptr;
    bool loggingOn = false;
    Phase phase = Phase::Instantiated;
    PlantValues values{};
    std::unique_ptr<plant::Plant> plant;
    bool parametersChanged = true; // since the plant was built
    bool gatesWritten = false;     // since instantiation or reset
    bool gatesPending = false;     // written since the plant last held them
    bool outputsCurrent = false;   // the output values are the plant's present ones
    // Communication steps taken: each may add its rounding to the master's
    // accumulated communication point.
    std::int64_t communicationSteps = 0;
    bool diverged = false; // stopped at a diverged base step
};

// Logging: errors (category "logStatusError") and discards
// ("logStatusDiscard") always, information ("logAll") while logging is on.
void logError(const PlantInstance *instance, const char *text);
void logDiscard(const PlantInstance *instance, const char *text);
void logInfo(const PlantInstance *instance, const char *text);

// Builds the plant from the parameters unless it is built from the present
// ones; the gates written so far are held. "" or why the parameters are
// refused.
std::string preparePlant(PlantInstance &instance);

// Holds the gates written since the plant last held them, then writes
// every output from the plant (0 for converters beyond its count) unless
// they are current.
void holdAndPublish(PlantInstance &instance);
void publishOutputs(PlantInstance &instance);

} // namespace kestrune::plantfmu
