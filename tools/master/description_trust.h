// What a master checks of an archive's description before it loads the
// library: the rules a schema cannot express, and, for an archive that
// carries this unit's identity, agreement with the unit's own variables.
#pragma once

#include "fmu_archive.h"

#include <string>

namespace kestrune::master {

// "" when the description may be trusted, else the first reason not to.
std::string distrustDescription(const std::string &xml, const ModelDescription &description);

} // namespace kestrune::master
