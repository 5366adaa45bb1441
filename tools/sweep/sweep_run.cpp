#include "sweep_run.h"

#include <sstream>

namespace kestrune::sweep {

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

} // namespace kestrune::sweep
