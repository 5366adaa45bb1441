// Finding a live instance, its logging, and its plant built from its
// parameters.
#include "plant_instance.h"

#include <mutex>
#include <set>

namespace kestrune::plantfmu {

namespace {

// A lookup in a set allocates nothing, so steps stay free of the heap.
std::mutex registryGuard;
std::set<const void *> registry;

} // namespace

bool registerInstance(PlantInstance *instance) {
    try {
        const std::lock_guard<std::mutex> lock(registryGuard);
        registry.insert(instance);
        return true;
    } catch (...) {
        return false;
    }
}

PlantInstance *liveInstance(fmi2Component c) {
    const std::lock_guard<std::mutex> lock(registryGuard);
    return registry.count(c) != 0 ? static_cast<PlantInstance *>(c) : nullptr;
}

PlantInstance *retireInstance(fmi2Component c) {
    const std::lock_guard<std::mutex> lock(registryGuard);
    return registry.erase(c) != 0 ? static_cast<PlantInstance *>(c) : nullptr;
}

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
