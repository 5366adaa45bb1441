// What kestrune-sweep is asked to do: its command line.
#pragma once

#include <string>

namespace kestrune::sweep {

struct SweepOptions {
    std::string sweep;       // a shipped sweep's name or a file
    std::string sweepDir;    // where names are looked up
    std::string scenarioDir; // where the base scenario's name is looked up
    std::string fmu;         // the unit's archive
    std::string outputDir = "out";
    unsigned jobs = 0; // 0: every core
    bool resume = false;
    bool plot = true;
    bool branch = true; // runs that share their first steps continue from them
};

} // namespace kestrune::sweep
