// An instance's logging, and its plant built from its parameters.
#include "plant_instance.h"

namespace kestrune::plantfmu {

namespace {

void log(const PlantInstance *instance, fmi2Status status, const char *category, const char *text) {
    instance->functions->logger(instance->functions->componentEnvironment, instance->name.c_str(), status,
                                category, "%s", text);
}

} // namespace

void logError(const PlantInstance *instance, const char *text) {
    log(instance, fmi2Error, "logStatusError", text);
}
void logDiscard(const PlantInstance *instance, const char *text) {
    log(instance, fmi2Discard, "logStatusDiscard", text);
}
void logInfo(const PlantInstance *instance, const char *text) {
    if (instance->loggingOn)
        log(instance, fmi2OK, "logAll", text);
}

std::string preparePlant(PlantInstance &instance) {
    if (instance.plant != nullptr && !instance.parametersChanged)
        return "";
    instance.plant.reset();
    if (std::string problem = makePlant(instance.values, instance.plant); !problem.empty())
        return problem;
    instance.parametersChanged = false;
    instance.outputsCurrent = false;
    instance.gatesPending = instance.gatesWritten;
    holdAndPublish(instance);
    return "";
}

} // namespace kestrune::plantfmu
