// The run's own observers of a closed loop: the divergence watch, the CSV
// rows and the progress, with the sinks the rows and the progress go to.
#pragma once

#include "loop_observer.h"
#include "plant_signals.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace kestrune::sim {

// Receives the plant's signals at t = 0 and after every output interval.
class RowSink {
  public:
    virtual ~RowSink() = default;
    virtual void row(const PlantSignals &signals) = 0;
};

// Told now and then how far the run is; wallSeconds since the loop began.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    virtual void progress(double simulated, double duration, double wallSeconds) = 0;
};

// Stops the loop where the plant stopped as diverged.
class DivergenceWatch final : public LoopObserver {
  public:
    void communicationPoint(const LoopPoint &point, LoopControl &control) override {
        if (point.plantStep.status == PlantStepResult::Status::Terminated)
            control.stop(point.plantStep.lastSuccessfulTime, point.plantStep.reason);
    }
};

// Hands the plant's signals to a row sink at t = 0, every stepsPerRow
// communication steps and where the loop stops, whoever stops it. untilRow is kept by the
// caller (a run's state, carried over branches).
class RowObserver final : public LoopObserver {
  public:
    RowObserver(RowSink &sink, std::int64_t stepsPerRow, std::int64_t &untilRow)
        : sink_(sink), stepsPerRow_(stepsPerRow), untilRow_(untilRow) {}
    void started(PlantParticipant &plant) override;
    void communicationPoint(const LoopPoint &point, LoopControl &control) override;
    void finished(PlantParticipant &plant, const LoopControl &control) override;

  private:
    void write(PlantParticipant &plant);

    RowSink &sink_;
    std::int64_t stepsPerRow_;
    std::int64_t &untilRow_;
    bool written_ = true; // a row of the last point seen
    PlantSignals signals_;
};

// Tells a progress sink how far the run is every few thousand steps.
class ProgressObserver final : public LoopObserver {
  public:
    using Clock = std::chrono::steady_clock;
    ProgressObserver(ProgressSink &sink, double duration, Clock::time_point wallStart)
        : sink_(sink), duration_(duration), wallStart_(wallStart) {}
    void communicationPoint(const LoopPoint &point, LoopControl &control) override;

  private:
    static constexpr std::int64_t EVERY = 2048;
    ProgressSink &sink_;
    double duration_;
    Clock::time_point wallStart_;
};

} // namespace kestrune::sim
