// The pass criteria of a ride-through test, as data, and what a run is
// measured against them: watched every base step, from the plant.
#pragma once

#include "closed_loop.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::battery {

// Each criterion is optional; a test switches one off with null. The
// defaults are those stated in the README.
struct Criteria {
    bool noDivergence = true; // the run is not stopped by the divergence rule
    bool noIllegal = true;    // no illegal gate pattern, no direct change between +1 and -1
    // [pu] the largest converter current from the event's start to the end
    std::optional<double> peakCurrentPu = 1.5;
    // [V] every converter's link during the event
    std::optional<std::array<double, 2>> linkBand = std::array<double, 2>{450.0, 550.0};
    // [s] after the event ends, the time until the link is back within
    // 495-505 V for good
    std::optional<double> recoveryTime = 0.2;
};

// What a run measured, from its event's start on.
struct Measurements {
    bool reached = false; // the run got to the event's start
    bool diverged = false;
    double stopTime = 0.0;    // [s] when diverged
    std::int64_t illegal = 0; // illegal patterns and direct changes, every converter, whole run
    // Why the illegal patterns make the run no run of the controller
    // (analysis/illegal_share.h), "" when they do not: the test fails, even
    // with the illegal criterion off.
    std::string pervasiveIllegal;
    double peakCurrentPu = 0.0; // from the event's start
    double linkMin = 0.0;       // [V] during the event, every converter
    double linkMax = 0.0;       // [V]
    bool eventEnds = false;     // the event ends before the run does
    bool recovered = false;     // every link ends the run within 495-505 V
    double recoveryTime = 0.0;  // [s] from the event's end to the last step outside the band
};

// Watches every converter's current and link: give it every base step
// (an output interval of one base step).
class CriteriaWatch : public sim::RowSink {
  public:
    CriteriaWatch(double eventStart, double eventEnd, double duration);
    void row(const sim::PlantSignals &signals) override;
    // The measurements, with the run's counters and stop.
    Measurements measurements(const sim::ClosedLoopResult &result) const;

  private:
    std::int64_t startStep_;
    std::int64_t endStep_;
    std::int64_t lastStep_;
    double peakCurrent_ = 0.0; // [A]
    double linkMin_ = 0.0;
    double linkMax_ = 0.0;
    bool inEvent_ = false;
    double lastOutside_ = -1.0; // [s] after the event's end
    bool endsInside_ = true;
    double lastTime_ = 0.0;
};

enum class Mark { Pass, Fail, Off, NotApplicable };
const char *markName(Mark mark); // "pass", "fail", "off", "n/a"

// One criterion's judgement: its measured value as text and its mark.
struct Judged {
    const char *key;   // column name
    const char *title; // for people
    std::string measured;
    Mark mark;
    std::string limit; // the criterion's limit as text ("" when off)
};
// The five criteria in a fixed order: divergence, illegal, peak current,
// link band, recovery.
std::vector<Judged> judgeCriteria(const Criteria &criteria, const Measurements &measured);
// Whether every criterion that applies passes.
bool passes(const std::vector<Judged> &judged);

} // namespace kestrune::battery
