// What a plant shows at a communication point, as a plain record that the
// native plant and a plant behind the FMI alike can fill: the rows of the
// CSV, the watches of the sweep and the battery read it instead of the
// plant itself.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kestrune::sim {

// One converter: the seven measurements its unit reads and what the plant
// keeps beside them.
struct ConverterSignals {
    // e_a, e_b, e_c at the converter's terminals (the PCC's), i_a, i_b, i_c,
    // Vdc: the unit's seven inputs in their order.
    std::array<double, 7> measurements{};
    double activePower = 0.0;   // [W]
    double reactivePower = 0.0; // [var]
    std::array<int, 3> levels{};
    double upperLinkVoltage = 0.0; // [V] split link: V1
    double lowerLinkVoltage = 0.0; // [V] split link: V2
    std::int64_t illegalPatterns = 0;
    std::int64_t directChanges = 0;

    double vdc() const { return measurements[6]; }
    std::array<double, 3> current() const { return {measurements[3], measurements[4], measurements[5]}; }
};

struct PlantSignals {
    double time = 0.0;              // [s]
    std::int64_t step = 0;          // base steps done
    double gridFrequency = 0.0;     // [Hz] in force
    std::array<double, 3> source{}; // [V] the grid source's e
    std::array<double, 3> pcc{};    // [V] the PCC's v
    std::vector<ConverterSignals> converters;
};

} // namespace kestrune::sim
