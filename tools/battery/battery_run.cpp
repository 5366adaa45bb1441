#include "battery_run.h"
#include "input_file.h"

#include "common/partial_file.h"
#include "outputs.h"
#include "sweep_run.h"

#include <filesystem>
#include <sstream>

namespace kestrune::battery {

namespace {

using json = nlohmann::ordered_json;

// Every base step to the watches, every twentieth (1e-4 s) to the CSV the
// plot is drawn from.
class RunSinks : public sim::RowSink {
  public:
    RunSinks(sweep::SwingWatch &swing, CriteriaWatch &criteria, sim::CsvRows *csv)
        : swing_(swing), criteria_(criteria), csv_(csv) {}
    void row(const sim::PlantSignals &signals) override {
        swing_.row(signals);
        criteria_.row(signals);
        if (csv_ != nullptr && signals.step % CSV_EVERY == 0)
            csv_->row(signals);
    }

  private:
    static constexpr std::int64_t CSV_EVERY = 20;
    sweep::SwingWatch &swing_;
    CriteriaWatch &criteria_;
    sim::CsvRows *csv_;
};

json figuresJson(const sim::Scenario &scenario, const std::vector<plant::SegmentFigures> &figures) {
    json list = json::array();
    for (const plant::SegmentFigures &f : figures) {
        auto steady = [&f](double value) { return f.steady ? json(value) : json(); };
        list.push_back({{"start", f.start},
                        {"end", f.end},
                        {"beginsWith", sim::segmentLabel(scenario, f.start)},
                        {"vdcMin", f.vdcMin},
                        {"vdcMax", f.vdcMax},
                        {"settlingTime", f.settled ? json(f.settlingTime) : json()},
                        {"peakCurrentPu", f.peakCurrentPu},
                        {"steadyRmsPu", steady(f.steadyRmsPu)},
                        {"thd", steady(f.thd)},
                        {"positiveSequencePu", steady(f.positiveSequencePu)},
                        {"negativeSequencePu", steady(f.negativeSequencePu)},
                        {"currentUnbalance", steady(f.currentUnbalance)},
                        {"vdcRipple120", steady(f.vdcRipple120)},
                        {"pccNegativeSequence", steady(f.pccNegativeSequence)},
                        {"illegalPatterns", f.illegalPatterns},
                        {"directChanges", f.directChanges}});
    }
    return list;
}

} // namespace

std::string runOutcome(const Battery &battery, const RunContext &context, std::size_t run) {
    const Battery::Run which = battery.runs().at(run);
    const BatteryTest &test = battery.tests[which.test];
    json outcome{{"run", run}};

    sim::Options options;
    options.outputInterval = kestrune::BASE_STEP; // every base step to the watches
    sim::RunPlan plan;
    std::string problem = sim::planRun(options, battery.runScenario(which), plan);
    const double duration = plan.scenario.duration;
    sweep::SwingWatch swing(sim::segmentStarts(plan.scenario), duration, sim::converterCount(plan.scenario));
    CriteriaWatch watch(test.eventStart, test.eventEnd, duration);
    sim::ClosedLoopResult result;
    const std::string name = plan.scenario.name;
    const std::string csvPath = (std::filesystem::path(context.runDir) / (name + ".csv")).string();
    if (problem.empty()) {
        PartialFile csvFile(csvPath);
        sim::CsvRows csv(csvFile.path(), plan.scenario);
        if (!csv.ok())
            problem = "cannot write " + csvPath;
        RunSinks sinks(swing, watch, csv.ok() ? &csv : nullptr);
        std::ostringstream unitMessages;
        if (problem.empty()) {
            result = sim::runClosedLoop(context.fmu, plan, false, &sinks, nullptr, unitMessages);
            swing.finish();
            if (!csv.close())
                problem = "writing " + csvPath + " failed";
            else
                problem = csvFile.commit();
        }
    }
    if (!problem.empty()) {
        result.ok = false;
        result.error = problem;
    }
    std::string reason;
    const sweep::Verdict verdict = sweep::judge(result, swing, reason);
    outcome["verdict"] = sweep::verdictName(verdict);
    outcome["reason"] = reason;
    outcome["wallSeconds"] = result.wallSeconds;
    if (!result.ok) {
        outcome["pass"] = false;
        outcome["criteria"] = json::array();
        outcome["converters"] = json::array();
        return outcome.dump(-1, ' ', false, json::error_handler_t::replace);
    }
    const std::vector<Judged> judged = judgeCriteria(test.criteria, watch.measurements(result));
    outcome["pass"] = passes(judged);
    json criteria = json::array();
    for (const Judged &j : judged)
        criteria.push_back({{"key", j.key},
                            {"title", j.title},
                            {"measured", j.measured},
                            {"mark", markName(j.mark)},
                            {"limit", j.limit}});
    outcome["criteria"] = criteria;
    json converters = json::array();
    for (const std::vector<plant::SegmentFigures> &figures : result.converterFigures)
        converters.push_back(figuresJson(plan.scenario, figures));
    outcome["converters"] = converters;
    outcome["csv"] = csvPath;
    if (context.plot) {
        std::string message =
            sim::writePlotScript(context.runDir, plan, result.stopped ? result.stopTime : -1.0, false);
        if (message.empty() && sim::drawPlot(context.runDir, name, message) == sim::PlotOutcome::Drawn)
            outcome["png"] = (std::filesystem::path(context.runDir) / (name + ".png")).string();
        else
            outcome["plotProblem"] = message;
    }
    return outcome.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string failedOutcome(std::size_t run, const std::string &reason) {
    const json outcome{
        {"run", run},    {"verdict", "failed"},       {"reason", reason},           {"wallSeconds", 0.0},
        {"pass", false}, {"criteria", json::array()}, {"converters", json::array()}};
    return outcome.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool parseOutcome(const std::string &line, Outcome &outcome) {
    if (!sim::parseJsonText(line, "worker", outcome).empty())
        return false;
    return outcome.is_object() && outcome.contains("run") && outcome["run"].is_number_unsigned() &&
           outcome.contains("pass") && outcome.contains("criteria");
}

} // namespace kestrune::battery
