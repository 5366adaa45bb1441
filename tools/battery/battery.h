// kestrune-battery's run: the battery's runs spread over this machine's
// cores by the sweep's pool, their outcomes collected with a progress
// line, and the outputs written.
#pragma once

#include <ostream>
#include <string>

namespace kestrune::battery {

struct BatteryOptions {
    std::string battery;     // a shipped battery's name or a file
    std::string batteryDir;  // where names are looked up
    std::string scenarioDir; // where the tests' scenario names are looked up
    std::string fmu;         // the unit's archive
    std::string outputDir = "out";
    unsigned jobs = 0; // 0: every core
    bool plot = true;
};

// Returns the exit status: 0 every run passes, 3 some fail, 1 when the
// archive or an output fails, 2 for a battery file that is not valid.
int runBattery(const BatteryOptions &options, std::ostream &out, std::ostream &err, bool errIsTerminal);

} // namespace kestrune::battery
