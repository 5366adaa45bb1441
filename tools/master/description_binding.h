// Binding a unit's variables and clocks by name from its model description,
// so that a master drives any unit that has them, whatever their value
// references.
#pragma once

#include "fmu_archive.h"
#include "variable_bindings.h"

#include <string>

namespace kestrune::master {

// Finds the seven inputs, the twelve gates and time by name, each a real
// variable of the causality a master needs, meanSampleTime when the
// description has it as a real parameter, and takes the GUID or instantiation
// token the description carries. With scheduled, also the two input clocks
// and their periods, the slow rate's a whole number of base-rate periods.
// Returns "" and fills bindings on success, else what is missing or wrong.
std::string bindVariables(const ModelDescription &description, VariableBindings &bindings,
                          bool scheduled = false);

} // namespace kestrune::master
