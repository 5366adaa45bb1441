// One run of a sweep: the base scenario with the run's values, the closed
// loop, the verdict, and the run's row of the table.
#pragma once

#include "closed_loop.h"
#include "sweep_file.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrune::sweep {

// What a run's figures say about the controller, worst first when several
// apply: failed (the run could not be completed: the unit returned an error,
// the plant left the finite range), diverged (stopped by the divergence
// rule), illegal (an illegal gate pattern or a direct change between +1 and
// -1), oscillating (over a segment's last three grid cycles the DC link
// swings by more than the band's width of 10 V, or by more than 4 V and a
// quarter more than over the three cycles before: an oscillation the band
// cannot hold, or one that grows), unsettled (a segment ends with the link
// outside 495-505 V), holds.
enum class Verdict { Holds, Unsettled, Oscillating, Illegal, Diverged, Failed };
constexpr std::size_t VERDICT_COUNT = 6;
const char *verdictName(Verdict verdict);
// The verdict a row's text names; false for none.
bool verdictFromName(std::string_view name, Verdict &verdict);

// Watches each converter's DC link over the last grid cycles of every
// segment: the swing (peak to peak) over the last three cycles and over the
// three before.
class SwingWatch : public sim::RowSink {
  public:
    static constexpr double CYCLES = 3.0;
    SwingWatch(std::vector<double> segmentStarts, double duration, std::size_t converters);
    void row(const plant::Plant &plant) override;
    // Closes the segment the last row was in, once the run is over.
    void finish();
    // Takes over what `past` has watched, keeping this watch's later
    // segments; false (and this watch unchanged) when the segments past has
    // begun are not this watch's.
    bool continueFrom(const SwingWatch &past);

    struct Swing {
        double last = 0.0;     // [V] over the last CYCLES cycles
        double previous = 0.0; // [V] over the CYCLES before; both 0 when the segment was too short
        bool measured = false;
    };
    // Per converter, per segment that received rows.
    const std::vector<std::vector<Swing>> &swings() const { return swings_; }

  private:
    struct Window {
        double min = 0.0, max = 0.0;
        bool any = false;
        void add(double v);
        double spread() const { return any ? max - min : 0.0; }
    };
    void beginSegment(std::size_t segment, double frequency);
    void closeSegment();

    std::vector<double> starts_; // each segment's start [s]
    std::vector<double> ends_;   // and end
    bool measurable_ = false;    // the segment is long enough for both windows
    std::size_t converters_;
    std::size_t segment_ = 0;
    bool started_ = false;
    double previousFrom_ = 0.0, lastFrom_ = 0.0;
    std::vector<Window> previous_, last_;
    std::vector<std::vector<Swing>> swings_;
};

// The verdict of a completed or stopped run and one line saying why (""
// for holds).
Verdict judge(const sim::ClosedLoopResult &result, const SwingWatch &watch, std::string &reason);

// Swing limits of the oscillating verdict.
constexpr double SWING_WIDE = 10.0; // [V] the band's width
constexpr double SWING_FLOOR = 4.0; // [V] above the switching ripple
constexpr double SWING_GROWTH = 1.25;
// Whether a segment's swing counts as oscillating.
bool oscillates(double last, double previous);

// What every run of a sweep shares: the definition, the archive, and the table's
// layout.
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
// The communication steps that every one of the runs shares with the
// first, as planSweep finds them.
std::int64_t sharedSteps(const std::vector<sim::RunPlan> &runs);

// The CSV's header: run, the swept keys, verdict, the figures per converter
// and segment, reason.
std::string csvHeader(const SweepPlan &plan);

// A row of the table (without the line end): the run's index and values,
// the verdict, the figures of the result and the swing of the watch (every
// figure empty without them), and the reason.
std::string tableRow(const SweepPlan &plan, std::size_t run, Verdict verdict,
                     const sim::ClosedLoopResult *result, const SwingWatch *watch, const std::string &reason);

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

// The run index and verdict a row starts with; false for a row that is not
// one of the table's.
bool parseRow(std::string_view row, std::size_t keyCount, std::size_t &run, Verdict &verdict);
// The text of the 0-based column of a row ("" past its end); the reason,
// quoted, is the last column and never looked at.
std::string_view rowField(std::string_view row, std::size_t column);

} // namespace kestrune::sweep
