#include "run.h"

#include "analysis/illegal_share.h"
#include "closed_loop.h"
#include "common/number_text.h"
#include "common/partial_file.h"
#include "outputs.h"
#include "ssp_export.h"
#include "ssp_file_run.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>

#include <unistd.h>

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
    if (options.exportSsp)
        return exportSsp(options, out, err);
    if (!options.ssp.empty())
        return runSspFile(options, out, err, errIsTerminal);

    // A scenario's name where the archive goes: say so rather than "no such
    // file".
    std::error_code exists;
    if (options.fmuPositional && !std::filesystem::exists(options.fmu, exists)) {
        Scenario named;
        const std::string problem = loadScenario(options.fmu, options.scenarioDir, named);
        if (problem.find("unknown scenario") == std::string::npos &&
            problem.find("no such scenario file") == std::string::npos) {
            err << "kestrune-sim: " << options.fmu
                << " is no file but names a scenario; to run it, use --scenario " << options.fmu << "\n";
            return 2;
        }
    }

    RunPlan plan;
    if (const std::string problem = planRun(options, plan); !problem.empty()) {
        err << "kestrune-sim: " << problem << '\n';
        return 2;
    }
    if (plan.plant.fmu && !plan.plant.plantFmu.empty())
        plan.plant.plantFmu = absolutePath(plan.plant.plantFmu);
    return runPlannedLoop(options, plan, options.fmu, absolutePath(options.fmu), out, err, errIsTerminal);
}

int runPlannedLoop(const Options &options, const RunPlan &plan, const std::string &fmuPath,
                   const std::string &fmuName, std::ostream &out, std::ostream &err, bool errIsTerminal) {
    for (const ScenarioEvent &event : plan.droppedEvents)
        err << "kestrune-sim: note: the " << eventKindName(event.kind) << " event at " << event.time
            << " s is left out: the run ends at " << plan.scenario.duration << " s\n";

    if (plan.baseStepsPerStep > 1)
        err << "kestrune-sim: warning: --step " << numberText(plan.step) << " s holds each unit's gates over "
            << plan.baseStepsPerStep
            << " base steps of 5e-06 s while the plant advances per base step: the modulation is sampled, "
               "so the current distortion and the DC ripple grow several-fold (at 1e-4 s the ripple alone "
               "exceeds 1 %), and the figures describe that distorted run, not the unit at its base step\n";

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

    // The run's files appear whole or not at all: the CSV is written beside
    // its final name and renamed once the run has completed, and the files
    // of an earlier run of the same name stay as they were until then.
    // Written under a name of this process (common/partial_file.h), so that
    // two runs of one scenario into one folder never truncate or remove each
    // other's partial files, and an interruption removes it.
    PartialFile partialCsvFile(paths.csv);
    const std::string &partialCsv = partialCsvFile.path();
    // The rows are formatted and written on a thread of their own, beside
    // the loop's.
    CsvRows csv(partialCsv, plan.scenario, CsvRows::Writer::Background);
    if (!csv.ok()) {
        err << "kestrune-sim: cannot open " << partialCsv << " for writing\n";
        return 1;
    }
    ProgressLine progress(err, errIsTerminal);
    const ClosedLoopResult result = runClosedLoop(fmuPath, plan, options.verbose, &csv, &progress, err);
    progress.finish();
    const bool csvWritten = csv.close();
    if (!result.ok) {
        err << "kestrune-sim: " << result.error << '\n';
        if (result.stepsDone > 0) {
            err << "kestrune-sim: the CSV up to there is in " << partialCsv
                << "; no other file was written, and those of an earlier run of " << name
                << " are left as they were\n";
            partialCsvFile.keep();
        }
        return 1;
    }
    if (!csvWritten) {
        err << "kestrune-sim: writing " << partialCsv << " failed\n";
        return 1;
    }
    for (const char *extension : {".json", ".png", ".svg", ".gp"})
        fs::remove(directory / (name + extension), ec);
    if (const std::string problem = partialCsvFile.commit(); !problem.empty()) {
        err << "kestrune-sim: " << problem << '\n';
        return 1;
    }

    int status = 0;
    if (options.plot) {
        const std::string dir = directory.string();
        if (std::string problem = writePlotScript(dir, plan, result.stopped ? result.stopTime : -1.0);
            !problem.empty()) {
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
                fs::remove(directory / (name + ".png"), ec);
                fs::remove(directory / (name + ".svg"), ec);
                status = 1;
                break;
            }
        }
    }

    paths.json = jsonPath;
    PartialFile partialJson(jsonPath);
    std::string problem = writeSummaryJson(partialJson.path(), fmuName, plan, result, paths);
    if (problem.empty())
        problem = partialJson.commit();
    if (!problem.empty()) {
        err << "kestrune-sim: " << problem << '\n';
        paths.json.clear();
        status = 1;
    }
    printSummary(out, plan, result, paths);
    // A run on gates illegal on too many steps keeps its files, as a
    // diverged run does, but is no run of the controller: it fails.
    if (const std::optional<plant::IllegalShare> share =
            plant::pervasiveIllegalPatterns(result.converterFigures, plan.baseStepsPerStep)) {
        err << "kestrune-sim: FAILED: " << plant::illegalShareText(*share) << '\n';
        return 1;
    }
    return status;
}

} // namespace kestrune::sim
