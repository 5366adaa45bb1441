// Creating, initializing, terminating, resetting and destroying instances of
// the FMI 3.0 edition, and logging.
#include "children/child_host.h"
#include "fmu/base_steps.h"
#include "fmu/fmi3/call_rules.h"
#include "fmu/fmi3/instance.h"
#include "fmu/shared_lifecycle.h"
#include "model/records.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace kestrune::fmi3 {

namespace {

constexpr std::size_t MESSAGE_CAPACITY = 1024;

const char *categoryName(fmi3Status status, LogCategory category) {
    if (status == fmi3Error) {
        return "logStatusError";
    }
    return category == LOG_STEP ? "logStep" : category == LOG_ACCESS ? "logAccess" : "logStatusError";
}

// The instance as fmi3InstantiateCoSimulation left it: a fresh model with
// its parameters at their defaults, the time 0 and no input written.
void resetToInstantiated(Instance *instance) {
    modelTerminate(instance->model);
    instance->model.~Model();
    new (&instance->model) Model();
    std::memset(instance->outputSnapshot, 0, sizeof instance->outputSnapshot);
    bindSnapshot(instance);
    instance->mode = Mode::Instantiated;
    instance->time = 0.0;
    instance->lastStepCount = 0;
    instance->writtenInputs = 0U;
    // A scheduled-execution instance keeps its callbacks; the partitions
    // start over.
    Schedule &schedule = instance->schedule;
    Schedule fresh;
    fresh.active = schedule.active;
    fresh.lockPreemption = schedule.lockPreemption;
    fresh.unlockPreemption = schedule.unlockPreemption;
    schedule = fresh;
}

// Releases an instance that holds no slot of the registry (any more).
void destroyInstance(Instance *instance) {
    freeAllStates(instance);
    modelTerminate(instance->model);
    std::free(instance->name);
    instance->~Instance();
    std::free(instance);
}

// The model failed: its hosted blocks are released and it no longer
// carries the error, which was reported.
fmi3Status fail(Instance *instance, const char *function, const char *reason) {
    refuse(instance, function, reason);
    modelTerminate(instance->model);
    instance->model.record.errorStatus = nullptr;
    instance->mode = Mode::Failed;
    return fmi3Error;
}

} // namespace

void sendMessage(const Instance *instance, fmi3Status status, LogCategory category, const char *format, ...) {
    char message[MESSAGE_CAPACITY];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    instance->logMessage(instance->environment, status, categoryName(status, category), message);
}

fmi3Status refuse(const Instance *instance, const char *function, const char *reason) {
    logMessage(instance, fmi3Error, LOG_STATUS_ERROR, "%s: %s", function, reason);
    return fmi3Error;
}

const char *modeName(Mode mode) {
    switch (mode) {
    case Mode::Instantiated:
        return "the instantiated state";
    case Mode::InitializationMode:
        return "initialization mode";
    case Mode::StepMode:
        return "step mode";
    case Mode::Terminated:
        return "the terminated state";
    case Mode::Failed:
        return "the failed state (reset or free the instance)";
    case Mode::ClockActivationMode:
        return "clock activation mode";
    }
    return "an unknown state";
}

fmi3Instance refuseInstantiation(fmi3Boolean loggingOn, fmi3InstanceEnvironment environment,
                                 fmi3LogMessageCallback log, const char *message) {
    if (loggingOn && log != nullptr) {
        log(environment, fmi3Error, "logStatusError", message);
    }
    return nullptr;
}

void bindSnapshot(Instance *instance) {
    instance->model.outputSnapshot = instance->outputSnapshot;
}

Instance *makeInstance(const char *function, fmi3String instanceName, fmi3String instantiationToken,
                       fmi3Boolean loggingOn, fmi3InstanceEnvironment environment,
                       fmi3LogMessageCallback log) {
    char message[MESSAGE_CAPACITY];
    if (instanceName == nullptr || instanceName[0] == '\0') {
        std::snprintf(message, sizeof message, "%s: missing instance name", function);
        refuseInstantiation(loggingOn, environment, log, message);
        return nullptr;
    }
    if (instantiationToken == nullptr || std::strcmp(instantiationToken, INSTANTIATION_TOKEN) != 0) {
        std::snprintf(message, sizeof message, "%s: wrong instantiation token %s; this unit's is %s",
                      function, instantiationToken != nullptr ? instantiationToken : "(null)",
                      INSTANTIATION_TOKEN);
        refuseInstantiation(loggingOn, environment, log, message);
        return nullptr;
    }
    void *memory = std::malloc(sizeof(Instance));
    char *name = copyText(instanceName);
    if (memory == nullptr || name == nullptr) {
        std::free(memory);
        std::free(name);
        std::snprintf(message, sizeof message, "%s: memory allocation error", function);
        refuseInstantiation(loggingOn, environment, log, message);
        return nullptr;
    }
    auto *instance = new (memory) Instance();
    instance->name = name;
    instance->environment = environment;
    instance->logMessage = log;
    instance->enabledCategories = loggingOn ? ALL_LOG_CATEGORIES : 0U;
    bindSnapshot(instance);
    for (unsigned vr = 0; vr < static_cast<unsigned>(VARIABLE_COUNT); ++vr) {
        instance->variables[vr] = realVariable(instance->model, instance->time, vr);
    }
    instance->handle = registerInstance(instance);
    if (instance->handle == nullptr) {
        destroyInstance(instance);
        std::snprintf(message, sizeof message, "%s: %u instances live, as many as this unit holds at once",
                      function, static_cast<unsigned>(registry::CAPACITY));
        refuseInstantiation(loggingOn, environment, log, message);
        return nullptr;
    }
    return instance;
}

} // namespace kestrune::fmi3

using kestrune::fmi3::Call;
using kestrune::fmi3::Instance;
using kestrune::fmi3::Mode;

extern "C" {

const char *fmi3GetVersion(void) {
    return fmi3Version;
}

fmi3Status fmi3SetDebugLogging(fmi3Instance handle, fmi3Boolean loggingOn, size_t nCategories,
                               const fmi3String categories[]) {
    using namespace kestrune::fmi3;
    Instance *instance = enterCall(handle, Call::SetDebugLogging);
    if (instance == nullptr) {
        return fmi3Error;
    }
    if (nCategories == 0) {
        instance->enabledCategories = loggingOn ? ALL_LOG_CATEGORIES : 0U;
        return fmi3OK;
    }
    if (categories == nullptr) {
        return refuse(instance, "fmi3SetDebugLogging", "categories is null");
    }
    // Every name is checked before any category changes.
    unsigned selected = 0;
    for (size_t i = 0; i < nCategories; ++i) {
        const char *name = categories[i];
        if (name != nullptr && std::strcmp(name, "logStatusError") == 0) {
            selected |= LOG_STATUS_ERROR;
        } else if (name != nullptr && std::strcmp(name, "logStep") == 0) {
            selected |= LOG_STEP;
        } else if (name != nullptr && std::strcmp(name, "logAccess") == 0) {
            selected |= LOG_ACCESS;
        } else {
            logMessage(instance, fmi3Error, LOG_STATUS_ERROR,
                       "fmi3SetDebugLogging: unknown log category \"%s\"; the categories are logStatusError, "
                       "logStep and logAccess",
                       name != nullptr ? name : "(null)");
            return fmi3Error;
        }
    }
    if (loggingOn) {
        instance->enabledCategories |= selected;
    } else {
        instance->enabledCategories &= ~selected;
    }
    return fmi3OK;
}

fmi3Instance fmi3InstantiateCoSimulation(
    fmi3String instanceName, fmi3String instantiationToken, fmi3String /*resourcePath*/,
    fmi3Boolean /*visible*/, fmi3Boolean loggingOn, fmi3Boolean eventModeUsed,
    fmi3Boolean /*earlyReturnAllowed*/, const fmi3ValueReference /*requiredIntermediateVariables*/[],
    size_t nRequiredIntermediateVariables, fmi3InstanceEnvironment instanceEnvironment,
    fmi3LogMessageCallback logMessage, fmi3IntermediateUpdateCallback /*intermediateUpdate*/) {
    using namespace kestrune::fmi3;
    if (eventModeUsed) {
        return refuseInstantiation(loggingOn, instanceEnvironment, logMessage,
                                   "fmi3InstantiateCoSimulation: this unit has no event mode "
                                   "(eventModeUsed must be false)");
    }
    if (nRequiredIntermediateVariables != 0) {
        return refuseInstantiation(loggingOn, instanceEnvironment, logMessage,
                                   "fmi3InstantiateCoSimulation: this unit offers no intermediate update "
                                   "(nRequiredIntermediateVariables must be 0)");
    }
    const Instance *instance = makeInstance("fmi3InstantiateCoSimulation", instanceName, instantiationToken,
                                            loggingOn, instanceEnvironment, logMessage);
    return instance != nullptr ? instance->handle : nullptr;
}

void fmi3FreeInstance(fmi3Instance handle) {
    using namespace kestrune::fmi3;
    Instance *instance = enterCall(handle, Call::FreeInstance);
    if (instance == nullptr) {
        return;
    }
    unregisterInstance(handle);
    destroyInstance(instance);
}

fmi3Status fmi3EnterInitializationMode(fmi3Instance handle, fmi3Boolean /*toleranceDefined*/,
                                       fmi3Float64 /*tolerance*/, fmi3Float64 startTime,
                                       fmi3Boolean /*stopTimeDefined*/, fmi3Float64 /*stopTime*/) {
    using namespace kestrune::fmi3;
    Instance *instance = enterCall(handle, Call::EnterInitializationMode);
    if (instance == nullptr) {
        return fmi3Error;
    }
    if (!kestrune::acceptsStartTime(startTime)) {
        logMessage(instance, fmi3Error, LOG_STATUS_ERROR,
                   "fmi3EnterInitializationMode: start time %.17g is not zero", startTime);
        return fmi3Error;
    }
    instance->time = startTime;
    kestrune::Model &model = instance->model;
    kestrune::initializeKeepingInputs(model, instance->writtenInputs);
    if (model.record.childrenStarted == 0U) {
        const char *text = model.record.errorStatus;
        return fail(instance, "fmi3EnterInitializationMode",
                    text != nullptr ? text : "model initialization failed");
    }
    instance->mode = Mode::InitializationMode;
    return fmi3OK;
}

fmi3Status fmi3ExitInitializationMode(fmi3Instance handle) {
    using namespace kestrune::fmi3;
    Instance *instance = enterCall(handle, Call::ExitInitializationMode);
    if (instance == nullptr) {
        return fmi3Error;
    }
    if (instance->schedule.active) {
        // The first activation of the base-rate clock runs the first base
        // step.
        instance->mode = Mode::ClockActivationMode;
        return fmi3OK;
    }
    // The outputs at the start time are those of the first base step's
    // output phase, as in the FMI 2.0 edition.
    kestrune::stepAndPublish(instance->model);
    if (instance->model.record.stopRequested != 0U) {
        return fail(instance, "fmi3ExitInitializationMode", "the model requested a stop");
    }
    instance->mode = Mode::StepMode;
    return fmi3OK;
}

fmi3Status fmi3Terminate(fmi3Instance handle) {
    using namespace kestrune::fmi3;
    Instance *instance = enterCall(handle, Call::Terminate);
    if (instance == nullptr) {
        return fmi3Error;
    }
    // The hosted blocks release their memory; the outputs stay readable.
    kestrune::modelTerminate(instance->model);
    instance->mode = Mode::Terminated;
    return fmi3OK;
}

fmi3Status fmi3Reset(fmi3Instance handle) {
    using namespace kestrune::fmi3;
    Instance *instance = enterCall(handle, Call::Reset);
    if (instance == nullptr) {
        return fmi3Error;
    }
    resetToInstantiated(instance);
    return fmi3OK;
}

} // extern "C"
