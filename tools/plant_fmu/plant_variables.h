// The plant FMU's variables by name, in the order its description lists
// them, each with its value reference from plant_layout.h. kestrune-describe
// writes the description from this list; the FMU names a refused parameter
// from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune::plantfmu {

enum class VariableType { Real, Integer, Boolean };
enum class VariableCausality { Parameter, Input, Output };

struct PlantVariable {
    std::string name;
    std::uint32_t vr;
    VariableType type;
    VariableCausality causality;
    const char *unit; // "" when none
    double start;     // parameters and inputs
    std::string description;
    // An Integer parameter's range, as the description states it.
    bool bounded = false;
    int min = 0;
    int max = 0;
};

// Every variable of the FMU, built on first use.
const std::vector<PlantVariable> &plantVariables();

// The name of the variable with value reference vr, or "" for none.
std::string plantVariableName(std::uint32_t vr);

} // namespace kestrune::plantfmu
