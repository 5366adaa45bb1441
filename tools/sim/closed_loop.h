// The closed loop: the packed unit, driven through the fmi2 functions only,
// against the plant, with the co-simulation convention of the runner.
#pragma once

#include "options.h"
#include "plant/figures.h"
#include "plant/plant.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace kestrune::sim {

// Receives the plant at t = 0 and after every output interval.
class RowSink {
  public:
    virtual ~RowSink() = default;
    virtual void row(const plant::Plant &plant) = 0;
};

// Told now and then how far the run is; wallSeconds since the loop began.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    virtual void progress(double simulated, double duration, double wallSeconds) = 0;
};

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
    bool stopped = false;
    double stopTime = 0.0;  // [s]
    std::string stopReason; // one line
};

// Why the plant's state counts as diverged, or "" while it does not.
std::string divergence(const plant::Plant &plant);

// Runs the plan against the unit in fmuPath. Unit warnings and errors are
// printed to err as they come (every message with verbose).
ClosedLoopResult runClosedLoop(const std::string &fmuPath, const RunPlan &plan, bool verbose, RowSink *rows,
                               ProgressSink *progress, std::ostream &err);

// The times at which segments after the first begin: an event's time when
// it takes effect after the first base step and before the end, the first of
// the events that take effect on one base step.
std::vector<double> segmentStarts(const Scenario &scenario);

} // namespace kestrune::sim
