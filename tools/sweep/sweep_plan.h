// What every run of a sweep shares: the definition, the archive, the
// table's layout, and the first steps all runs have in common.
#pragma once

#include "options.h"
#include "sweep_file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrune::sweep {

struct SweepPlan {
    SweepDefinition definition;
    std::string fmu;
    std::size_t converters = 1;
    std::size_t segments = 1;
    std::vector<std::string> figureColumns; // after the verdict, before the reason
    // The communication steps every run shares (0: none): the plant's
    // parameters and the step are the same in every run, and so are the
    // events and segments up to there.
    std::int64_t sharedSteps = 0;
    double sharedSeconds = 0.0; // [s] the time they cover
};

// Lays out the table; with branch, finds the steps every run shares.
std::string planSweep(const SweepDefinition &definition, const std::string &fmu, SweepPlan &plan,
                      bool branch = true);

// The run's plan: the base scenario with the run's values, a row of the
// loop every 25 us. "" or what is wrong with the run's values.
std::string runPlanOf(const SweepPlan &plan, std::size_t run, sim::RunPlan &runPlan);
// The communication steps that every one of the runs shares with the
// first, as planSweep finds them.
std::int64_t sharedSteps(const std::vector<sim::RunPlan> &runs);

} // namespace kestrune::sweep
