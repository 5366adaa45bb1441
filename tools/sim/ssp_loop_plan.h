// An .ssp recognised as our closed loop, turned back into the run a scenario
// describes: the scenario from the plant's bound parameters, the step from
// the system, the units' archive and the plant archive from its components.
#pragma once

#include "closed_loop_shape.h"
#include "options.h"
#include "ssp_system.h"

#include <string>
#include <vector>

namespace kestrune::sim {

struct SspLoop {
    RunPlan plan;            // the plant is the system's plant archive
    std::string unitArchive; // the archive every unit component embeds
    std::string unitSource;  // its place in the .ssp
    std::string plantSource; // the plant archive's place in the .ssp
    // Values bound to the plant under names it has no parameter of: ignored.
    std::vector<std::string> ignored;
};

// A name for the run's files: the system's, with anything but letters,
// digits, '_' and '-' turned into '_'; fallback when it is empty.
std::string outputName(const std::string &systemName, const std::string &fallback);

// The run of the recognised system with the options' coupling, pacing,
// output interval and, when given, step and duration. "" and loop filled,
// or what keeps the system from running as the closed loop (a start other
// than 0, a step that is no whole number of base steps, units of different
// archives, plant values that describe no plant).
std::string sspLoopPlan(const ssp::SspSystem &system, const ssp::ClosedLoopShape &shape,
                        const Options &options, SspLoop &loop);

} // namespace kestrune::sim
