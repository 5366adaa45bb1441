// What watches a closed loop at its communication points: the figures, the
// CSV rows, the progress, the divergence watch, the pacing. Each is an
// observer, and any of them can stop the loop, saying when and why.
#pragma once

#include "plant_participant.h"
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

// How an observer stops the loop: the first stop counts.
class LoopControl {
  public:
    void stop(double time, std::string reason) {
        if (stopped_)
            return;
        stopped_ = true;
        time_ = time;
        reason_ = std::move(reason);
    }
    bool stopped() const { return stopped_; }
    double time() const { return time_; }
    const std::string &reason() const { return reason_; }

  private:
    bool stopped_ = false;
    double time_ = 0.0;
    std::string reason_;
};

// A communication point as the observers see it: the exchange is done, the
// plant shows the outputs the units will read next.
struct LoopPoint {
    std::int64_t stepsDone; // communication steps done, this one included
    const PlantStepResult &plantStep;
    PlantParticipant &plant;
};

class LoopObserver {
  public:
    virtual ~LoopObserver() = default;
    // At t = 0, once every participant is initialized.
    virtual void started(PlantParticipant & /*plant*/) {}
    virtual void communicationPoint(const LoopPoint &point, LoopControl &control) = 0;
    // Once the loop has ended, completed or stopped (by any observer).
    virtual void finished(PlantParticipant & /*plant*/, const LoopControl & /*control*/) {}
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
