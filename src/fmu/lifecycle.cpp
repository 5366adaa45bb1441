// Creating, setting up, initializing, resetting and destroying an instance.
#include "children/child_host.h"
#include "fmu/instance.h"
#include "fmu/resource.h"
#include "fmu/shared_lifecycle.h"
#include "fmu/stepping.h"
#include "model/initialize.h"
#include "model/records.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kestrune {

Model libraryModel;
Fmu2Instance *currentInstance = nullptr;

namespace {

constexpr const char *MEMORY_ERROR = "fmi2Instantiate: Memory allocation error.";

// A model error other than the normal end of a simulation.
bool carriesError(const Model *model) {
    const char *text = model->record.errorStatus;
    return text != nullptr && std::strcmp(text, "Simulation finished") != 0;
}

// The model publishes each step's outputs into the newest instance's
// snapshot, or nowhere while no instance is alive.
void setCurrentInstance(Fmu2Instance *instance) {
    currentInstance = instance;
    libraryModel.outputSnapshot = instance != nullptr ? instance->outputSnapshot : nullptr;
}

// Terminates the hosted blocks after the model's error (if any) has been
// reported. The error went with the run that raised it: the model no longer
// carries it, so later instances start afresh.
void terminateReported(Model &model) {
    modelTerminate(model);
    model.record.errorStatus = nullptr;
}

void releaseInstance(Fmu2Instance *instance) {
    std::free(instance->instanceName);
    std::free(instance->fmuGUID);
    std::free(instance->resourcePath);
    std::free(instance->realVariables);
    std::free(instance->outputSnapshot);
    std::free(instance);
}

// Takes the instance out of the list of live instances; the newest one left
// becomes currentInstance when it was the newest.
void unlink(Fmu2Instance *instance) {
    if (currentInstance == instance) {
        setCurrentInstance(instance->olderInstance);
        return;
    }
    for (Fmu2Instance *newer = currentInstance; newer != nullptr; newer = newer->olderInstance) {
        if (newer->olderInstance == instance) {
            newer->olderInstance = instance->olderInstance;
            return;
        }
    }
}

// A record that instantiation gave up on is released, and the newest
// instance is again the one that was newest before.
fmi2Component abandon(Fmu2Instance *instance) {
    unlink(instance);
    releaseInstance(instance);
    return nullptr;
}

} // namespace

Fmu2Instance *liveInstance(fmi2Component c) {
    for (Fmu2Instance *instance = currentInstance; instance != nullptr; instance = instance->olderInstance) {
        if (instance == c) {
            return instance;
        }
    }
    return nullptr;
}

} // namespace kestrune

using kestrune::Fmu2Instance;

extern "C" {

const char *fmi2GetTypesPlatform(void) {
    return fmi2TypesPlatform;
}

const char *fmi2GetVersion(void) {
    return fmi2Version;
}

fmi2Status fmi2SetDebugLogging(fmi2Component c, fmi2Boolean loggingOn, size_t /*nCategories*/,
                               const fmi2String /*categories*/[]) {
    Fmu2Instance *instance = kestrune::liveInstance(c);
    if (instance == nullptr) {
        return fmi2Error;
    }
    instance->loggingOn = loggingOn;
    return fmi2OK;
}

fmi2Component fmi2Instantiate(fmi2String instanceName, fmi2Type fmuType, fmi2String fmuGUID,
                              fmi2String fmuResourceLocation, const fmi2CallbackFunctions *functions,
                              fmi2Boolean visible, fmi2Boolean loggingOn) {
    using namespace kestrune;
    if (functions == nullptr || functions->logger == nullptr) {
        return nullptr;
    }
    if (instanceName == nullptr || instanceName[0] == '\0') {
        logAs(functions, "?", fmi2Error, "fmi2Instantiate: Missing instance name.");
        return nullptr;
    }
    if (fmuGUID == nullptr || fmuGUID[0] == '\0') {
        logAs(functions, instanceName, fmi2Error, "fmi2Instantiate: Missing GUID.");
        return nullptr;
    }
    if (std::strcmp(fmuGUID, MODEL_GUID) != 0) {
        logAs(functions, instanceName, fmi2Error, "fmi2Instantiate: Wrong GUID %s. Expected %s.", fmuGUID,
              MODEL_GUID);
        return nullptr;
    }

    auto *instance = static_cast<Fmu2Instance *>(std::calloc(1, sizeof(Fmu2Instance)));
    if (instance == nullptr) {
        logAs(functions, instanceName, fmi2Error, MEMORY_ERROR);
        return nullptr;
    }
    instance->olderInstance = currentInstance;
    setCurrentInstance(instance);

    instance->model = &libraryModel;
    if (instance->model->record.errorStatus != nullptr) {
        logAs(functions, instanceName, fmi2Error, "Error during model registration: %s\n",
              instance->model->record.errorStatus);
        modelTerminate(*instance->model);
        return abandon(instance);
    }

    instance->instanceName = copyText(instanceName);
    if (instance->instanceName == nullptr) {
        logAs(functions, instanceName, fmi2Error, MEMORY_ERROR);
        return abandon(instance);
    }
    instance->fmuType = fmuType;
    instance->fmuGUID = copyText(fmuGUID);
    if (instance->fmuGUID == nullptr) {
        logAs(functions, instanceName, fmi2Error, MEMORY_ERROR);
        return abandon(instance);
    }

    if (fmuResourceLocation != nullptr) {
        instance->resourcePath = uriToLocal(fmuResourceLocation);
        if (instance->resourcePath == nullptr) {
            logAs(functions, instanceName, fmi2Error, MEMORY_ERROR);
            return abandon(instance);
        }
        if (instance->resourcePath[0] == '\0') {
            logAs(functions, instanceName, fmi2Error,
                  "fmi2Instantiate: uriToLocal cannot handle fmuResourceLocation.");
            return abandon(instance);
        }
    }

    instance->functions = functions;
    instance->visible = visible;
    instance->loggingOn = loggingOn;
    instance->time = 0.0;

    if (instance->model->record.stopRequested != 0U) {
        logAs(functions, instanceName, fmi2Error, "stop requested in fmi2Instantiate");
        return abandon(instance);
    }

    instance->realVariables = static_cast<double **>(std::calloc(REAL_VARIABLE_COUNT, sizeof(double *)));
    if (instance->realVariables == nullptr) {
        logAs(functions, instanceName, fmi2Error, MEMORY_ERROR);
        return abandon(instance);
    }
    instance->outputSnapshot = static_cast<double *>(std::calloc(OUTPUT_COUNT, sizeof(double)));
    if (instance->outputSnapshot == nullptr) {
        logAs(functions, instanceName, fmi2Error, MEMORY_ERROR);
        return abandon(instance);
    }
    fillRealVariableTable(instance);
    // Made current before its snapshot existed; now the model publishes there.
    setCurrentInstance(instance);
    return instance;
}

void fmi2FreeInstance(fmi2Component c) {
    using namespace kestrune;
    // A component freed before (or never made here) is left alone.
    Fmu2Instance *instance = liveInstance(c);
    if (instance == nullptr) {
        return;
    }
    if (carriesError(instance->model)) {
        logError(instance, "%s", instance->model->record.errorStatus);
    }
    terminateReported(*instance->model);
    unlink(instance);
    releaseInstance(instance);
}

fmi2Status fmi2SetupExperiment(fmi2Component c, fmi2Boolean /*toleranceDefined*/, fmi2Real /*tolerance*/,
                               fmi2Real startTime, fmi2Boolean /*stopTimeDefined*/, fmi2Real /*stopTime*/) {
    using namespace kestrune;
    Fmu2Instance *instance = liveInstance(c);
    if (instance == nullptr) {
        return fmi2Error;
    }
    if (!acceptsStartTime(startTime)) {
        logError(instance, "start time is not zero.");
        return fmi2Error;
    }
    instance->time = startTime;
    return fmi2OK;
}

fmi2Status fmi2EnterInitializationMode(fmi2Component c) {
    using namespace kestrune;
    Fmu2Instance *instance = liveInstance(c);
    if (instance == nullptr) {
        return fmi2Error;
    }
    Model &model = *instance->model;
    initializeKeepingInputs(model, instance->writtenInputs);
    // A hosted block that failed to start leaves its message in the model;
    // it is reported here and stays there for fmi2Reset and fmi2FreeInstance.
    if (model.record.childrenStarted == 0U) {
        const char *text = model.record.errorStatus;
        logError(instance, "%s", text != nullptr ? text : "Model initialization failed.");
        return fmi2Error;
    }
    return fmi2OK;
}

fmi2Status fmi2ExitInitializationMode(fmi2Component c) {
    using namespace kestrune;
    Fmu2Instance *instance = liveInstance(c);
    if (instance == nullptr) {
        return fmi2Error;
    }
    if (!modelReadyToStep(instance)) {
        logError(instance, NOT_INITIALIZED_FORMAT, "fmi2ExitInitializationMode");
        return fmi2Error;
    }
    stepAndPublish(*instance->model);
    if (instance->model->record.stopRequested != 0U) {
        logError(instance, "stop requested in fmi2ExitInitializationMode");
        return fmi2Error;
    }
    return fmi2OK;
}

fmi2Status fmi2Terminate(fmi2Component c) {
    return kestrune::liveInstance(c) == nullptr ? fmi2Error : fmi2OK;
}

fmi2Status fmi2Reset(fmi2Component c) {
    using namespace kestrune;
    Fmu2Instance *instance = liveInstance(c);
    if (instance == nullptr) {
        return fmi2Error;
    }
    instance->writtenInputs = 0U;
    if (carriesError(instance->model)) {
        logError(instance, "%s", instance->model->record.errorStatus);
        terminateReported(*instance->model);
        return fmi2Error;
    }
    modelTerminate(*instance->model);
    instance->model = &libraryModel;
    if (instance->model->record.errorStatus != nullptr) {
        logError(instance, "Error during model registration: %s\n", instance->model->record.errorStatus);
        terminateReported(*instance->model);
        return fmi2Error;
    }
    fillRealVariableTable(instance);
    if (instance->model->record.stopRequested != 0U) {
        logError(instance, "stop requested in fmi2Reset");
        return fmi2Error;
    }
    return fmi2OK;
}

} // extern "C"
