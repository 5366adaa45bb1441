// An .ssp that is not our closed loop, run through the generic fixed-step
// runner: every input and output connector into NAME.csv, and a short
// summary of the components, the steps and how the run ended.
#pragma once

#include "options.h"
#include "ssp_system.h"

#include <ostream>
#include <string>

namespace kestrune::sim {

// Runs system (read from sspPath) with the options' coupling, output folder
// and interval (default 1e-4 s), and step and duration when given. Returns
// the exit status: 0 run to its end or stopped by a unit, 1 a unit failed or
// the run could not be set up.
int runGenericSsp(const ssp::SspSystem &system, const std::string &sspPath, const Options &options,
                  std::ostream &out, std::ostream &err);

} // namespace kestrune::sim
