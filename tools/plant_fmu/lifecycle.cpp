// Creating, initializing, terminating, resetting and freeing a plant
// instance. Every instance owns its values and its plant.
#include "plant_instance.h"

#include <cstring>
#include <memory>

using kestrune::plantfmu::Phase;
using kestrune::plantfmu::PlantInstance;

namespace {

// Back to the state of a new instance: the start values, no plant.
void startAfresh(PlantInstance &instance) {
    kestrune::plantfmu::setStartValues(instance.values);
    instance.plant.reset();
    instance.phase = Phase::Instantiated;
    instance.parametersChanged = true;
    instance.gatesWritten = false;
    instance.gatesPending = false;
    instance.communicationSteps = 0;
    instance.diverged = false;
}

} // namespace

extern "C" {

const char *fmi2GetTypesPlatform(void) {
    return fmi2TypesPlatform;
}

const char *fmi2GetVersion(void) {
    return fmi2Version;
}

fmi2Status fmi2SetDebugLogging(fmi2Component c, fmi2Boolean loggingOn, size_t, const fmi2String[]) {
    PlantInstance *instance = kestrune::plantfmu::liveInstance(c);
    if (instance == nullptr)
        return fmi2Error;
    instance->loggingOn = loggingOn != fmi2False;
    return fmi2OK;
}

fmi2Component fmi2Instantiate(fmi2String instanceName, fmi2Type fmuType, fmi2String fmuGUID, fmi2String,
                              const fmi2CallbackFunctions *functions, fmi2Boolean, fmi2Boolean loggingOn) {
    using namespace kestrune::plantfmu;
    if (functions == nullptr || functions->logger == nullptr)
        return nullptr;
    const bool named = instanceName != nullptr && instanceName[0] != '\0';
    const char *name = named ? instanceName : "?";
    auto refuse = [&](const char *text) -> fmi2Component {
        functions->logger(functions->componentEnvironment, name, fmi2Error, "logStatusError", "%s", text);
        return nullptr;
    };
    if (!named)
        return refuse("fmi2Instantiate: missing instance name");
    if (fmuType != fmi2CoSimulation)
        return refuse("fmi2Instantiate: the plant is a co-simulation FMU only");
    if (fmuGUID == nullptr || std::strcmp(fmuGUID, PLANT_GUID) != 0)
        return refuse("fmi2Instantiate: wrong GUID (this is the plant FMU, "
                      "{a96b6c46-cb40-4088-aef1-c441f0bc3cd9})");
    try {
        auto instance = std::make_unique<PlantInstance>();
        instance->name = name;
        instance->functions = functions;
        instance->loggingOn = loggingOn != fmi2False;
        startAfresh(*instance);
        const fmi2Component component = registerInstance(instance.get());
        if (component == nullptr)
            return refuse("fmi2Instantiate: too many live plant instances (at most 4096 in one process)");
        instance.release();
        return component;
    } catch (...) {
        return refuse("fmi2Instantiate: out of memory");
    }
}

// A component that names no live instance (null, freed before, foreign) is
// left alone.
void fmi2FreeInstance(fmi2Component c) {
    delete kestrune::plantfmu::retireInstance(c);
}

fmi2Status fmi2SetupExperiment(fmi2Component c, fmi2Boolean, fmi2Real, fmi2Real startTime, fmi2Boolean,
                               fmi2Real) {
    PlantInstance *instance = kestrune::plantfmu::liveInstance(c);
    if (instance == nullptr)
        return fmi2Error;
    if (instance->phase != Phase::Instantiated) {
        kestrune::plantfmu::logError(instance, "fmi2SetupExperiment: only before initialization");
        return fmi2Error;
    }
    if (startTime != 0.0) {
        kestrune::plantfmu::logError(instance, "fmi2SetupExperiment: the plant starts at t = 0 only");
        return fmi2Error;
    }
    return fmi2OK;
}

fmi2Status fmi2EnterInitializationMode(fmi2Component c) {
    PlantInstance *instance = kestrune::plantfmu::liveInstance(c);
    if (instance == nullptr)
        return fmi2Error;
    if (instance->phase != Phase::Instantiated) {
        kestrune::plantfmu::logError(instance,
                                     "fmi2EnterInitializationMode: the instance is already initialized");
        return fmi2Error;
    }
    instance->phase = Phase::Initialization;
    return fmi2OK;
}

// The parameters are checked and the plant built at t = 0.
fmi2Status fmi2ExitInitializationMode(fmi2Component c) {
    using namespace kestrune::plantfmu;
    PlantInstance *instance = liveInstance(c);
    if (instance == nullptr)
        return fmi2Error;
    if (instance->phase != Phase::Initialization) {
        logError(instance, "fmi2ExitInitializationMode: call fmi2EnterInitializationMode first");
        return fmi2Error;
    }
    try {
        if (std::string problem = preparePlant(*instance); !problem.empty()) {
            logError(instance, ("fmi2ExitInitializationMode: " + problem).c_str());
            return fmi2Error;
        }
    } catch (...) {
        instance->plant.reset();
        logError(instance, "fmi2ExitInitializationMode: out of memory");
        return fmi2Error;
    }
    instance->phase = Phase::Stepping;
    return fmi2OK;
}

fmi2Status fmi2Terminate(fmi2Component c) {
    PlantInstance *instance = kestrune::plantfmu::liveInstance(c);
    if (instance == nullptr)
        return fmi2Error;
    if (instance->phase != Phase::Stepping && instance->phase != Phase::Stopped) {
        kestrune::plantfmu::logError(instance, "fmi2Terminate: the instance is not initialized");
        return fmi2Error;
    }
    instance->phase = Phase::Terminated;
    return fmi2OK;
}

fmi2Status fmi2Reset(fmi2Component c) {
    PlantInstance *instance = kestrune::plantfmu::liveInstance(c);
    if (instance == nullptr)
        return fmi2Error;
    startAfresh(*instance);
    return fmi2OK;
}

} // extern "C"
