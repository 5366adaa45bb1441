// kestrune-sim's run from options to outputs: read the scenario, close the
// loop, write the CSV, the summary (terminal and JSON) and the plot.
#pragma once

#include "options.h"

#include <ostream>
#include <string>

namespace kestrune::sim {

// Runs what the options describe, prints the summary to out and progress and
// problems to err (progress rewritten in place when err is a terminal).
// Returns the process exit status: 0 on success (also when gnuplot is
// missing), 1 when the unit, the plant or an output fails or the unit's gates
// were illegal on too many steps (analysis/illegal_share.h), 2 for a scenario
// or override that is not valid.
int runSimulation(const Options &options, std::ostream &out, std::ostream &err, bool errIsTerminal);

// The closed loop of a plan made already, against the unit in fmuPath,
// with its outputs in the options' output folder and plot; the summary's
// JSON names the unit fmuName. The same exit status.
int runPlannedLoop(const Options &options, const RunPlan &plan, const std::string &fmuPath,
                   const std::string &fmuName, std::ostream &out, std::ostream &err, bool errIsTerminal);

} // namespace kestrune::sim
