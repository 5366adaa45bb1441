// A run's verdict: what its figures say about the controller, and the
// watch over each DC link's swing that the oscillating verdict is read from.
#pragma once

#include "closed_loop.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::sweep {

// What a run's figures say about the controller, worst first when several
// apply: failed (the run could not be completed: the unit returned an error,
// the plant left the finite range; or its illegal gate patterns break the
// rule of illegal_share.h, completed or diverged), diverged (stopped by the divergence
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
    void row(const sim::PlantSignals &signals) override;
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

} // namespace kestrune::sweep
