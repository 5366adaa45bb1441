// Our closed loop as a system: the converters' units and the plant, wired
// measurement to input and gate to gate, with the plant's parameters bound.
#pragma once

#include "ssp_system.h"

#include <array>
#include <string>
#include <vector>

namespace kestrune::ssp {

// What the unit measures (its inputs) and what it drives (its outputs); the
// plant's connectors are the same names prefixed "converterJ.".
inline constexpr std::array<const char *, 7> MEASUREMENT_NAMES{
    "gridVoltageA",      "gridVoltageB",      "gridVoltageC", "converterCurrentA",
    "converterCurrentB", "converterCurrentC", "dcVoltage"};
inline constexpr std::array<const char *, 12> GATE_NAMES{"gateA1", "gateA2", "gateA3", "gateA4",
                                                         "gateB1", "gateB2", "gateB3", "gateB4",
                                                         "gateC1", "gateC2", "gateC3", "gateC4"};

inline constexpr const char *PLANT_COMPONENT = "plant";

// "unit" with one converter, else "unit0", "unit1", ...
std::string unitComponentName(int converter, int converterCount);
// "converterJ." + name
std::string plantConnectorName(int converter, const char *name);

// The system of converterCount units (archive unitArchive) and the plant
// (plantArchive), running for duration at step, with plantParameters (named
// as the plant's variables) bound to the system as "plant.<variable>". An
// FMI 2.0 unit archive is embedded once per unit (resources/<stem>_J.fmu
// with several), as each copy of its library holds one model; an FMI 3.0
// one once. "" or what went wrong (an archive that cannot be read).
std::string closedLoopSystem(const std::string &name, const std::string &description, double duration,
                             int converterCount, const std::string &unitArchive,
                             const std::string &plantArchive,
                             const std::vector<SspParameter> &plantParameters, double step,
                             SspSystem &system);

} // namespace kestrune::ssp
