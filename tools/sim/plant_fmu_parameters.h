// A scenario's plant as the plant FMU's parameters: the values to set, by
// the FMU's variable names, in the units the scenario writes them in.
#pragma once

#include "scenario.h"

#include <string>
#include <vector>

namespace kestrune::sim {

struct PlantFmuParameter {
    std::string name;
    enum class Type { Real, Integer, Boolean } type;
    double value;
};

// Every parameter of the plant FMU the scenario sets: the grid's, the
// number of converters and each one's, the number of events and each one's
// fields. Returns "" and fills out, or what of the scenario does not fit the
// FMU (more than 4 converters, 16 events, 8 profile points or 8 harmonics).
std::string plantFmuParameters(const Scenario &scenario, std::vector<PlantFmuParameter> &out);

// The start values the plant archive at `archive` declares for the plant's
// parameters (those of the names above, of the type the plant gives them).
// Returns "" and fills starts, or why the archive's description cannot be read.
std::string plantFmuStarts(const std::string &archive, std::vector<PlantFmuParameter> &starts);

// The parameters whose value differs from the start value `starts` gives
// them (or that have none there), in their order: what a system must bind
// for the plant archive to take the scenario.
std::vector<PlantFmuParameter> differingFromStarts(const std::vector<PlantFmuParameter> &parameters,
                                                   const std::vector<PlantFmuParameter> &starts);

// The inverse: the scenario whose plant the parameters describe, named name
// with description and duration. A parameter that is not given takes its
// value from `starts` (the plant archive's start values) when there, else
// the plant's default; a name the plant FMU has no parameter of is reported
// in `unknown` and otherwise ignored. Returns "" and fills scenario, or what
// does not describe a plant (a count or kind out of range, an event beyond
// the number of events in force, ...).
std::string scenarioFromPlantFmuParameters(const std::string &name, const std::string &description,
                                           double duration, const std::vector<PlantFmuParameter> &parameters,
                                           Scenario &scenario, std::vector<std::string> *unknown = nullptr,
                                           const std::vector<PlantFmuParameter> &starts = {});

} // namespace kestrune::sim
