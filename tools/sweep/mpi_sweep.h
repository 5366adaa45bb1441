// The sweep over the ranks of an MPI job: rank 0 hands out run indices one
// at a time as ranks ask for them, gathers their rows and writes the outputs;
// every other rank runs what it is given, one run at a time.
#pragma once

#include "sweep.h"

namespace kestrune::sweep {

// Whether the process was started by an MPI launcher (mpirun, srun).
bool launchedByMpi();

// The whole sweep as one rank of the job. Returns the exit status.
int runMpiSweep(const SweepOptions &options, std::ostream &out, std::ostream &err, bool errIsTerminal);

} // namespace kestrune::sweep
