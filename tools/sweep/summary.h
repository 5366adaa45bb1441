// The end of a sweep: the table put in run order, NAME.json, the plot, and
// the summary on the terminal.
#pragma once

#include "collector.h"
#include "sweep_options.h"

#include <ostream>
#include <string>

namespace kestrune::sweep {

// Writes NAME.json, NAME.gp and draws NAME.png, prints the summary to out.
// workers: "2 threads", "3 ranks"; workerCount: those that ran runs.
// Returns the exit status.
int finishSweep(const SweepPlan &plan, const SweepOptions &options, Collector &collector,
                const std::string &workers, std::size_t workerCount, std::ostream &out, std::ostream &err);

} // namespace kestrune::sweep
