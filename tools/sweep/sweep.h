// kestrune-sweep's run on this machine: the sweep read and laid out, the
// table opened (or resumed), the runs spread over the workers, the outputs
// written.
#pragma once

#include "boundary.h"
#include "collector.h"
#include "summary.h"
#include "sweep_options.h"
#include "sweep_run.h"
#include "workers.h"

#include <ostream>

namespace kestrune::sweep {

// The whole sweep on this machine. Returns the exit status: 0 done, 1 when
// the archive or an output fails, 2 for a sweep file or option that is not
// valid.
int runLocalSweep(const SweepOptions &options, std::ostream &out, std::ostream &err, bool errIsTerminal);

// Reads the sweep and lays out its table; exit status 0, or 2 with the
// problem in err.
int prepareSweep(const SweepOptions &options, SweepPlan &plan, std::ostream &err);

} // namespace kestrune::sweep
