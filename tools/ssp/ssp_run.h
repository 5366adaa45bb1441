// Running any system of co-simulation units at a fixed communication step,
// with its Real connections copied at every exchange, and writing every
// input and output connector to a CSV file.
#pragma once

#include "ssp_system.h"

#include <string>
#include <vector>

namespace kestrune::ssp {

// sequential: components in the system's order, each taking the latest
// outputs of the others right before it steps (the first component steps
// on the others' outputs after initialization). jacobi: every component
// steps on the values of the previous exchange (its inputs' start values
// for the first step); then every output is read, then every input set.
enum class Coupling { Sequential, Jacobi };

struct SspRunOptions {
    Coupling coupling = Coupling::Sequential;
    double step = 0.0;      // 0: the system's step annotation
    double stopTime = -1.0; // negative: the system's default experiment
    // Where the CSV goes ("" for none): time, then a column per input and
    // output connector named component.connector, in the system's order.
    std::string csvPath;
    // A row at every multiple of this (0: every step), and at the end.
    double outputInterval = 0.0;
};

struct SspRunResult {
    std::string error;   // "" unless the run could not be set up or a unit failed
    std::string stopped; // a unit's message when it ended the run early
    // Values bound to names that no variable of any component has: ignored,
    // as the standard has it, but likely misspelt.
    std::vector<std::string> warnings;
    double endTime = 0.0;
    long long steps = 0;
};

SspRunResult runSsp(const SspSystem &system, const SspRunOptions &options);

} // namespace kestrune::ssp
