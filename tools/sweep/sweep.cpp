#include "sweep.h"

#include "master/fmu_archive.h"

#include <algorithm>
#include <filesystem>
#include <thread>

namespace kestrune::sweep {

namespace fs = std::filesystem;

int prepareSweep(const SweepOptions &options, SweepPlan &plan, std::ostream &err) {
    SweepDefinition definition;
    if (std::string problem = loadSweep(options.sweep, options.sweepDir, options.scenarioDir, definition);
        !problem.empty()) {
        err << "kestrune-sweep: " << problem << '\n';
        return 2;
    }
    planSweep(definition, options.fmu, plan, options.branch);
    return 0;
}

int runLocalSweep(const SweepOptions &options, std::ostream &out, std::ostream &err, bool errIsTerminal) {
    SweepPlan plan;
    if (const int status = prepareSweep(options, plan, err); status != 0)
        return status;
    // The archive once, before any run: its edition decides how workers
    // keep their models apart.
    master::UnpackedFmu fmu;
    if (!fmu.open(options.fmu)) {
        err << "kestrune-sweep: " << fmu.error() << '\n';
        return 1;
    }
    const bool fmi3 = fmu.description().isFmi3();
    if (!fmi3)
        plan.sharedSteps = 0; // no FMU state: every run from zero

    std::error_code ec;
    fs::create_directories(options.outputDir, ec);
    if (ec || !fs::is_directory(options.outputDir)) {
        err << "kestrune-sweep: cannot create the output folder " << options.outputDir
            << (ec ? ": " + ec.message() : std::string(": a file of that name is in the way")) << '\n';
        return 1;
    }
    Collector collector(plan, err, errIsTerminal);
    const std::string csv = (fs::path(options.outputDir) / (plan.definition.name + ".csv")).string();
    if (std::string problem = collector.open(csv, options.resume); !problem.empty()) {
        err << "kestrune-sweep: " << problem << '\n';
        return 1;
    }
    unsigned jobs = options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    const std::vector<std::size_t> runs = collector.pending();
    jobs = static_cast<unsigned>(std::max<std::size_t>(1, std::min<std::size_t>(jobs, runs.size())));
    const std::string problem =
        fmi3 ? runOnThreads(plan, runs, jobs, collector) : runInProcesses(plan, runs, jobs, collector);
    if (!problem.empty()) {
        err << "kestrune-sweep: " << problem << '\n';
        return 1;
    }
    const std::string workers = std::to_string(jobs) + (fmi3 ? (jobs == 1 ? " thread" : " threads")
                                                             : (jobs == 1 ? " process" : " processes"));
    return finishSweep(plan, options, collector, workers, jobs, out, err);
}

} // namespace kestrune::sweep
