// How kestrune-sim ties a unit's model description to what it drives: the
// variables are found by name (master::bindVariables), and the loaded library
// must agree with the description before a run starts.
#pragma once

#include "master/description_binding.h"
#include "master/fmu_archive.h"
#include "master/session.h"

#include <string>

namespace kestrune::sim {

// Right after a successful instantiation of a freshly loaded library: every
// real variable of the description can be read, and every input and
// parameter holds its described start value. Returns "" when the library
// agrees with the description, else the first disagreement.
std::string checkAgainstUnit(const master::ModelDescription &description, master::UnitSession &session);

} // namespace kestrune::sim
