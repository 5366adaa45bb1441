// kestrune-sim: closes the loop between the packed unit and the plant.
#include "options.h"
#include "run.h"

#include "common/interruption.h"
#include "program_paths.h"

#include <filesystem>
#include <iostream>
#include <string_view>
#include <unistd.h>
#include <vector>

// Where the default archives and scenario folder lie relative to the
// program's own folder: installed (bin/ beside share/kestrune/), then in the
// build tree.
#ifndef KESTRUNE_INSTALLED_DATA
#define KESTRUNE_INSTALLED_DATA "../share/kestrune"
#endif
#ifndef KESTRUNE_BUILD_FMU
#define KESTRUNE_BUILD_FMU "../Kestrune.fmu"
#endif
#ifndef KESTRUNE_BUILD_FMU3_SCHEDULED
#define KESTRUNE_BUILD_FMU3_SCHEDULED "../Kestrune-fmi3-scheduled.fmu"
#endif
#ifndef KESTRUNE_BUILD_PLANT_FMU
#define KESTRUNE_BUILD_PLANT_FMU "../Kestrune-plant.fmu"
#endif
#ifndef KESTRUNE_BUILD_SCENARIOS
#define KESTRUNE_BUILD_SCENARIOS "../scenarios"
#endif
#ifndef KESTRUNE_BUILD_SSP
#define KESTRUNE_BUILD_SSP "../ssp"
#endif

namespace {

// What the run is, for the line an interruption prints.
std::string work(const kestrune::sim::Options &options) {
    if (!options.ssp.empty())
        return "running " + std::filesystem::path(options.ssp).filename().string();
    if (options.listScenarios)
        return "listing the scenarios";
    return "running " + std::filesystem::path(options.scenario).filename().string();
}

int run(int argc, char **argv) {
    namespace fs = std::filesystem;
    using kestrune::sim::firstExisting;
    using kestrune::sim::ParseResult;
    using kestrune::sim::programFolder;
    const fs::path folder = programFolder();
    const std::string defaultFmu =
        firstExisting(folder, {KESTRUNE_INSTALLED_DATA "/Kestrune.fmu", KESTRUNE_BUILD_FMU});
    const std::string defaultScheduledFmu = firstExisting(
        folder, {KESTRUNE_INSTALLED_DATA "/Kestrune-fmi3-scheduled.fmu", KESTRUNE_BUILD_FMU3_SCHEDULED});
    const std::string defaultPlantFmu =
        firstExisting(folder, {KESTRUNE_INSTALLED_DATA "/Kestrune-plant.fmu", KESTRUNE_BUILD_PLANT_FMU});
    const std::string defaultScenarios =
        firstExisting(folder, {KESTRUNE_INSTALLED_DATA "/scenarios", KESTRUNE_BUILD_SCENARIOS});

    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    ParseResult parsed = kestrune::sim::parseOptions(args, defaultFmu, defaultScenarios, defaultScheduledFmu);
    parsed.options.defaultPlantFmu = defaultPlantFmu;
    parsed.options.sspDir = firstExisting(folder, {KESTRUNE_INSTALLED_DATA "/ssp", KESTRUNE_BUILD_SSP});

    switch (parsed.action) {
    case ParseResult::Action::Help:
        std::cout << kestrune::sim::usage("kestrune-sim", defaultFmu, defaultScenarios, defaultScheduledFmu);
        return 0;
    case ParseResult::Action::Error:
        std::cerr << "kestrune-sim: " << parsed.error << "\nTry 'kestrune-sim --help'.\n";
        return 2;
    case ParseResult::Action::Run:
        break;
    }
    kestrune::sim::Options options = parsed.options;
    kestrune::setInterruptedWork(work(options));
    if (options.plant.fmu && options.plant.plantFmu.empty())
        options.plant.plantFmu = defaultPlantFmu;
    return kestrune::sim::runSimulation(options, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}

} // namespace

int main(int argc, char **argv) {
    kestrune::watchForInterruption("kestrune-sim");
    return kestrune::runGuarded([&] { return run(argc, argv); });
}
