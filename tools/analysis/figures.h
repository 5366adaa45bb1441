// The figures a user reads from a closed-loop run, per segment (from the
// start or an event to the next event or the end): DC-link extremes,
// settling and ripple; peak, steady rms, fundamental, power factor and
// distortion of the grid current; illegal patterns.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kestrune::plant {

// One converter of the plant at one base-step time point.
struct Sample {
    double time;                  // [s]
    std::array<double, 3> e;      // [V] the voltages at the converter's terminals: the PCC's
    std::array<double, 3> i;      // [A] the converter's currents
    double vdc;                   // [V]
    double gridFrequency;         // [Hz] in force
    std::int64_t illegalPatterns; // cumulative, as the plant counts them
    std::int64_t directChanges;   // cumulative
    double sourceA = 0.0;         // [V] the grid source's e_a, for the PCC voltage's angle
    std::int64_t step = -1;       // the base step of `time` when known; -1: from the time
};

struct SegmentFigures {
    double start = 0.0;         // [s]
    double end = 0.0;           // [s]
    double gridFrequency = 0.0; // [Hz] in force during the segment
    double vdcMin = 0.0;        // [V]
    double vdcMax = 0.0;        // [V]
    // [s] the last sample time with Vdc outside 495-505 V (the band's edges
    // inside), from the start; 0 if it never left
    double settlingTime = 0.0;
    bool settled = true;        // false when Vdc ends the segment outside the band
    double vdcRipple = 0.0;     // [V] peak to peak over the last two grid cycles
    double peakCurrentPu = 0.0; // largest |i_k| / CURRENT_BASE
    double steadyRmsPu = 0.0;   // rms over the last six grid cycles, all phases, / (CURRENT_BASE / sqrt 2)
    double fundamentalPu = 0.0; // peak of i_a at the grid frequency / CURRENT_BASE
    double phaseDegrees = 0.0;  // of i_a's fundamental relative to e_a's, positive when the current leads
    double powerFactor = 0.0;   // cos(phase)
    // of i_a: sqrt(rms^2 - fundamental rms^2) / fundamental rms; 0 without a fundamental
    double thd = 0.0;
    std::int64_t illegalPatterns = 0;
    std::int64_t directChanges = 0;
    // false when the samples stopped before the six-cycle window: the rms,
    // fundamental, power factor, distortion and PCC figures are then 0
    bool steady = true;
    // The PCC voltage, phase a, over the six-cycle window: its fundamental
    // peak / PHASE_PEAK, its distortion over every frequency the samples
    // hold, and the angle of its fundamental against the source's e_a
    // (positive when it leads).
    double pccFundamentalPu = 0.0;
    double pccThd = 0.0;
    double pccAngleDegrees = 0.0;
    // Unbalance, over the same six-cycle window: the symmetrical components
    // of the three currents' fundamentals, X1 = (Xa + a Xb + a^2 Xc) / 3 and
    // X2 = (Xa + a^2 Xb + a Xc) / 3 with a = e^(j 120 deg), as peaks /
    // CURRENT_BASE; the unbalance |I2| / |I1| in percent (0 without I1); the
    // PCC voltage's |V2| / |V1| in percent, the same way.
    double positiveSequencePu = 0.0;
    double negativeSequencePu = 0.0;
    double currentUnbalance = 0.0;    // [%]
    double pccNegativeSequence = 0.0; // [%]
    // [V] the link's component at twice the grid frequency (the ripple an
    // unbalance draws), peak to peak, over the last two grid cycles
    double vdcRipple120 = 0.0;
};

// Collects samples in time order and reduces them per segment as they pass,
// without keeping the run.
//
// Segments: an event time starts a segment at the first base step at or after
// it (stepIndexAtOrAfter), as the plant applies it; event times at or before
// the first step, or at or after the end, start none. A sample belongs to the
// segment whose first step is the latest at or before the sample's own step;
// so the sample at an event's step, taken with the event in force, is the new
// segment's first.
//
// Windows: the last N grid cycles of a segment (N = 2 for the ripple, 6 for
// the rms, the fundamental and the distortion) are its last M samples, M the
// whole number of base steps in N / f (rounded down, 1e-6 of a step
// tolerance), f the grid frequency in force as the window begins (the
// segment's, unless a frequency ramp moves it within the segment). At 60 Hz M is exact, so the
// window holds whole cycles with each sample once; the sample N / f before the
// segment's last one is left out. The last segment's last sample is the one at
// the end (duration); a segment shorter than its window uses all its samples.
//
// Counters: a segment's illegal patterns and direct changes are the
// cumulative counts at the next segment's first sample (the run's last sample
// for the last segment) minus those at its own first sample, so the step that
// ends a segment counts in it.
class FiguresRecorder {
  public:
    // eventTimes: the times at which segments after the first begin;
    // duration: the end of the last segment.
    FiguresRecorder(std::vector<double> eventTimes, double duration);

    void add(const Sample &sample);
    // The figures of every segment, once the last sample is in (of the
    // segments that received samples, for a run that stopped early: the
    // segment it stopped in ends at its last sample).
    std::vector<SegmentFigures> figures() const;

    // Takes over what `past` has recorded, keeping this recorder's later
    // segments: the segments past has begun, the one it is in included,
    // must be this recorder's. False (and this recorder unchanged) when they
    // are not.
    bool continueFrom(const FiguresRecorder &past);

  private:
    struct Segment {
        std::int64_t firstStep = 0;
        std::int64_t lastStep = 0; // its last sample's step
        double start = 0.0;
        double end = 0.0;
        std::int64_t samples = 0;
        double frequency = 0.0;
        std::int64_t rippleFrom = 0; // first step of the two-cycle window
        std::int64_t steadyFrom = 0; // first step of the six-cycle window
        double vdcMin = 0.0;
        double vdcMax = 0.0;
        double lastOutside = -1.0; // [s] last time Vdc was outside the band; -1 for never
        bool endsInside = true;
        double rippleMin = 0.0;
        double rippleMax = 0.0;
        bool rippleStarted = false;
        double peakCurrent = 0.0;
        double squaresAll = 0.0; // sum of i_k^2 over the steady window, all phases
        double squaresA = 0.0;   // of i_a alone
        std::int64_t steadySamples = 0;
        double currentRe = 0.0; // DFT of i_a at the segment's frequency
        double currentIm = 0.0;
        std::array<double, 3> phaseCurrentRe{}; // of i_a, i_b, i_c, for the sequences
        std::array<double, 3> phaseCurrentIm{};
        std::array<double, 3> phaseVoltageRe{}; // of e_a, e_b, e_c
        std::array<double, 3> phaseVoltageIm{};
        // The two-cycle window's sums for the least-squares fit of Vdc by
        // d + p cos 2x + q sin 2x (x the grid's angle): two cycles are no
        // whole number of base steps, so a plain DFT would leak the link's
        // mean into the 120 Hz figure.
        std::array<double, 9> linkSums{}; // n, C, S, CC, SS, CS, V, VC, VS
        double voltageRe = 0.0;           // and of e_a
        double voltageIm = 0.0;
        double squaresVoltage = 0.0; // of e_a (the PCC's v_a)
        double sourceRe = 0.0;       // DFT of the source's e_a
        double sourceIm = 0.0;
        double lastTime = 0.0; // of the last sample in
        // The DFT's phasor (cos, sin of the angle) at the last sample, turned
        // by one base step per sample and re-anchored on the exact angle
        // every grid cycle.
        double phasorCos = 1.0;
        double phasorSin = 0.0;
        double stepCos = 1.0;
        double stepSin = 0.0;
        std::int64_t phasorStep = -2; // the step the phasor belongs to
        std::int64_t anchorStep = 0;
        std::int64_t anchorEvery = 1; // base steps in a grid cycle
        std::int64_t illegalAtStart = 0;
        std::int64_t illegalAtEnd = 0;
        std::int64_t directAtStart = 0;
        std::int64_t directAtEnd = 0;
    };

    void begin(Segment &segment, const Sample &sample);
    // The segment's frequency and the windows of its last cycles at it.
    static void windowsAt(Segment &segment, double frequency);

    // The first step of the segment after the current one (the largest
    // step when it is the last).
    std::int64_t nextFirstStep() const;

    std::vector<Segment> segments_;
    std::size_t current_ = 0;
    std::int64_t nextFirst_ = 0; // nextFirstStep(), kept
    bool started_ = false;
};

} // namespace kestrune::plant
