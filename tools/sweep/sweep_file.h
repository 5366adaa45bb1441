// A sweep: a base scenario with fixed overrides, and either a grid of axes or
// a Monte Carlo sample of parameters, read from a small JSON file (format in
// the README). Each run of the sweep is a list of --set overrides on top of
// the base, computed from its run index alone, so that any worker, thread,
// process or rank computes the same run from the same index.
#pragma once

#include "options.h"
#include "scenario.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrune::sweep {

struct Axis {
    std::string key;            // as --set takes it
    std::vector<double> values; // in the order the runs take them
    bool log = false;           // spaced logarithmically (plotted on a log scale)
};

struct Distribution {
    enum class Kind { Uniform, Normal };
    std::string key;
    Kind kind = Kind::Uniform;
    double min = 0.0; // bounds of the values drawn (both kinds)
    double max = 0.0;
    double mean = 0.0; // normal only
    double sd = 0.0;
};

struct SweepDefinition {
    std::string name; // names the output files
    std::string description;
    std::string source;   // the sweep file
    std::string scenario; // the base scenario's name or path, as written
    // The base scenario with the fixed overrides and the duration applied.
    sim::Scenario base;
    std::vector<std::pair<std::string, std::string>> fixed; // as written, for the summary

    std::vector<Axis> axes; // the grid: the first axis varies fastest
    bool monteCarlo = false;
    std::int64_t samples = 0;
    std::uint64_t seed = 0;
    std::vector<Distribution> distributions;

    // The figure the plot colours a map by, draws along one axis, or makes a
    // histogram of ("" : the verdict for a map, s0_vdc_min otherwise).
    std::string figure;

    std::size_t runCount() const;
    // The swept keys, in the order of the CSV's columns.
    std::vector<std::string> keys() const;
    // The values of run `run` (< runCount()), in the order of keys().
    std::vector<double> values(std::size_t run) const;
};

// The text a value is given to --set as: the shortest that reads back as
// the same double.
std::string valueText(double value);

// Reads a sweep from JSON text; source names it in messages, and a scenario
// path in it is taken relative to the sweep file's folder. Returns "" and
// fills definition, or one line saying what is wrong.
std::string parseSweep(const std::string &text, const std::string &source, const std::string &scenarioDir,
                       SweepDefinition &definition);
// Reads the file, or a shipped sweep by name from sweepDir.
std::string loadSweep(const std::string &nameOrPath, const std::string &sweepDir,
                      const std::string &scenarioDir, SweepDefinition &definition);

// The figure names a row carries per converter and segment.
const std::vector<const char *> &figureNames();

} // namespace kestrune::sweep
