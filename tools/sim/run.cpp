#include "run.h"

#include "closed_loop.h"
#include "outputs.h"

#include <algorithm>
#include <filesystem>
#include <string>

namespace kestrune::sim {

namespace {

std::string absolutePath(const std::filesystem::path &path) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path.string() : absolute.lexically_normal().string();
}

int listScenarios(const Options &options, std::ostream &out, std::ostream &err) {
    const std::vector<std::string> names = scenarioNames(options.scenarioDir);
    if (names.empty()) {
        err << "kestrune-sim: no scenarios in " << options.scenarioDir << '\n';
        return 1;
    }
    std::size_t width = 0;
    for (const std::string &name : names)
        width = std::max(width, name.size());
    for (const std::string &name : names) {
        Scenario scenario;
        const std::string problem = loadScenario(name, options.scenarioDir, scenario);
        out << name << std::string(width + 2 - name.size(), ' ');
        if (!problem.empty())
            out << "(unreadable: " << problem << ")";
        else
            out << scenario.duration << " s  " << scenario.description;
        out << '\n';
    }
    return 0;
}

} // namespace

int runSimulation(const Options &options, std::ostream &out, std::ostream &err, bool errIsTerminal) {
    if (options.listScenarios)
        return listScenarios(options, out, err);

    RunPlan plan;
    if (const std::string problem = planRun(options, plan); !problem.empty()) {
        err << "kestrune-sim: " << problem << '\n';
        return 2;
    }
    for (const ScenarioEvent &event : plan.droppedEvents)
        err << "kestrune-sim: note: the " << eventKindName(event.kind) << " event at " << event.time
            << " s is left out: the run ends at " << plan.scenario.duration << " s\n";

    namespace fs = std::filesystem;
    const fs::path directory = options.outputDir;
    std::error_code ec;
    fs::create_directories(directory, ec);
    if (ec || !fs::is_directory(directory)) {
        err << "kestrune-sim: cannot create the output folder " << directory.string()
            << (ec ? ": " + ec.message() : std::string()) << '\n';
        return 1;
    }
    const std::string &name = plan.scenario.name;
    OutputPaths paths;
    paths.csv = absolutePath(directory / (name + ".csv"));
    const std::string jsonPath = absolutePath(directory / (name + ".json"));

    CsvRows csv(paths.csv, plan.scenario.parameters.splitLink);
    if (!csv.ok()) {
        err << "kestrune-sim: cannot open " << paths.csv << " for writing\n";
        return 1;
    }
    ProgressLine progress(err, errIsTerminal);
    const ClosedLoopResult result = runClosedLoop(options.fmu, plan, options.verbose, &csv, &progress, err);
    progress.finish();
    const bool csvWritten = csv.close();
    if (!result.ok) {
        err << "kestrune-sim: " << result.error << '\n';
        if (result.stepsDone > 0)
            err << "kestrune-sim: the CSV up to there is in " << paths.csv << '\n';
        else
            fs::remove(paths.csv, ec);
        return 1;
    }
    if (!csvWritten) {
        err << "kestrune-sim: writing " << paths.csv << " failed\n";
        return 1;
    }

    int status = 0;
    if (options.plot) {
        const std::string dir = directory.string();
        if (std::string problem = writePlotScript(dir, plan); !problem.empty()) {
            err << "kestrune-sim: " << problem << '\n';
            status = 1;
        } else {
            paths.plotScript = absolutePath(directory / (name + ".gp"));
            std::string message;
            switch (drawPlot(dir, name, message)) {
            case PlotOutcome::Drawn:
                paths.png = absolutePath(directory / (name + ".png"));
                paths.svg = absolutePath(directory / (name + ".svg"));
                break;
            case PlotOutcome::NoGnuplot:
                err << "kestrune-sim: note: " << message << '\n';
                break;
            case PlotOutcome::Failed:
                err << "kestrune-sim: " << message << '\n';
                status = 1;
                break;
            }
        }
    }

    paths.json = jsonPath;
    if (std::string problem = writeSummaryJson(jsonPath, absolutePath(options.fmu), plan, result, paths);
        !problem.empty()) {
        err << "kestrune-sim: " << problem << '\n';
        paths.json.clear();
        status = 1;
    }
    printSummary(out, plan, result, paths);
    return status;
}

} // namespace kestrune::sim
