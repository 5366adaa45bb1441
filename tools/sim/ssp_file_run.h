// kestrune-sim FILE.ssp: finds the file (as given, else among the shipped
// ones), reads it, and runs it as our closed loop when it is one, else
// through the generic runner.
#pragma once

#include "options.h"

#include <ostream>

namespace kestrune::sim {

// Runs options.ssp. Returns the exit status as runSimulation does (2 for a
// file that is missing or cannot be read as a system).
int runSspFile(const Options &options, std::ostream &out, std::ostream &err, bool errIsTerminal);

} // namespace kestrune::sim
