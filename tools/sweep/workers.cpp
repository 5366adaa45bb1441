#include "workers.h"

#include "run_pool.h"

#include <memory>

namespace kestrune::sweep {

namespace {

// Each worker makes its Runner once: its units live from its first run to
// its last.
WorkerFactory runnerOf(const SweepPlan &plan) {
    return [&plan] {
        auto runner = std::make_shared<Runner>(plan);
        return RunWorker([runner](std::size_t run) { return runner->row(run); });
    };
}

} // namespace

std::string runOnThreads(const SweepPlan &plan, const std::vector<std::size_t> &runs, unsigned jobs,
                         Collector &collector) {
    return runPoolOnThreads(
        runs, jobs, runnerOf(plan), [&collector](const std::string &row) { collector.add(row); },
        [&collector] { return collector.failed(); });
}

std::string runInProcesses(const SweepPlan &plan, const std::vector<std::size_t> &runs, unsigned jobs,
                           Collector &collector) {
    return runPoolInProcesses(
        runs, jobs, runnerOf(plan), [&collector](const std::string &row) { collector.add(row); },
        [&plan](std::size_t run, const std::string &reason) {
            return tableRow(plan, run, Verdict::Failed, nullptr, nullptr, reason);
        },
        [&collector] { return collector.failed(); });
}

} // namespace kestrune::sweep
