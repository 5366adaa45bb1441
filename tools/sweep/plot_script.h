// The gnuplot script of a sweep: a map coloured by the verdict (or a
// figure) for two axes, a figure along one axis, a histogram of a figure for
// a Monte Carlo sample.
#pragma once

#include "collector.h"

#include <string>

namespace kestrune::sweep {

// The script that draws NAME.png from NAME.csv in the same folder; csvPath
// is read for the histogram's bins.
std::string plotScript(const SweepPlan &plan, const Collector &collector, const std::string &name,
                       const std::string &csvPath);

} // namespace kestrune::sweep
