#include "summary.h"

#include "boundary.h"
#include "common/partial_file.h"
#include "outputs.h"
#include "plot_script.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kestrune::sweep {

namespace {

namespace fs = std::filesystem;

std::string absolutePath(const fs::path &path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return ec ? path.string() : absolute.lexically_normal().string();
}

} // namespace

int finishSweep(const SweepPlan &plan, const SweepOptions &options, Collector &collector,
                const std::string &workers, std::size_t workerCount, std::ostream &out, std::ostream &err) {
    if (collector.failed()) {
        // The table stays as written, for --resume; no summary of a part.
        err << "kestrune-sweep: " << collector.failure() << '\n';
        return 1;
    }
    const double seconds = collector.seconds();
    int status = 0;
    if (std::string problem = collector.finish(); !problem.empty()) {
        err << "kestrune-sweep: " << problem << '\n';
        status = 1;
    }
    const SweepDefinition &definition = plan.definition;
    const std::string &name = definition.name;
    const fs::path directory = options.outputDir;
    const Collector::Tally &tally = collector.tally();
    const std::size_t ranNow = tally.done - collector.resumed();
    const double rate = seconds > 0.0 ? static_cast<double>(ranNow) / seconds : 0.0;
    const std::vector<std::string> boundaryText = boundaryLines(plan, tally);

    std::string png;
    std::error_code ec;
    fs::remove(directory / (name + ".png"), ec);
    if (options.plot && (definition.monteCarlo || definition.axes.size() <= 2)) {
        std::string message =
            writeWholeFile((directory / (name + ".gp")).string(),
                           plotScript(plan, collector, name, (directory / (name + ".csv")).string()));
        switch (message.empty() ? sim::drawPlot(directory.string(), name, message)
                                : sim::PlotOutcome::Failed) {
        case sim::PlotOutcome::Drawn:
            png = absolutePath(directory / (name + ".png"));
            break;
        case sim::PlotOutcome::NoGnuplot:
            err << "kestrune-sweep: note: " << message << '\n';
            break;
        case sim::PlotOutcome::Failed:
            err << "kestrune-sweep: " << message << '\n';
            status = 1;
            break;
        }
    }

    nlohmann::ordered_json summary;
    summary["sweep"] = {{"name", name},
                        {"description", definition.description},
                        {"file", absolutePath(definition.source)},
                        {"scenario", definition.scenario},
                        {"duration", definition.base.duration}};
    nlohmann::ordered_json fixed = nlohmann::ordered_json::object();
    for (const auto &[key, value] : definition.fixed)
        fixed[key] = value;
    summary["sweep"]["set"] = fixed;
    if (definition.monteCarlo) {
        nlohmann::ordered_json parameters = nlohmann::ordered_json::object();
        for (const Distribution &d : definition.distributions) {
            nlohmann::ordered_json p = {
                {"distribution", d.kind == Distribution::Kind::Normal ? "normal" : "uniform"}};
            if (d.kind == Distribution::Kind::Normal) {
                p["mean"] = d.mean;
                p["sd"] = d.sd;
            }
            p["min"] = d.min;
            p["max"] = d.max;
            parameters[d.key] = p;
        }
        summary["sweep"]["montecarlo"] = {
            {"count", definition.samples}, {"seed", definition.seed}, {"parameters", parameters}};
    } else {
        nlohmann::ordered_json axes = nlohmann::ordered_json::array();
        for (const Axis &axis : definition.axes)
            axes.push_back({{"key", axis.key}, {"values", axis.values}});
        summary["sweep"]["axes"] = axes;
    }
    summary["fmu"] = absolutePath(plan.fmu);
    nlohmann::ordered_json counts = nlohmann::ordered_json::object();
    for (std::size_t v = 0; v < VERDICT_COUNT; ++v)
        counts[verdictName(static_cast<Verdict>(v))] = tally.counts[v];
    summary["runs"] = {{"total", definition.runCount()},
                       {"done", tally.done},
                       {"resumed", collector.resumed()},
                       {"verdicts", counts}};
    summary["session"] = {{"workers", workers}, {"wallSeconds", seconds}, {"runsPerSecond", rate}};
    // Each worker computes the shared steps once, with its first run.
    const std::size_t keptBy = std::min(workerCount, ranNow);
    const std::size_t continued = ranNow - keptBy;
    if (plan.sharedSteps > 0)
        summary["branch"] = {{"sharedSeconds", plan.sharedSeconds},
                             {"sharedSteps", plan.sharedSteps},
                             {"computedTimes", keptBy},
                             {"runsContinued", continued},
                             {"simulatedSecondsSaved", plan.sharedSeconds * static_cast<double>(continued)}};
    if (tally.figureCount > 0)
        summary["figure"] = {{"name", collector.figureName()},
                             {"runs", tally.figureCount},
                             {"min", tally.figureMin},
                             {"max", tally.figureMax},
                             {"mean", tally.figureSum / static_cast<double>(tally.figureCount)}};
    if (!boundaryText.empty()) {
        // Per value of the second axis, each change along the first.
        nlohmann::ordered_json rows = nlohmann::ordered_json::array();
        for (const BoundaryRow &row : boundary(plan, tally)) {
            nlohmann::ordered_json changes = nlohmann::ordered_json::array();
            for (const BoundaryChange &change : row.changes)
                changes.push_back({{"from", verdictName(change.before)},
                                   {"at", change.beforeAt},
                                   {"to", verdictName(change.after)},
                                   {"next", change.afterAt}});
            rows.push_back({{definition.axes[1].key, row.value}, {"changes", changes}});
        }
        summary["boundary"] = {
            {"along", definition.axes[0].key}, {"per", definition.axes[1].key}, {"rows", rows}};
    }
    const std::string csv = absolutePath(directory / (name + ".csv"));
    const std::string jsonPath = absolutePath(directory / (name + ".json"));
    summary["files"] = {{"csv", csv},
                        {"plot", png.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(png)}};
    if (const std::string problem = writeWholeFile(jsonPath, summary.dump(2) + '\n'); !problem.empty()) {
        err << "kestrune-sweep: " << problem << '\n';
        status = 1;
    }

    out << "Sweep " << name << (definition.description.empty() ? "" : ": " + definition.description) << '\n';
    out << tally.done << " of " << definition.runCount() << " runs";
    if (collector.resumed() > 0)
        out << " (" << collector.resumed() << " from the earlier table)";
    char rateText[64];
    std::snprintf(rateText, sizeof rateText, "%.1f s, %.2f runs/s", seconds, rate);
    out << "; this session " << ranNow << " runs on " << workers << " in " << rateText << '\n';
    if (plan.sharedSteps > 0) {
        char line[200];
        std::snprintf(
            line, sizeof line,
            "Branched: every run shares its first %.4g s, computed %zu time%s instead of %zu: %.6g s of "
            "%.6g s simulated saved\n",
            plan.sharedSeconds, keptBy, keptBy == 1 ? "" : "s", ranNow,
            plan.sharedSeconds * static_cast<double>(continued),
            definition.base.duration * static_cast<double>(ranNow));
        out << line;
    }
    for (std::size_t v = 0; v < VERDICT_COUNT; ++v)
        if (tally.counts[v] > 0)
            out << "  " << verdictName(static_cast<Verdict>(v))
                << std::string(12 - std::strlen(verdictName(static_cast<Verdict>(v))), ' ') << tally.counts[v]
                << '\n';
    if (tally.figureCount > 0) {
        char line[160];
        std::snprintf(line, sizeof line, "%s over %zu runs: min %.6g, mean %.6g, max %.6g",
                      collector.figureName().c_str(), tally.figureCount, tally.figureMin,
                      tally.figureSum / static_cast<double>(tally.figureCount), tally.figureMax);
        out << line << '\n';
    }
    if (!boundaryText.empty()) {
        out << "Boundary along " << definition.axes[0].key << " (where the verdict changes):\n";
        for (const std::string &line : boundaryText)
            out << "  " << line << '\n';
    }
    out << "\nCSV   " << csv << "\nJSON  " << jsonPath << '\n';
    if (!png.empty())
        out << "plot  " << png << '\n';
    return status;
}

} // namespace kestrune::sweep
