// kestrune-battery: runs a battery of ride-through tests (scenarios with
// their grid events, each on its grid strengths, judged by its criteria) on
// every core of this machine, and writes the table, the JSON and a
// self-contained HTML report.
#include "battery.h"

#include "command_line.h"
#include "common/interruption.h"
#include "program_paths.h"
#include "scenario.h"

#include <filesystem>
#include <iostream>
#include <string_view>
#include <unistd.h>

#ifndef KESTRUNE_INSTALLED_DATA
#define KESTRUNE_INSTALLED_DATA "../share/kestrune"
#endif
#ifndef KESTRUNE_BUILD_FMU3
#define KESTRUNE_BUILD_FMU3 "../Kestrune-fmi3.fmu"
#endif
#ifndef KESTRUNE_BUILD_SCENARIOS
#define KESTRUNE_BUILD_SCENARIOS "../scenarios"
#endif
#ifndef KESTRUNE_BUILD_BATTERIES
#define KESTRUNE_BUILD_BATTERIES "../batteries"
#endif

namespace {

std::string usage(const kestrune::battery::BatteryOptions &defaults) {
    return "Usage: kestrune-battery [options] BATTERY.json|NAME\n"
           "\n"
           "Runs a battery of ride-through tests: each test a scenario with its grid\n"
           "events, run on each of its grid strengths and judged by its criteria (no\n"
           "divergence, no illegal pattern, peak current, link band during the event,\n"
           "recovery into 495-505 V). Writes OUT/NAME.csv (one row per test and grid),\n"
           "OUT/NAME.json, and OUT/NAME.html, a report that opens from the file in any\n"
           "browser; each run's CSV and plot go to OUT/NAME/. Exit status 0 when every\n"
           "run passes, 3 when some fail, 130 or 143 when interrupted (its temporary\n"
           "files removed).\n"
           "\n"
           "Options:\n"
           "  --jobs N            workers on this machine (default: every core)\n"
           "  --fmu PATH          the unit's archive (default: " +
           defaults.fmu +
           ")\n"
           "  --output-dir DIR    where the files go (default: out)\n"
           "  --no-plot           no gnuplot (the report then has no plots)\n"
           "  --battery-dir DIR   where battery names are looked up (default: " +
           defaults.batteryDir +
           ")\n"
           "  --scenario-dir DIR  where scenario names are looked up (default: " +
           defaults.scenarioDir + ")\n  --help\n";
}

int run(int argc, char **argv) {
    namespace fs = std::filesystem;
    using kestrune::sim::firstExisting;
    const fs::path folder = kestrune::sim::programFolder();
    kestrune::battery::BatteryOptions options;
    options.fmu = firstExisting(folder, {KESTRUNE_INSTALLED_DATA "/Kestrune-fmi3.fmu", KESTRUNE_BUILD_FMU3});
    options.scenarioDir =
        firstExisting(folder, {KESTRUNE_INSTALLED_DATA "/scenarios", KESTRUNE_BUILD_SCENARIOS});
    options.batteryDir =
        firstExisting(folder, {KESTRUNE_INSTALLED_DATA "/batteries", KESTRUNE_BUILD_BATTERIES});

    auto bad = [](const std::string &problem) {
        std::cerr << "kestrune-battery: " << problem << "\nTry 'kestrune-battery --help'.\n";
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string value;
        if (!kestrune::sweep::takeOptionValue(
                argc, argv, i, {"--jobs", "--fmu", "--output-dir", "--battery-dir", "--scenario-dir"}, arg,
                value))
            return bad(std::string(arg) + " needs a value");
        if (arg == "--help" || arg == "-h") {
            std::cout << usage(options);
            return 0;
        } else if (arg == "--jobs") {
            const std::optional<unsigned> jobs = kestrune::sweep::parseJobs(value);
            if (!jobs)
                return bad("--jobs takes a whole number from 1 to 4096, not '" + value + "'");
            options.jobs = *jobs;
        } else if (arg == "--fmu") {
            options.fmu = value;
        } else if (arg == "--output-dir") {
            options.outputDir = value;
        } else if (arg == "--battery-dir") {
            options.batteryDir = value;
        } else if (arg == "--scenario-dir") {
            options.scenarioDir = value;
        } else if (arg == "--no-plot") {
            options.plot = false;
        } else if (arg.starts_with("-")) {
            return bad("unknown option " + std::string(arg));
        } else if (options.battery.empty()) {
            options.battery = std::string(arg);
        } else {
            return bad("one battery at a time ('" + options.battery + "' and '" + std::string(arg) + "')");
        }
    }
    if (options.battery.empty())
        return bad("no battery given");
    kestrune::setInterruptedWork("running the battery " + fs::path(options.battery).filename().string());
    return kestrune::battery::runBattery(options, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}

} // namespace

int main(int argc, char **argv) {
    kestrune::watchForInterruption("kestrune-battery");
    return kestrune::runGuarded([&] { return run(argc, argv); });
}
