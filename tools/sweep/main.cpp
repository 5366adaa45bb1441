// kestrune-sweep: runs a closed-loop scenario over a grid or a Monte Carlo
// sample of its parameters, on every core of this machine or over the ranks
// of an MPI job.
#include "sweep.h"
#ifdef KESTRUNE_MPI
#include "mpi_sweep.h"
#endif

#include "command_line.h"
#include "common/interruption.h"
#include "program_paths.h"

#include <cstdlib>
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
#ifndef KESTRUNE_BUILD_SWEEPS
#define KESTRUNE_BUILD_SWEEPS "../sweeps"
#endif

namespace {

namespace fs = std::filesystem;

std::string usage(const kestrune::sweep::SweepOptions &defaults) {
    return "Usage: kestrune-sweep [options] SWEEP.json|NAME\n"
           "\n"
           "Runs the closed loop of kestrune-sim over a sweep: a base scenario and either\n"
           "axes of parameter values (their product is the grid) or a Monte Carlo sample.\n"
           "Each run gets a verdict (holds, unsettled, oscillating, illegal, diverged,\n"
           "failed) and a row of the table OUT/NAME.csv, written as it arrives; at the end\n"
           "NAME.json summarises, NAME.png plots, and a two-axis sweep prints its boundary.\n"
           "Under mpirun or srun --mpi=pmix the runs are spread over the ranks.\n"
           "\n"
           "Options:\n"
           "  --jobs N            workers on this machine (default: every core)\n"
           "  --resume            keep the rows already in OUT/NAME.csv and run the rest\n"
           "  --fmu PATH          the unit's archive (default: " +
           defaults.fmu +
           ")\n"
           "  --output-dir DIR    where the files go (default: out)\n"
           "  --no-plot           no gnuplot\n"
           "  --no-branch         run every run from zero, even where the runs share their\n"
           "                      first steps and the archive can keep its state\n"
           "  --sweep-dir DIR     where sweep names are looked up (default: " +
           defaults.sweepDir +
           ")\n"
           "  --scenario-dir DIR  where scenario names are looked up (default: " +
           defaults.scenarioDir + ")\n  --help\n";
}

// srun starts each task of a step with SLURM_STEP_NUM_TASKS. Tasks that are
// not the ranks of one MPI job (srun --mpi=none, or a program built without
// MPI) would each run the whole sweep and write the same table: refuse them,
// with one message from the first task. Returns the exit status, or -1 to go on.
int refuseTasksWithoutMpi() {
    const char *tasks = std::getenv("SLURM_STEP_NUM_TASKS");
    const std::optional<double> count = tasks != nullptr ? kestrune::sim::parseReal(tasks) : std::nullopt;
    if (!count || *count < 2.0)
        return -1;
#ifdef KESTRUNE_MPI
    if (kestrune::sweep::launchedByMpi())
        return -1;
    const char *how = "start them as MPI ranks (srun --mpi=pmix) or run one task";
#else
    const char *how = "this kestrune-sweep was built without MPI: run one task";
#endif
    const char *procid = std::getenv("SLURM_PROCID");
    if (procid == nullptr || std::string_view(procid) == "0")
        std::cerr << "kestrune-sweep: srun started " << tasks
                  << " tasks that are not the ranks of one MPI job, and each would write the whole table; "
                  << how << '\n';
    return 2;
}

int run(int argc, char **argv) {
    using kestrune::sim::firstExisting;
    using kestrune::sim::programFolder;
    using kestrune::sweep::SweepOptions;
    const fs::path folder = programFolder();
    SweepOptions options;
    options.fmu = firstExisting(folder, {KESTRUNE_INSTALLED_DATA "/Kestrune-fmi3.fmu", KESTRUNE_BUILD_FMU3});
    options.scenarioDir =
        firstExisting(folder, {KESTRUNE_INSTALLED_DATA "/scenarios", KESTRUNE_BUILD_SCENARIOS});
    options.sweepDir = firstExisting(folder, {KESTRUNE_INSTALLED_DATA "/sweeps", KESTRUNE_BUILD_SWEEPS});

    auto bad = [](const std::string &problem) {
        std::cerr << "kestrune-sweep: " << problem << "\nTry 'kestrune-sweep --help'.\n";
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string value;
        if (!kestrune::sweep::takeOptionValue(
                argc, argv, i, {"--jobs", "--fmu", "--output-dir", "--sweep-dir", "--scenario-dir"}, arg,
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
        } else if (arg == "--sweep-dir") {
            options.sweepDir = value;
        } else if (arg == "--scenario-dir") {
            options.scenarioDir = value;
        } else if (arg == "--resume") {
            options.resume = true;
        } else if (arg == "--no-plot") {
            options.plot = false;
        } else if (arg == "--no-branch") {
            options.branch = false;
        } else if (arg.starts_with("-")) {
            return bad("unknown option " + std::string(arg));
        } else if (options.sweep.empty()) {
            options.sweep = std::string(arg);
        } else {
            return bad("one sweep at a time ('" + options.sweep + "' and '" + std::string(arg) + "')");
        }
    }
    if (options.sweep.empty())
        return bad("no sweep given");
    kestrune::setInterruptedWork("running the sweep " +
                                 std::filesystem::path(options.sweep).filename().string());
    if (const int refused = refuseTasksWithoutMpi(); refused >= 0)
        return refused;
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
#ifdef KESTRUNE_MPI
    if (kestrune::sweep::launchedByMpi())
        return kestrune::sweep::runMpiSweep(options, std::cout, std::cerr, terminal);
#endif
    return kestrune::sweep::runLocalSweep(options, std::cout, std::cerr, terminal);
}

} // namespace

int main(int argc, char **argv) {
    kestrune::watchForInterruption("kestrune-sweep");
    return kestrune::runGuarded([&] { return run(argc, argv); });
}
