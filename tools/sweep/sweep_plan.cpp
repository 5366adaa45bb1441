#include "sweep_plan.h"

#include "closed_loop.h"

#include <algorithm>
#include <limits>

namespace kestrune::sweep {

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

std::vector<SharedSteps::EventStep> SharedSteps::eventSteps(const sim::Scenario &scenario) {
    std::vector<EventStep> steps;
    for (const plant::GridEvent &event : sim::plantEvents(scenario))
        steps.push_back({plant::stepIndexAtOrAfter(event.time), event});
    std::stable_sort(steps.begin(), steps.end(),
                     [](const EventStep &a, const EventStep &b) { return a.step < b.step; });
    return steps;
}

bool SharedSteps::sameEvent(const EventStep &a, const EventStep &b) {
    // The whole event: a dip's type and phase, a profile's points, a
    // background's harmonics and a ramp's target as much as its value.
    return a.step == b.step && a.event == b.event;
}

SharedSteps::SharedSteps() = default;

void SharedSteps::add(const sim::RunPlan &run) {
    ++runs_;
    const sim::Scenario &scenario = run.scenario;
    if (runs_ == 1) {
        first_ = run;
        firstEvents_ = eventSteps(scenario);
        firstStarts_ = sim::segmentStarts(scenario);
        return;
    }
    const sim::Scenario &base = first_.scenario;
    if (run.step != first_.step || run.baseStepsPerStep != first_.baseStepsPerStep ||
        run.stepCount != first_.stepCount || run.stepsPerRow != first_.stepsPerRow ||
        run.scheduled != first_.scheduled || scenario.duration != base.duration ||
        !(scenario.parameters == base.parameters) ||
        !(sim::scenarioImpedance(scenario) == sim::scenarioImpedance(base)) ||
        sim::converterParameters(scenario) != sim::converterParameters(base)) {
        apart_ = true;
        return;
    }
    const std::vector<EventStep> events = eventSteps(scenario);
    std::size_t e = 0;
    while (e < events.size() && e < firstEvents_.size() && sameEvent(events[e], firstEvents_[e]))
        ++e;
    if (e < events.size())
        differs_ = std::min(differs_, events[e].step);
    if (e < firstEvents_.size())
        differs_ = std::min(differs_, firstEvents_[e].step);
    const std::vector<double> starts = sim::segmentStarts(scenario);
    std::size_t k = 0;
    while (k < starts.size() && k < firstStarts_.size() && starts[k] == firstStarts_[k])
        ++k;
    if (k < starts.size() || k < firstStarts_.size())
        lastCommonStart_ = std::min(lastCommonStart_, k == 0 ? 0 : plant::stepIndexAtOrAfter(starts[k - 1]));
}

std::int64_t SharedSteps::steps() const {
    if (runs_ < 2 || apart_)
        return 0;
    // Shared: the base steps before the first that differs, and before the
    // end of the last common segment, so that the segment the branch lies
    // in ends alike in every run.
    const std::int64_t baseSteps = std::min(differs_ == NEVER ? NEVER : differs_ - 1,
                                            lastCommonStart_ == NEVER ? NEVER : lastCommonStart_ - 1);
    if (baseSteps <= 0)
        return 0;
    const std::int64_t steps = baseSteps / first_.baseStepsPerStep;
    return steps < first_.stepCount ? steps : 0;
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
        // One run's plan at a time: nothing per run is kept.
        SharedSteps shared;
        double step = 0.0;
        for (std::size_t r = 0; r < definition.runCount(); ++r) {
            sim::RunPlan run;
            if (!runPlanOf(plan, r, run).empty())
                return "";
            step = run.step;
            shared.add(run);
        }
        plan.sharedSteps = shared.steps();
        plan.sharedSeconds = static_cast<double>(plan.sharedSteps) * step;
    }
    return "";
}

} // namespace kestrune::sweep
