// The variables of an .fmu with their types, as a system of units needs
// them: which can be connected, which take parameter values, and how each
// is read and written through its edition's functions.
#pragma once

#include "ssp_system.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune::ssp {

struct FmuVariable {
    std::string name;
    std::uint32_t vr = 0;
    ConnectorKind kind = ConnectorKind::Other; // input, output, parameter, or any other causality
    SspType type = SspType::Other;
    double start = 0.0; // 0 without a start value; Boolean true is 1
    bool tunable = false;
};

struct FmuVariables {
    std::string fmiVersion; // "2.0" or "3.x"
    std::vector<FmuVariable> variables;

    bool isFmi3() const { return fmiVersion.rfind("3.", 0) == 0; }
    const FmuVariable *find(const std::string &name) const;
};

// Reads the variables of a modelDescription.xml text. "" or what is wrong.
std::string parseFmuVariables(const std::string &xml, FmuVariables &variables);

// Reads them from the modelDescription.xml inside the .fmu at path.
std::string readFmuVariables(const std::string &path, FmuVariables &variables);

// The connectors an .ssd gives a component of this .fmu: every Real,
// Integer and Boolean input, output and parameter, in the description's order.
std::vector<SspConnector> connectorsOf(const FmuVariables &variables);

} // namespace kestrune::ssp
