// Writing a system as an .ssp: SystemStructure.ssd, the system's parameter
// set as resources/NAME.ssv, and each component's .fmu under resources/.
#pragma once

#include "ssp_system.h"

#include <string>

namespace kestrune::ssp {

// Writes system to path. Each component's connectors are taken from its
// archive's modelDescription (whatever system.components[i].connectors
// holds), so that the .ssd matches the .fmu embedded; components sharing a
// source share one embedded file. "" or what went wrong.
std::string writeSsp(const SspSystem &system, const std::string &path);

// The .ssd and .ssv texts writeSsp puts in the archive, for a system whose
// connectors are filled in.
std::string systemStructureText(const SspSystem &system);
std::string parameterSetText(const std::string &name, const std::vector<SspParameter> &parameters);

// The name of the parameter set file: resources/<name>.ssv.
std::string parameterSetSource(const SspSystem &system);

} // namespace kestrune::ssp
