#include "ssp_generic_run.h"

#include "common/number_text.h"
#include "ssp_loop_plan.h"
#include "ssp_run.h"

#include <filesystem>

namespace kestrune::sim {

namespace {

constexpr double DEFAULT_OUTPUT_INTERVAL = 1e-4; // [s], as the closed loop's rows

} // namespace

int runGenericSsp(const ssp::SspSystem &system, const std::string &sspPath, const Options &options,
                  std::ostream &out, std::ostream &err) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path folder = options.outputDir;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) {
        err << "kestrune-sim: cannot create the output folder " << folder.string()
            << (ec ? ": " + ec.message() : std::string()) << '\n';
        return 1;
    }
    const std::string name = outputName(system.name, fs::path(sspPath).stem().string());
    const fs::path csv = fs::absolute(folder / (name + ".csv"), ec).lexically_normal();

    ssp::SspRunOptions run;
    run.coupling = options.coupling == Coupling::Jacobi ? ssp::Coupling::Jacobi : ssp::Coupling::Sequential;
    run.step = options.stepGiven ? options.step : 0.0;
    if (!options.stepGiven && system.step <= 0.0) {
        err << "kestrune-sim: note: " << sspPath << " carries no step; running at "
            << numberText(options.step) << " s (give another with --step)\n";
        run.step = options.step;
    }
    if (options.duration)
        run.stopTime = system.startTime + *options.duration;
    run.csvPath = csv.string();
    run.outputInterval = options.outputInterval.value_or(DEFAULT_OUTPUT_INTERVAL);

    const ssp::SspRunResult result = ssp::runSsp(system, run);
    for (const std::string &warning : result.warnings)
        err << "kestrune-sim: warning: " << warning << '\n';
    if (!result.error.empty()) {
        err << "kestrune-sim: " << sspPath << ": " << result.error << '\n';
        return 1;
    }

    const double step = run.step > 0.0 ? run.step : system.step;
    out << name << ": " << system.components.size() << " components (";
    for (std::size_t i = 0; i < system.components.size(); ++i)
        out << (i > 0 ? ", " : "") << system.components[i].name;
    out << "), " << system.connections.size() << " connections, run by the generic runner ("
        << couplingName(options.coupling) << " coupling)\n";
    out << "  " << result.steps << " steps of " << numberText(step) << " s, from "
        << numberText(system.startTime) << " s to " << numberText(result.endTime) << " s";
    if (!result.stopped.empty())
        out << ": stopped early: " << result.stopped;
    out << '\n';
    if (!result.warnings.empty())
        out << "  " << result.warnings.size() << (result.warnings.size() == 1 ? " warning" : " warnings")
            << " (on stderr)\n";
    out << "CSV: " << csv.string() << '\n';
    return 0;
}

} // namespace kestrune::sim
