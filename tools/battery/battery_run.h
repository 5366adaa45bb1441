// One run of a battery on a worker: the test's scenario on one grid, the
// closed loop watched every base step for the criteria and the verdict,
// the run's CSV and plot, and the outcome as one line of JSON that any
// worker, thread or process, hands back.
#pragma once

#include "battery_file.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>

namespace kestrune::battery {

struct RunContext {
    std::string fmu;
    std::string runDir; // the runs' CSV, plot scripts and plots
    bool plot = true;
};

// Runs run `run` of the battery and returns its outcome (without a line
// end). A run that cannot be completed is an outcome too, failing.
std::string runOutcome(const Battery &battery, const RunContext &context, std::size_t run);

// The outcome of a run whose worker died, with what happened.
std::string failedOutcome(std::size_t run, const std::string &reason);

// An outcome read back: run, pass, verdict, reason, criteria (key, title,
// measured, mark, limit), converters (their segments' figures), csv, png.
using Outcome = nlohmann::ordered_json;
bool parseOutcome(const std::string &line, Outcome &outcome);

} // namespace kestrune::battery
