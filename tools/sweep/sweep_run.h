// One run of a sweep on a worker: the base scenario with the run's values,
// the closed loop on the worker's units, the verdict and the run's row.
#pragma once

#include "analysis/verdict.h"
#include "closed_loop.h"
#include "sweep_plan.h"
#include "table_row.h"

#include <cstddef>
#include <memory>
#include <string>

namespace kestrune::sweep {

// A worker's runs: its units, opened by its first run and reset for every
// later one; with a plan whose runs share steps and an archive that offers
// FMU state, the shared steps computed by its first run and every later run
// continued from there.
class Runner {
  public:
    explicit Runner(const SweepPlan &plan);
    ~Runner();
    Runner(const Runner &) = delete;
    Runner &operator=(const Runner &) = delete;

    // Runs one run and returns its row. A run that cannot be completed is a
    // row too, with the verdict failed and the reason.
    std::string row(std::size_t run);
    // Runs that continued from the shared steps.
    std::size_t branched() const { return branched_; }

  private:
    const SweepPlan &plan_;
    sim::LoopUnits units_;
    std::unique_ptr<sim::LoopBranch> branch_;
    std::unique_ptr<SwingWatch> keptWatch_;
    std::size_t branched_ = 0;
};

// One run on units of its own (a Runner of one run).
std::string runRow(const SweepPlan &plan, std::size_t run);

} // namespace kestrune::sweep
