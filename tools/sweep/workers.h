// The workers of a sweep on one machine: threads on the FMI 3.0 archive,
// processes on the FMI 2.0 one (whose model data exists once per loaded
// library); either hands each finished row to the collector.
#pragma once

#include "collector.h"

#include <string>
#include <vector>

namespace kestrune::sweep {

// The ways the runs are spread. Each returns "" or what failed.
std::string runOnThreads(const SweepPlan &plan, const std::vector<std::size_t> &runs, unsigned jobs,
                         Collector &collector);
std::string runInProcesses(const SweepPlan &plan, const std::vector<std::size_t> &runs, unsigned jobs,
                           Collector &collector);

} // namespace kestrune::sweep
