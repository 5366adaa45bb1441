// The unit's 21 real variables, indexed by value reference: the one table
// that both the library's value-reference table (access.cpp) and the
// generator of modelDescription.xml (tools/describe) read, so the library and
// the description a master reads cannot drift apart.
#pragma once

#include <string_view>

namespace kestrune {

enum class Causality { Input, Output, Parameter, Independent };
enum class Variability { Continuous, Discrete, Tunable };
// The description's "initial" attribute; None leaves it out (inputs and the
// independent variable must not carry it).
enum class Initial { None, Exact, Calculated };

struct VariableInfo {
    unsigned vr;
    const char *name;
    Causality causality;
    Variability variability;
    Initial initial;
    const char *description;
    const char *unit; // "" for a dimensionless variable
    bool hasStart;
    double start;
};

inline constexpr int VARIABLE_COUNT = 21;

inline constexpr VariableInfo VARIABLES[VARIABLE_COUNT] = {
    {0, "gridVoltageA", Causality::Input, Variability::Continuous, Initial::None,
     "measured grid phase-a voltage", "V", true, 0.0},
    {1, "gridVoltageB", Causality::Input, Variability::Continuous, Initial::None,
     "measured grid phase-b voltage", "V", true, 0.0},
    {2, "gridVoltageC", Causality::Input, Variability::Continuous, Initial::None,
     "measured grid phase-c voltage", "V", true, 0.0},
    {3, "converterCurrentA", Causality::Input, Variability::Continuous, Initial::None,
     "measured converter phase-a current", "A", true, 0.0},
    {4, "converterCurrentB", Causality::Input, Variability::Continuous, Initial::None,
     "measured converter phase-b current", "A", true, 0.0},
    {5, "converterCurrentC", Causality::Input, Variability::Continuous, Initial::None,
     "measured converter phase-c current", "A", true, 0.0},
    {6, "dcVoltage", Causality::Input, Variability::Continuous, Initial::None, "measured DC-link voltage",
     "V", true, 0.0},
    {7, "gateA1", Causality::Output, Variability::Discrete, Initial::Calculated,
     "gate signal, first leg (phase a), switch 1", "", false, 0.0},
    {8, "gateA2", Causality::Output, Variability::Discrete, Initial::Calculated,
     "gate signal, first leg (phase a), switch 2", "", false, 0.0},
    {9, "gateA3", Causality::Output, Variability::Discrete, Initial::Calculated,
     "gate signal, first leg (phase a), switch 3", "", false, 0.0},
    {10, "gateA4", Causality::Output, Variability::Discrete, Initial::Calculated,
     "gate signal, first leg (phase a), switch 4", "", false, 0.0},
    {11, "gateB1", Causality::Output, Variability::Discrete, Initial::Calculated,
     "gate signal, second leg (phase b), switch 1", "", false, 0.0},
    {12, "gateB2", Causality::Output, Variability::Discrete, Initial::Calculated,
     "gate signal, second leg (phase b), switch 2", "", false, 0.0},
    {13, "gateB3", Causality::Output, Variability::Discrete, Initial::Calculated,
     "gate signal, second leg (phase b), switch 3", "", false, 0.0},
    {14, "gateB4", Causality::Output, Variability::Discrete, Initial::Calculated,
     "gate signal, second leg (phase b), switch 4", "", false, 0.0},
    {15, "gateC1", Causality::Output, Variability::Discrete, Initial::Calculated,
     "gate signal, third leg (phase c), switch 1", "", false, 0.0},
    {16, "gateC2", Causality::Output, Variability::Discrete, Initial::Calculated,
     "gate signal, third leg (phase c), switch 2", "", false, 0.0},
    {17, "gateC3", Causality::Output, Variability::Discrete, Initial::Calculated,
     "gate signal, third leg (phase c), switch 3", "", false, 0.0},
    {18, "gateC4", Causality::Output, Variability::Discrete, Initial::Calculated,
     "gate signal, third leg (phase c), switch 4", "", false, 0.0},
    {19, "time", Causality::Independent, Variability::Continuous, Initial::None,
     "simulation time of the instance", "s", false, 0.0},
    {20, "meanSampleTime", Causality::Parameter, Variability::Tunable, Initial::Exact,
     "sample time that turns a whole number of samples into a delay in the variable-frequency means", "s",
     true, 1e-4},
};

// Value references the library's table fill names directly.
inline constexpr unsigned VR_GRID_VOLTAGE_A = 0;
inline constexpr unsigned VR_CONVERTER_CURRENT_A = 3;
inline constexpr unsigned VR_DC_VOLTAGE = 6;
inline constexpr unsigned VR_FIRST_GATE = 7;
inline constexpr unsigned VR_TIME = 19;
inline constexpr unsigned VR_MEAN_SAMPLE_TIME = 20;

namespace variables_check {

constexpr bool indexedByValueReference() {
    for (int i = 0; i < VARIABLE_COUNT; ++i) {
        if (VARIABLES[i].vr != static_cast<unsigned>(i))
            return false;
    }
    return true;
}

constexpr bool isNamed(unsigned vr, std::string_view name) {
    return std::string_view(VARIABLES[vr].name) == name;
}

// Outputs whose initial value the unit computes: the description lists
// exactly these in ModelStructure/InitialUnknowns.
constexpr int calculatedOutputCount() {
    int n = 0;
    for (const VariableInfo &v : VARIABLES) {
        if (v.causality == Causality::Output && v.initial == Initial::Calculated)
            ++n;
    }
    return n;
}

// The rules a master checks: inputs and parameters carry a start value,
// calculated variables and the independent variable do not, and neither
// inputs nor the independent variable carry "initial".
constexpr bool startAndInitialConsistent() {
    for (const VariableInfo &v : VARIABLES) {
        switch (v.causality) {
        case Causality::Input:
            if (!v.hasStart || v.initial != Initial::None)
                return false;
            break;
        case Causality::Parameter:
            if (!v.hasStart || v.initial != Initial::Exact || v.variability == Variability::Continuous)
                return false;
            break;
        case Causality::Output:
            if (v.hasStart != (v.initial == Initial::Exact))
                return false;
            break;
        case Causality::Independent:
            if (v.hasStart || v.initial != Initial::None || v.variability != Variability::Continuous)
                return false;
            break;
        }
    }
    return true;
}

static_assert(indexedByValueReference());
static_assert(isNamed(VR_GRID_VOLTAGE_A, "gridVoltageA") &&
              isNamed(VR_CONVERTER_CURRENT_A, "converterCurrentA") && isNamed(VR_DC_VOLTAGE, "dcVoltage") &&
              isNamed(VR_FIRST_GATE, "gateA1") && isNamed(VR_TIME, "time") &&
              isNamed(VR_MEAN_SAMPLE_TIME, "meanSampleTime"));
static_assert(calculatedOutputCount() == 12);
static_assert(startAndInitialConsistent());

} // namespace variables_check

} // namespace kestrune
