// What every run of a sweep shares: the definition, the archive, the
// table's layout, and the first steps all runs have in common.
#pragma once

#include "options.h"
#include "sweep_file.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace kestrune::sweep {

struct SweepPlan {
    SweepDefinition definition;
    std::string fmu;
    std::size_t converters = 1;
    std::size_t segments = 1;
    std::vector<std::string> figureColumns; // after the verdict, before the reason
    // The communication steps every run shares (0: none): the plant's
    // parameters and the step are the same in every run, and so are the
    // events and segments up to there.
    std::int64_t sharedSteps = 0;
    double sharedSeconds = 0.0; // [s] the time they cover
};

// Lays out the table; with branch, finds the steps every run shares.
std::string planSweep(const SweepDefinition &definition, const std::string &fmu, SweepPlan &plan,
                      bool branch = true);

// The run's plan: the base scenario with the run's values, a row of the
// loop every 25 us. "" or what is wrong with the run's values.
std::string runPlanOf(const SweepPlan &plan, std::size_t run, sim::RunPlan &runPlan);
// The communication steps every run shares with the first, the runs' plans
// taken one at a time: none when a run differs from the first in its plant
// parameters or steps; else the base steps before the first event that
// differs between two runs, and before the end of the last segment all
// runs begin alike (so that the segment the branch lies in ends alike).
class SharedSteps {
  public:
    SharedSteps();
    void add(const sim::RunPlan &run);
    std::int64_t steps() const;

  private:
    // An event at the base step the plant applies it.
    struct EventStep {
        std::int64_t step;
        plant::GridEvent event;
    };
    // A run's events in the order the plant applies them.
    static std::vector<EventStep> eventSteps(const sim::Scenario &scenario);
    static bool sameEvent(const EventStep &a, const EventStep &b);
    static constexpr std::int64_t NEVER = std::numeric_limits<std::int64_t>::max();
    std::size_t runs_ = 0;
    sim::RunPlan first_;
    std::vector<EventStep> firstEvents_;
    std::vector<double> firstStarts_;
    bool apart_ = false;                   // a run differs before any event
    std::int64_t differs_ = NEVER;         // the first base step whose events differ
    std::int64_t lastCommonStart_ = NEVER; // the last segment start before the starts differ
};

} // namespace kestrune::sweep
