// A battery of ride-through tests, read from a small JSON file (format in
// the README): each test a scenario with its events, the grid strengths to
// run it on and the criteria it must meet. The battery expands into runs,
// one per test and grid, each a scenario ready to run.
#pragma once

#include "criteria.h"
#include "scenario.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::battery {

// A grid strength: stiff, or a short-circuit ratio (with the scenario's X/R).
struct GridStrength {
    std::optional<double> scr;
    std::string label() const; // "stiff", "SCR 5"
    std::string tag() const;   // "stiff", "scr5": in file names
};

struct BatteryTest {
    std::string name;  // letters, digits, '_' and '-'
    std::string title; // one line for the report
    std::string text;  // what the test shows, for the report
    // The scenario with the test's events, duration and overrides, on the
    // grid its scenario names (each run sets its own strength).
    sim::Scenario scenario;
    std::vector<GridStrength> grids;
    Criteria criteria;
    // [s] the event's span, for the link band and the recovery: by default
    // from the first to the last of the test's own events; an end at or
    // after the run's end leaves nothing to recover.
    double eventStart = 0.0;
    double eventEnd = 0.0;
};

struct Battery {
    std::string name; // names the output files
    std::string description;
    std::vector<std::string> text; // paragraphs for the report
    std::string source;            // the battery file
    std::vector<BatteryTest> tests;

    // A run: one test on one of its grids, numbered test by test.
    struct Run {
        std::size_t test;
        std::size_t grid;
    };
    std::vector<Run> runs() const;
    // The run's scenario: the test's on the run's grid, named TEST-GRID.
    sim::Scenario runScenario(const Run &run) const;
};

// Reads a battery from JSON text; source names it in messages, and scenario
// names are looked up in scenarioDir (paths relative to the battery's
// folder). Returns "" and fills battery, or one line naming the file and
// the place of what is wrong.
std::string parseBattery(const std::string &text, const std::string &source, const std::string &scenarioDir,
                         Battery &battery);
// Reads the file, or a shipped battery by name from batteryDir.
std::string loadBattery(const std::string &nameOrPath, const std::string &batteryDir,
                        const std::string &scenarioDir, Battery &battery);

} // namespace kestrune::battery
