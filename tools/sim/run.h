// The open-loop simulation of kestrune-sim: load, initialize, step, record.
#pragma once

#include "options.h"

#include <ostream>

namespace kestrune::sim {

// Runs the simulation the options describe, writes the CSV, prints the
// summary to out and every problem to err. Returns the process exit status:
// 0 on success, 1 on any failure.
int runSimulation(const Options &options, std::ostream &out, std::ostream &err);

} // namespace kestrune::sim
