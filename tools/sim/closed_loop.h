// The closed loop: participants (each converter's unit, driven through its
// FMI functions only, and the plant) stepped at fixed communication steps in
// the plan's coupling, watched by observers (the figures, the rows, the
// progress, the divergence watch, the pacing), any of which can stop it.
#pragma once

#include "analysis/figures.h"
#include "loop_observers.h"
#include "master/recording_logger.h"
#include "options.h"
#include "pacing.h"
#include "plant/plant.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace kestrune::sim {

struct ClosedLoopResult {
    bool ok = false;
    std::string error; // when not ok: one line; the run stopped there
    std::int64_t stepsDone = 0;
    double simulated = 0.0;                     // [s] plant time reached
    double unitTime = 0.0;                      // [s] the unit's own time at the end (converter 0's)
    double wallSeconds = 0.0;                   // instantiation to the end of the loop
    double cpuSeconds = 0.0;                    // the thread's processor time over the same span
    std::vector<plant::SegmentFigures> figures; // converter 0's, per segment
    // Every converter's, per segment; the PCC figures are in each (the same).
    std::vector<std::vector<plant::SegmentFigures>> converterFigures;
    std::int64_t illegalPatterns = 0; // all converters together
    std::int64_t directChanges = 0;
    std::vector<std::string> unitMessages; // warnings and errors the units logged
    // A run that diverged (a current above 10 pu, a link outside 50-1500 V)
    // stops there and is still ok: the figures cover the time up to the stop.
    // So does a run an observer stopped.
    bool stopped = false;
    double stopTime = 0.0;  // [s]
    std::string stopReason; // one line
    // The communication steps taken over from a branch (0: run from zero).
    std::int64_t continuedAt = 0;
    PacingReport pacing; // with --real-time
};

class UnitSet;
namespace detail {
struct LoopState;
}

// A worker's units for many runs: the archive opened, its library loaded
// and a unit made per converter by the first run; every later run resets
// them rather than loading anything again.
class LoopUnits {
  public:
    explicit LoopUnits(std::string fmuPath);
    ~LoopUnits();
    LoopUnits(const LoopUnits &) = delete;
    LoopUnits &operator=(const LoopUnits &) = delete;

    // Opens the archive for `count` units unless these are open already
    // (the same count and interface). "" or what failed.
    std::string open(std::size_t count, bool scheduled);

  private:
    friend class ClosedLoop;
    master::RecordingLogger logger_;
    std::unique_ptr<UnitSet> units_;
    std::string path_;
    bool scheduled_ = false;
    bool instantiated_ = false; // the units hold instances a run can reset
    bool verbose_ = false;      // the logging they were instantiated with
};

// A run's state at the start of a communication step, kept so that runs
// that share every step before it continue from there rather than from
// zero: the plant, the figures so far, the values between plant and units,
// and each unit's FMU state (held by the units themselves, so a branch
// serves only runs on the same LoopUnits).
class LoopBranch {
  public:
    // steps: the communication steps the runs share.
    explicit LoopBranch(std::int64_t steps);
    ~LoopBranch();
    LoopBranch(const LoopBranch &) = delete;
    LoopBranch &operator=(const LoopBranch &) = delete;

    std::int64_t steps() const { return steps_; }
    bool kept() const { return state_ != nullptr; }
    // Told right after a run keeps its state here (a row sink keeps its own
    // then).
    std::function<void()> onKeep;

  private:
    friend class ClosedLoop;
    std::int64_t steps_;
    std::unique_ptr<detail::LoopState> state_;
    const LoopUnits *units_ = nullptr;
};

// Runs the plan against the unit in fmuPath. Unit warnings and errors are
// printed to err as they come (every message with verbose).
// observers: watch the loop after the run's own (divergence, figures, rows,
// progress, pacing), in their order.
ClosedLoopResult runClosedLoop(const std::string &fmuPath, const RunPlan &plan, bool verbose, RowSink *rows,
                               ProgressSink *progress, std::ostream &err,
                               const std::vector<LoopObserver *> &observers = {});
// The same on units kept from run to run. With a branch not yet kept, the
// run keeps its state there; with a kept one (of the same units), it
// continues from there: the plan's plant parameters must then be the
// branch's, and its events and segments those of the branch up to it.
// A run that cannot continue from the branch runs from zero.
ClosedLoopResult runClosedLoop(LoopUnits &units, const RunPlan &plan, bool verbose, RowSink *rows,
                               ProgressSink *progress, std::ostream &err, LoopBranch *branch = nullptr,
                               const std::vector<LoopObserver *> &observers = {});

// The times at which segments after the first begin: an event's time when
// it takes effect after the first base step and before the end, the first of
// the events that take effect on one base step.
std::vector<double> segmentStarts(const Scenario &scenario);

} // namespace kestrune::sim
