// Paces a closed loop to the wall clock: the simulated time runs at factor
// times real time (1 real time, 0.5 half speed). The loop is looked at in
// chunks of communication steps (about a millisecond of wall time each): a
// chunk that ends early sleeps until shortly before its deadline, one that
// ends late counts the steps that finished after theirs.
#pragma once

#include "loop_observer.h"

#include <chrono>
#include <cstdint>

namespace kestrune::sim {

struct PacingReport {
    bool on = false;
    double factor = 1.0;
    std::int64_t lateSteps = 0; // communication steps that finished after their deadline
    double worstLateness = 0.0; // [s] of the latest
};

class RealTimePacing final : public LoopObserver {
  public:
    using Clock = std::chrono::steady_clock;
    // step: the communication step [s]; firstStep: the steps done before the
    // loop starts (a run continued from a branch).
    RealTimePacing(double factor, double step, std::int64_t firstStep = 0);

    void started(PlantParticipant &plant) override;
    void communicationPoint(const LoopPoint &point, LoopControl &control) override;
    void finished(PlantParticipant &plant, const LoopControl &control) override;
    const PacingReport &report() const { return report_; }

  private:
    // Seconds of wall time between the start and step k's deadline.
    double deadline(std::int64_t k) const;
    // The steps since the last look, with their finishing times spread
    // evenly between that look and now.
    void look(std::int64_t k);

    static constexpr double WAKE_MARGIN = 3e-4; // [s]
    std::int64_t chunk_; // communication steps per look: about a millisecond of wall time
    double wallPerStep_; // [s] step / factor
    std::int64_t firstStep_;
    Clock::time_point start_{};
    std::int64_t lastStep_ = 0;
    std::int64_t seenStep_ = 0; // the last point seen
    double lastWall_ = 0.0;     // [s] since start_ at the last look
    PacingReport report_;
};

} // namespace kestrune::sim
