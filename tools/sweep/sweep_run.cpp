#include "sweep_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

namespace kestrune::sweep {

namespace {

constexpr const char *VERDICT_NAMES[VERDICT_COUNT] = {"holds",   "unsettled", "oscillating",
                                                      "illegal", "diverged",  "failed"};

// Figures with six significant digits: enough for a map, and the same text
// from every worker.
void appendNumber(std::string &row, double value) {
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof buffer, "%.6g", value);
    row.append(buffer, static_cast<std::size_t>(n));
}

std::string fixed(double value, int digits) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.*f", digits, value);
    return buffer;
}

// A field in double quotes, quotes doubled, line ends dropped.
void appendQuoted(std::string &row, const std::string &text) {
    row += '"';
    for (const char c : text) {
        if (c == '"')
            row += "\"\"";
        else if (c != '\n' && c != '\r')
            row += c;
    }
    row += '"';
}

} // namespace

const char *verdictName(Verdict verdict) {
    return VERDICT_NAMES[static_cast<std::size_t>(verdict)];
}

bool verdictFromName(std::string_view name, Verdict &verdict) {
    for (std::size_t v = 0; v < VERDICT_COUNT; ++v)
        if (name == VERDICT_NAMES[v]) {
            verdict = static_cast<Verdict>(v);
            return true;
        }
    return false;
}

void SwingWatch::Window::add(double v) {
    if (!any) {
        min = max = v;
        any = true;
    } else {
        min = std::min(min, v);
        max = std::max(max, v);
    }
}

SwingWatch::SwingWatch(std::vector<double> segmentStarts, double duration, std::size_t converters)
    : converters_(converters), previous_(converters), last_(converters), swings_(converters) {
    starts_.push_back(0.0);
    for (const double start : segmentStarts) {
        ends_.push_back(start);
        starts_.push_back(start);
    }
    ends_.push_back(duration);
}

void SwingWatch::beginSegment(std::size_t segment, double frequency) {
    segment_ = segment;
    const double window = CYCLES / frequency;
    lastFrom_ = ends_[segment] - window;
    previousFrom_ = ends_[segment] - 2.0 * window;
    measurable_ = previousFrom_ >= starts_[segment] - 1e-9;
    for (std::size_t j = 0; j < converters_; ++j)
        previous_[j] = last_[j] = Window{};
}

void SwingWatch::closeSegment() {
    for (std::size_t j = 0; j < converters_; ++j) {
        Swing swing;
        swing.measured = measurable_ && previous_[j].any && last_[j].any;
        if (swing.measured) {
            swing.last = last_[j].spread();
            swing.previous = previous_[j].spread();
        }
        swings_[j].push_back(swing);
    }
}

void SwingWatch::row(const plant::Plant &plant) {
    const double t = plant.time();
    if (!started_) {
        started_ = true;
        beginSegment(0, plant.gridFrequency());
    }
    // A row at a segment's end, taken with the next segment's event in
    // force, is the next segment's first.
    while (segment_ + 1 < ends_.size() && t >= ends_[segment_] - 1e-9) {
        closeSegment();
        beginSegment(segment_ + 1, plant.gridFrequency());
    }
    for (std::size_t j = 0; j < converters_; ++j) {
        const double vdc = plant.state(j).vdc;
        if (t >= lastFrom_ - 1e-9)
            last_[j].add(vdc);
        else if (t >= previousFrom_ - 1e-9)
            previous_[j].add(vdc);
    }
}

bool SwingWatch::continueFrom(const SwingWatch &past) {
    const std::size_t begun = past.started_ ? past.segment_ + 1 : 0;
    if (converters_ != past.converters_ || begun > ends_.size())
        return false;
    for (std::size_t k = 0; k < begun; ++k)
        if (starts_[k] != past.starts_[k] || ends_[k] != past.ends_[k])
            return false;
    std::vector<double> starts = std::move(starts_);
    std::vector<double> ends = std::move(ends_);
    *this = past;
    starts_ = std::move(starts);
    ends_ = std::move(ends);
    return true;
}

void SwingWatch::finish() {
    if (started_ && swings_.front().size() <= segment_)
        closeSegment();
}

bool oscillates(double last, double previous) {
    return last > SWING_WIDE || (last > SWING_FLOOR && last > SWING_GROWTH * previous);
}

Verdict judge(const sim::ClosedLoopResult &result, const SwingWatch &watch, std::string &reason) {
    reason.clear();
    if (!result.ok) {
        reason = result.error;
        return Verdict::Failed;
    }
    if (result.stopped) {
        reason = "stopped at t = " + fixed(result.stopTime, 5) + " s: " + result.stopReason;
        return Verdict::Diverged;
    }
    if (result.illegalPatterns > 0 || result.directChanges > 0) {
        reason = std::to_string(result.illegalPatterns) + " illegal gate patterns, " +
                 std::to_string(result.directChanges) + " direct changes between +1 and -1";
        return Verdict::Illegal;
    }
    const std::size_t n = result.converterFigures.size();
    auto who = [n](std::size_t j) {
        return n == 1 ? std::string() : "converter " + std::to_string(j) + ", ";
    };
    for (std::size_t j = 0; j < watch.swings().size(); ++j)
        for (std::size_t k = 0; k < watch.swings()[j].size(); ++k) {
            const SwingWatch::Swing &s = watch.swings()[j][k];
            if (s.measured && oscillates(s.last, s.previous)) {
                reason = who(j) + "segment " + std::to_string(k) + ": the link swings " + fixed(s.last, 2) +
                         " V over the last three grid cycles, up from " + fixed(s.previous, 2) + " V";
                return Verdict::Oscillating;
            }
        }
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t k = 0; k < result.converterFigures[j].size(); ++k) {
            const plant::SegmentFigures &f = result.converterFigures[j][k];
            if (!f.settled) {
                reason = who(j) + "segment " + std::to_string(k) + " (" + fixed(f.start, 3) + "-" +
                         fixed(f.end, 3) + " s) ends with the link outside 495-505 V (it spans " +
                         fixed(f.vdcMin, 2) + "-" + fixed(f.vdcMax, 2) + " V)";
                return Verdict::Unsettled;
            }
        }
    return Verdict::Holds;
}

std::string runPlanOf(const SweepPlan &plan, std::size_t run, sim::RunPlan &runPlan) {
    const std::vector<double> values = plan.definition.values(run);
    const std::vector<std::string> keys = plan.definition.keys();
    sim::Options options;
    for (std::size_t i = 0; i < keys.size(); ++i)
        options.overrides.emplace_back(keys[i], valueText(values[i]));
    // A row of the loop every 25 us: the link's swing is read from them.
    options.outputInterval = 25e-6;
    return sim::planRun(options, plan.definition.base, runPlan);
}

namespace {

// The base step of each of a run's plant events, in the order the plant
// applies them.
struct EventStep {
    std::int64_t step;
    plant::GridEvent event;
};
std::vector<EventStep> eventSteps(const sim::Scenario &scenario) {
    std::vector<EventStep> steps;
    for (const plant::GridEvent &event : sim::plantEvents(scenario))
        steps.push_back({plant::stepIndexAtOrAfter(event.time), event});
    std::stable_sort(steps.begin(), steps.end(),
                     [](const EventStep &a, const EventStep &b) { return a.step < b.step; });
    return steps;
}

bool sameEvent(const EventStep &a, const EventStep &b) {
    return a.step == b.step && a.event.kind == b.event.kind && a.event.value == b.event.value &&
           a.event.converter == b.event.converter;
}

} // namespace

std::int64_t sharedSteps(const std::vector<sim::RunPlan> &runs) {
    if (runs.size() < 2)
        return 0;
    const sim::RunPlan &first = runs.front();
    const sim::Scenario &base = first.scenario;
    const std::vector<EventStep> baseEvents = eventSteps(base);
    const std::vector<double> baseStarts = sim::segmentStarts(base);
    constexpr std::int64_t NEVER = std::numeric_limits<std::int64_t>::max();
    // The first base step at which some run's events differ, and the last
    // segment start all runs have in common before theirs differ.
    std::int64_t differs = NEVER;
    std::int64_t lastCommonStart = NEVER;
    for (const sim::RunPlan &run : runs) {
        const sim::Scenario &scenario = run.scenario;
        if (run.step != first.step || run.baseStepsPerStep != first.baseStepsPerStep ||
            run.stepCount != first.stepCount || run.stepsPerRow != first.stepsPerRow ||
            run.scheduled != first.scheduled || scenario.duration != base.duration ||
            !(scenario.parameters == base.parameters) ||
            !(sim::scenarioImpedance(scenario) == sim::scenarioImpedance(base)) ||
            sim::converterParameters(scenario) != sim::converterParameters(base))
            return 0;
        const std::vector<EventStep> events = eventSteps(scenario);
        std::size_t e = 0;
        while (e < events.size() && e < baseEvents.size() && sameEvent(events[e], baseEvents[e]))
            ++e;
        if (e < events.size())
            differs = std::min(differs, events[e].step);
        if (e < baseEvents.size())
            differs = std::min(differs, baseEvents[e].step);
        const std::vector<double> starts = sim::segmentStarts(scenario);
        std::size_t k = 0;
        while (k < starts.size() && k < baseStarts.size() && starts[k] == baseStarts[k])
            ++k;
        if (k < starts.size() || k < baseStarts.size())
            lastCommonStart =
                std::min(lastCommonStart, k == 0 ? 0 : plant::stepIndexAtOrAfter(starts[k - 1]));
    }
    // Shared: the base steps before the first that differs, and before the
    // end of the last common segment, so that the segment the branch lies
    // in ends alike in every run.
    const std::int64_t baseSteps = std::min(differs == NEVER ? NEVER : differs - 1,
                                            lastCommonStart == NEVER ? NEVER : lastCommonStart - 1);
    if (baseSteps <= 0)
        return 0;
    const std::int64_t steps = baseSteps / first.baseStepsPerStep;
    return steps < first.stepCount ? steps : 0;
}

std::string planSweep(const SweepDefinition &definition, const std::string &fmu, SweepPlan &plan,
                      bool branch) {
    plan.definition = definition;
    plan.fmu = fmu;
    plan.converters = sim::converterCount(definition.base);
    plan.segments = sim::segmentStarts(definition.base).size() + 1;
    plan.figureColumns.clear();
    for (std::size_t j = 0; j < plan.converters; ++j)
        for (std::size_t k = 0; k < plan.segments; ++k)
            for (const char *name : figureNames()) {
                std::string column;
                if (plan.converters > 1)
                    column.append("c").append(std::to_string(j)).append("_");
                column.append("s").append(std::to_string(k)).append("_").append(name);
                plan.figureColumns.push_back(std::move(column));
            }
    plan.sharedSteps = 0;
    plan.sharedSeconds = 0.0;
    if (branch && definition.runCount() > 1) {
        std::vector<sim::RunPlan> runs(definition.runCount());
        for (std::size_t r = 0; r < runs.size(); ++r)
            if (!runPlanOf(plan, r, runs[r]).empty())
                return "";
        plan.sharedSteps = sharedSteps(runs);
        plan.sharedSeconds = static_cast<double>(plan.sharedSteps) * runs.front().step;
    }
    return "";
}

std::string csvHeader(const SweepPlan &plan) {
    std::string header = "run";
    for (const std::string &key : plan.definition.keys())
        header += "," + key;
    header += ",verdict";
    for (const std::string &column : plan.figureColumns)
        header += "," + column;
    header += ",reason";
    return header;
}

std::string tableRow(const SweepPlan &plan, std::size_t run, Verdict verdict,
                     const sim::ClosedLoopResult *result, const SwingWatch *watch,
                     const std::string &reason) {
    std::string row = std::to_string(run);
    for (const double v : plan.definition.values(run))
        row.append(",").append(valueText(v));
    row += ',';
    row += verdictName(verdict);
    const bool ok = result != nullptr && result->ok;
    for (std::size_t j = 0; j < plan.converters; ++j)
        for (std::size_t k = 0; k < plan.segments; ++k) {
            const bool have =
                ok && j < result->converterFigures.size() && k < result->converterFigures[j].size();
            const plant::SegmentFigures f = have ? result->converterFigures[j][k] : plant::SegmentFigures{};
            const bool swingMeasured = have && watch != nullptr && j < watch->swings().size() &&
                                       k < watch->swings()[j].size() && watch->swings()[j][k].measured;
            const double swing = swingMeasured ? watch->swings()[j][k].last : 0.0;
            const struct {
                double value;
                bool present;
            } cells[] = {{f.vdcMin, have},
                         {f.vdcMax, have},
                         {f.settlingTime, have && f.settled},
                         {f.vdcRipple, have && f.steady},
                         {swing, swingMeasured},
                         {f.peakCurrentPu, have},
                         {f.steadyRmsPu, have && f.steady},
                         {f.powerFactor, have && f.steady},
                         {f.thd * 100.0, have && f.steady},
                         {static_cast<double>(f.illegalPatterns), have},
                         {static_cast<double>(f.directChanges), have}};
            static_assert(std::size(cells) == 11);
            for (const auto &cell : cells) {
                row += ',';
                if (cell.present)
                    appendNumber(row, cell.value);
            }
        }
    row += ',';
    appendQuoted(row, reason);
    return row;
}

Runner::Runner(const SweepPlan &plan) : plan_(plan), units_(plan.fmu) {}
Runner::~Runner() = default;

std::string Runner::row(std::size_t run) {
    sim::RunPlan runPlan;
    sim::ClosedLoopResult result;
    const std::string problem = runPlanOf(plan_, run, runPlan);
    SwingWatch watch(sim::segmentStarts(runPlan.scenario), runPlan.scenario.duration, plan_.converters);
    if (problem.empty()) {
        // With steps to share: the first run keeps its state (and the
        // watch's) at their end, every later one continues from there.
        if (plan_.sharedSteps > 0 && branch_ == nullptr)
            branch_ = std::make_unique<sim::LoopBranch>(plan_.sharedSteps);
        sim::LoopBranch *branch = branch_ != nullptr && branch_->steps() > 0 ? branch_.get() : nullptr;
        std::ostringstream unitMessages; // kept in the result; not printed per run
        bool done = false;
        if (branch != nullptr && branch->kept() && keptWatch_ != nullptr && watch.continueFrom(*keptWatch_)) {
            result = sim::runClosedLoop(units_, runPlan, false, &watch, nullptr, unitMessages, branch);
            done = result.continuedAt > 0;
            if (done)
                ++branched_;
            else // it ran from zero after all, its watch not: once more
                watch = SwingWatch(sim::segmentStarts(runPlan.scenario), runPlan.scenario.duration,
                                   plan_.converters);
        }
        if (!done) {
            if (branch != nullptr && !branch->kept())
                branch->onKeep = [this, &watch] { keptWatch_ = std::make_unique<SwingWatch>(watch); };
            else
                branch = nullptr;
            result = sim::runClosedLoop(units_, runPlan, false, &watch, nullptr, unitMessages, branch);
            if (branch != nullptr)
                branch->onKeep = nullptr;
        }
        watch.finish();
    } else {
        result.ok = false;
        result.error = problem;
    }
    std::string reason;
    const Verdict verdict = judge(result, watch, reason);
    return tableRow(plan_, run, verdict, &result, &watch, reason);
}

std::string runRow(const SweepPlan &plan, std::size_t run) {
    return Runner(plan).row(run);
}

std::string_view rowField(std::string_view row, std::size_t column) {
    std::size_t from = 0;
    for (std::size_t c = 0; c < column; ++c) {
        const std::size_t comma = row.find(',', from);
        if (comma == std::string_view::npos)
            return {};
        from = comma + 1;
    }
    const std::size_t comma = row.find(',', from);
    return row.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from);
}

bool parseRow(std::string_view row, std::size_t keyCount, std::size_t &run, Verdict &verdict) {
    const std::string_view index = rowField(row, 0);
    if (index.empty() || index.size() > 12 ||
        !std::all_of(index.begin(), index.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    run = static_cast<std::size_t>(std::stoull(std::string(index)));
    return verdictFromName(rowField(row, keyCount + 1), verdict) && row.ends_with('"');
}

} // namespace kestrune::sweep
