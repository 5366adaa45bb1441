// The plant an instance's parameters describe: their ranges checked (the
// same as a scenario's), the records the plant is built from, and the plant.
#pragma once

#include "plant.h"
#include "plant_layout.h"

#include <memory>
#include <numbers>
#include <string>

namespace kestrune::plantfmu {

// The values of every variable of one instance, by slot.
struct PlantValues {
    double reals[REAL_COUNT];
    int integers[INTEGER_COUNT];
    int booleans[BOOLEAN_COUNT];
};

// The start values of the description.
void setStartValues(PlantValues &values);

// The degrees to radians factor of every angle parameter, as a scenario's
// reader applies it.
inline constexpr double RADIANS_PER_DEGREE = std::numbers::pi / 180.0;

// Builds the plant the parameters describe into `plant`. Returns "" or the
// first parameter out of its range, by name ("converter1.capacitance must
// be positive (got 0)").
std::string makePlant(const PlantValues &values, std::unique_ptr<plant::Plant> &plant);

} // namespace kestrune::plantfmu
