// The outputs an instance shows: the gates written since the last hold held
// by the plant first (they enter the PCC voltage at once), then every output
// written from the plant when it changed.
#include "plant_instance.h"

#include <algorithm>

namespace kestrune::plantfmu {

namespace {

std::array<double, GATES> gatesOf(const PlantInstance &instance, std::size_t j) {
    std::array<double, GATES> gates{};
    std::copy_n(instance.values.reals + realGate(static_cast<int>(j), 0), GATES, gates.begin());
    return gates;
}

} // namespace

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
