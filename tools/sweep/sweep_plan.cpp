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

} // namespace kestrune::sweep
