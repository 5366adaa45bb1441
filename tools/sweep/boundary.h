// Where a two-axis map changes its verdict.
#pragma once

#include "collector.h"

#include <string>
#include <vector>

namespace kestrune::sweep {

// Per value of the second axis,
// each change along the first, between two neighbouring runs.
struct BoundaryChange {
    Verdict before{};
    double beforeAt = 0.0; // the first axis's value of the run before the change
    Verdict after{};
    double afterAt = 0.0;
};
struct BoundaryRow {
    double value = 0.0; // the second axis's
    std::vector<BoundaryChange> changes;
    int only = -1; // with no change: the one verdict all along (-1: no runs)
};
std::vector<BoundaryRow> boundary(const SweepPlan &plan, const Collector::Tally &tally);
// The same, one line per value of the second axis.
std::vector<std::string> boundaryLines(const SweepPlan &plan, const Collector::Tally &tally);

} // namespace kestrune::sweep
