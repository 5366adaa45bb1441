#include "plant_instance.h"

#include <algorithm>

namespace kestrune::plantfmu {

PlantInstance *liveInstance(fmi2Component c) {
    auto *instance = static_cast<PlantInstance *>(c);
    return instance != nullptr && instance->tag == LIVE_TAG ? instance : nullptr;
}

namespace {

void log(const PlantInstance *instance, fmi2Status status, const char *category, const char *text) {
    instance->functions->logger(instance->functions->componentEnvironment, instance->name.c_str(), status,
                                category, "%s", text);
}

std::array<double, GATES> gatesOf(const PlantInstance &instance, std::size_t j) {
    std::array<double, GATES> gates{};
    std::copy_n(instance.values.reals + realGate(static_cast<int>(j), 0), GATES, gates.begin());
    return gates;
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

void holdAndPublish(PlantInstance &instance) {
    if (instance.plant == nullptr)
        return;
    if (instance.gatesPending) {
        for (std::size_t j = 0; j < instance.plant->converterCount(); ++j)
            instance.plant->hold(j, gatesOf(instance, j));
        instance.gatesPending = false;
        instance.outputsCurrent = false;
    }
    if (!instance.outputsCurrent)
        publishOutputs(instance);
}

void publishOutputs(PlantInstance &instance) {
    const plant::Plant &p = *instance.plant;
    double *reals = instance.values.reals;
    int *integers = instance.values.integers;
    std::fill(reals + R_OUTPUT_FIRST, reals + REAL_COUNT, 0.0);
    std::fill(integers + I_OUTPUT_FIRST, integers + INTEGER_COUNT, 0);
    for (std::size_t j = 0; j < p.converterCount(); ++j) {
        const int J = static_cast<int>(j);
        const std::array<double, MEASUREMENTS> m = p.measurements(j);
        std::copy(m.begin(), m.end(), reals + realConverterOutput(J, 0));
        reals[realConverterOutput(J, R_ACTIVE_POWER)] = p.activePower(j);
        reals[realConverterOutput(J, R_REACTIVE_POWER)] = p.reactivePower(j);
        reals[realConverterOutput(J, R_UPPER)] = p.state(j).upper;
        reals[realConverterOutput(J, R_LOWER)] = p.state(j).lower;
        const std::array<int, 3> levels = p.levels(j);
        std::copy(levels.begin(), levels.end(), integers + integerConverterOutput(J, I_LEVEL));
        // The counts saturate where an Integer ends.
        const auto clamp = [](std::int64_t n) {
            return static_cast<int>(std::min<std::int64_t>(n, 2147483647));
        };
        integers[integerConverterOutput(J, I_ILLEGAL_PATTERNS)] = clamp(p.illegalPatterns(j));
        integers[integerConverterOutput(J, I_DIRECT_CHANGES)] = clamp(p.directChanges(j));
    }
    const std::array<double, 3> e = p.gridVoltages();
    const std::array<double, 3> v = p.pccVoltages();
    std::copy(e.begin(), e.end(), reals + R_SOURCE_VOLTAGE);
    std::copy(v.begin(), v.end(), reals + R_PCC_VOLTAGE);
    reals[R_SOURCE_FREQUENCY] = p.gridFrequency();
    instance.outputsCurrent = true;
}

} // namespace kestrune::plantfmu
