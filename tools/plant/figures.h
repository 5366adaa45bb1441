// The figures a user reads from a closed-loop run, per segment (from the
// start or an event to the next event or the end): DC-link extremes,
// settling and ripple; peak, steady rms, fundamental, power factor and
// distortion of the grid current; illegal patterns.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kestrune::plant {

// The plant at one base-step time point.
struct Sample {
    double time;                  // [s]
    std::array<double, 3> e;      // [V] grid voltages
    std::array<double, 3> i;      // [A] grid currents
    double vdc;                   // [V]
    double gridFrequency;         // [Hz] in force
    std::int64_t illegalPatterns; // cumulative, as the plant counts them
    std::int64_t directChanges;   // cumulative
};

struct SegmentFigures {
    double start = 0.0;         // [s]
    double end = 0.0;           // [s]
    double gridFrequency = 0.0; // [Hz] in force during the segment
    double vdcMin = 0.0;        // [V]
    double vdcMax = 0.0;        // [V]
    double settlingTime =
        0.0;                // [s] from the start, after which Vdc stays within 495-505 V; 0 if it never left
    bool settled = true;    // false when Vdc ends the segment outside the band
    double vdcRipple = 0.0; // [V] peak to peak over the last two grid cycles
    double peakCurrentPu = 0.0; // largest |i_k| / CURRENT_BASE
    double steadyRmsPu = 0.0;   // rms over the last six grid cycles, all phases, / (CURRENT_BASE / sqrt 2)
    double fundamentalPu = 0.0; // peak of i_a at the grid frequency / CURRENT_BASE
    double phaseDegrees = 0.0;  // of i_a's fundamental relative to e_a's, positive when the current leads
    double powerFactor = 0.0;   // cos(phase)
    double thd = 0.0;           // of i_a: sqrt(rms^2 - fundamental rms^2) / fundamental rms
    std::int64_t illegalPatterns = 0;
    std::int64_t directChanges = 0;
};

// Collects samples in time order and reduces them per segment as they pass,
// without keeping the run.
class FiguresRecorder {
  public:
    // eventTimes: the times at which segments after the first begin;
    // duration: the end of the last segment.
    FiguresRecorder(std::vector<double> eventTimes, double duration);

    void add(const Sample &sample);
    // The figures of every segment, once the last sample is in.
    std::vector<SegmentFigures> figures() const;

    // (implementation-defined private members)
};

} // namespace kestrune::plant
