// kestrune-sim --export-ssp: the scenario's closed loop written as an .ssp
// for any SSP tool, with the unit and plant archives embedded and the
// plant's parameters that differ from the plant archive's start values bound
// to the system.
#pragma once

#include "options.h"

#include <ostream>

namespace kestrune::sim {

// Writes DIR/NAME.ssp for the options' scenario (DIR: --export-ssp's folder,
// else the output folder) and prints its path to out. Returns the process
// exit status: 0 written, 1 an archive or the file failed, 2 a scenario that
// is not valid or does not fit the plant FMU.
int exportSsp(const Options &options, std::ostream &out, std::ostream &err);

} // namespace kestrune::sim
