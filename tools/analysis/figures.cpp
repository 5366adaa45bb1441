#include "figures.h"

#include "plant.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace kestrune::plant {
namespace {

constexpr double BAND_LOW = 495.0;  // [V] settled band around the 500 V reference
constexpr double BAND_HIGH = 505.0; // [V]
constexpr double RIPPLE_CYCLES = 2.0;
constexpr double STEADY_CYCLES = 6.0;

std::int64_t sampleStep(double time) {
    return std::llround(time / BASE_STEP);
}

// The first step of the window of `cycles` grid cycles that ends with the
// segment's last sample; the segment's first step when it is shorter (or the
// frequency gives no whole window).
std::int64_t windowStart(std::int64_t firstStep, std::int64_t lastStep, double frequency, double cycles) {
    const double steps = std::floor(cycles / (frequency * BASE_STEP) + 1e-6);
    if (!(steps >= 1.0) || steps > static_cast<double>(lastStep - firstStep + 1)) {
        return firstStep;
    }
    return lastStep - static_cast<std::int64_t>(steps) + 1;
}

// An angle in degrees, wrapped into (-180, 180].
double wrappedDegrees(double radians) {
    double degrees = radians * 180.0 / std::numbers::pi;
    while (degrees > 180.0) {
        degrees -= 360.0;
    }
    while (degrees <= -180.0) {
        degrees += 360.0;
    }
    return degrees;
}

// The magnitudes of the positive and negative sequence of three phasors.
std::array<double, 2> sequenceMagnitudes(const std::array<double, 3> &re, const std::array<double, 3> &im) {
    const double cosA = -0.5; // a = e^(j 120 deg)
    const double sinA = std::sqrt(3.0) / 2.0;
    // a X = (cosA re - sinA im) + j (sinA re + cosA im); a^2 X with -sinA.
    auto turned = [&](std::size_t k, double sine) {
        return std::array<double, 2>{cosA * re[k] - sine * im[k], sine * re[k] + cosA * im[k]};
    };
    const std::array<double, 2> b1 = turned(1, sinA), c1 = turned(2, -sinA);
    const std::array<double, 2> b2 = turned(1, -sinA), c2 = turned(2, sinA);
    const double positive = std::hypot(re[0] + b1[0] + c1[0], im[0] + b1[1] + c1[1]) / 3.0;
    const double negative = std::hypot(re[0] + b2[0] + c2[0], im[0] + b2[1] + c2[1]) / 3.0;
    return {positive, negative};
}

// Peak to peak of the fit d + p cos + q sin from its sums (n, C, S, CC,
// SS, CS, V, VC, VS): the normal equations solved by Cramer's rule; 0 when
// they are singular (too few samples).
double rippleAtTwiceTheFrequency(const std::array<double, 9> &sums) {
    const auto [n, c, s, cc, ss, cs, v, vc, vs] = sums;
    auto det = [](double a, double b, double e, double d, double f, double g, double h, double i, double k) {
        return a * (f * k - g * i) - b * (d * k - g * h) + e * (d * i - f * h);
    };
    const double whole = det(n, c, s, c, cc, cs, s, cs, ss);
    if (!(std::abs(whole) > 1e-12 * n * n * n))
        return 0.0;
    const double p = det(n, v, s, c, vc, cs, s, vs, ss) / whole;
    const double q = det(n, c, v, c, cc, vc, s, cs, vs) / whole;
    return 2.0 * std::hypot(p, q);
}

} // namespace

FiguresRecorder::FiguresRecorder(std::vector<double> eventTimes, double duration) {
    const std::int64_t endStep = std::max<std::int64_t>(0, sampleStep(duration));
    std::vector<std::int64_t> firsts{0};
    for (const double time : eventTimes) {
        const std::int64_t step = stepIndexAtOrAfter(time);
        if (step > 0 && step < endStep) {
            firsts.push_back(step);
        }
    }
    std::sort(firsts.begin(), firsts.end());
    firsts.erase(std::unique(firsts.begin(), firsts.end()), firsts.end());
    segments_.resize(firsts.size());
    for (std::size_t s = 0; s < firsts.size(); ++s) {
        Segment &segment = segments_[s];
        const bool last = s + 1 == firsts.size();
        segment.firstStep = firsts[s];
        segment.lastStep = last ? endStep : firsts[s + 1] - 1;
        segment.start = static_cast<double>(firsts[s]) * BASE_STEP;
        segment.end = last ? duration : static_cast<double>(firsts[s + 1]) * BASE_STEP;
    }
}

void FiguresRecorder::windowsAt(Segment &segment, double frequency) {
    segment.frequency = frequency;
    segment.anchorEvery = std::max<std::int64_t>(1, std::llround(1.0 / (frequency * BASE_STEP)));
    segment.rippleFrom = windowStart(segment.firstStep, segment.lastStep, frequency, RIPPLE_CYCLES);
    segment.steadyFrom = windowStart(segment.firstStep, segment.lastStep, frequency, STEADY_CYCLES);
}

void FiguresRecorder::begin(Segment &segment, const Sample &sample) {
    windowsAt(segment, sample.gridFrequency);
    segment.vdcMin = sample.vdc;
    segment.vdcMax = sample.vdc;
    segment.illegalAtStart = sample.illegalPatterns;
    segment.directAtStart = sample.directChanges;
}

std::int64_t FiguresRecorder::nextFirstStep() const {
    return current_ + 1 < segments_.size() ? segments_[current_ + 1].firstStep
                                           : std::numeric_limits<std::int64_t>::max();
}

bool FiguresRecorder::continueFrom(const FiguresRecorder &past) {
    const std::size_t begun = past.started_ ? past.current_ + 1 : 0;
    if (begun > segments_.size())
        return false;
    for (std::size_t s = 0; s < begun; ++s) {
        const Segment &mine = segments_[s];
        const Segment &theirs = past.segments_[s];
        if (mine.firstStep != theirs.firstStep || mine.lastStep != theirs.lastStep ||
            mine.start != theirs.start || mine.end != theirs.end)
            return false;
    }
    std::copy(past.segments_.begin(), past.segments_.begin() + static_cast<std::ptrdiff_t>(begun),
              segments_.begin());
    current_ = past.current_;
    started_ = past.started_;
    nextFirst_ = past.nextFirst_;
    return true;
}

void FiguresRecorder::add(const Sample &sample) {
    const std::int64_t step = sample.step >= 0 ? sample.step : sampleStep(sample.time);
    if (!started_) {
        started_ = true;
        while (current_ + 1 < segments_.size() && step >= segments_[current_ + 1].firstStep) {
            ++current_;
        }
        begin(segments_[current_], sample);
        nextFirst_ = nextFirstStep();
    }
    while (step >= nextFirst_) {
        Segment &ended = segments_[current_];
        ended.illegalAtEnd = sample.illegalPatterns;
        ended.directAtEnd = sample.directChanges;
        ++current_;
        begin(segments_[current_], sample);
        nextFirst_ = nextFirstStep();
    }
    Segment &segment = segments_[current_];
    // A frequency ramp moves the frequency within a segment: until its last
    // cycles begin, they are counted in the frequency now in force, so that
    // the window and the fundamental follow the grid (a steady grid keeps
    // the segment's first frequency).
    if (step < segment.steadyFrom && sample.gridFrequency != segment.frequency) {
        windowsAt(segment, sample.gridFrequency);
    }
    ++segment.samples;
    segment.lastTime = sample.time;
    segment.illegalAtEnd = sample.illegalPatterns;
    segment.directAtEnd = sample.directChanges;

    const double vdc = sample.vdc;
    segment.vdcMin = std::min(segment.vdcMin, vdc);
    segment.vdcMax = std::max(segment.vdcMax, vdc);
    segment.endsInside = vdc >= BAND_LOW && vdc <= BAND_HIGH;
    if (!segment.endsInside) {
        segment.lastOutside = sample.time;
    }
    for (const double i : sample.i) {
        segment.peakCurrent = std::max(segment.peakCurrent, std::abs(i));
    }

    if (step >= segment.rippleFrom) {
        if (!segment.rippleStarted) {
            segment.rippleStarted = true;
            segment.rippleMin = vdc;
            segment.rippleMax = vdc;
        }
        segment.rippleMin = std::min(segment.rippleMin, vdc);
        segment.rippleMax = std::max(segment.rippleMax, vdc);
    }
    if (step >= segment.steadyFrom) {
        const double ia = sample.i[0];
        segment.squaresAll += ia * ia + sample.i[1] * sample.i[1] + sample.i[2] * sample.i[2];
        segment.squaresA += ia * ia;
        ++segment.steadySamples;
        // The angle from the segment's start: only the difference between the
        // current's and the voltage's phase is reported. One rotation per
        // base step, anchored on the exact angle every grid cycle.
        if (step != segment.phasorStep + 1 || step - segment.anchorStep >= segment.anchorEvery) {
            const double angle = 2.0 * std::numbers::pi * segment.frequency * (sample.time - segment.start);
            segment.phasorCos = std::cos(angle);
            segment.phasorSin = std::sin(angle);
            const double turn = 2.0 * std::numbers::pi * segment.frequency * BASE_STEP;
            segment.stepCos = std::cos(turn);
            segment.stepSin = std::sin(turn);
            segment.anchorStep = step;
        } else {
            const double c = segment.phasorCos * segment.stepCos - segment.phasorSin * segment.stepSin;
            segment.phasorSin = segment.phasorSin * segment.stepCos + segment.phasorCos * segment.stepSin;
            segment.phasorCos = c;
        }
        segment.phasorStep = step;
        const double c = segment.phasorCos;
        const double s = segment.phasorSin;
        segment.currentRe += ia * c;
        segment.currentIm -= ia * s;
        segment.voltageRe += sample.e[0] * c;
        segment.voltageIm -= sample.e[0] * s;
        segment.squaresVoltage += sample.e[0] * sample.e[0];
        segment.sourceRe += sample.sourceA * c;
        segment.sourceIm -= sample.sourceA * s;
        for (std::size_t k = 0; k < 3; ++k) {
            segment.phaseCurrentRe[k] += sample.i[k] * c;
            segment.phaseCurrentIm[k] -= sample.i[k] * s;
            segment.phaseVoltageRe[k] += sample.e[k] * c;
            segment.phaseVoltageIm[k] -= sample.e[k] * s;
        }
        if (step >= segment.rippleFrom) {
            // At twice the angle: cos 2x = c^2 - s^2, sin 2x = 2 c s.
            const double c2 = c * c - s * s;
            const double s2 = 2.0 * c * s;
            const std::array<double, 9> terms{1.0,     c2,  s2,       c2 * c2, s2 * s2,
                                              c2 * s2, vdc, vdc * c2, vdc * s2};
            for (std::size_t k = 0; k < terms.size(); ++k)
                segment.linkSums[k] += terms[k];
        }
    }
}

std::vector<SegmentFigures> FiguresRecorder::figures() const {
    std::vector<SegmentFigures> out;
    for (const Segment &segment : segments_) {
        if (segment.samples == 0) {
            continue;
        }
        SegmentFigures f;
        f.start = segment.start;
        const bool complete = sampleStep(segment.lastTime) >= segment.lastStep;
        f.end = complete ? segment.end : segment.lastTime;
        f.gridFrequency = segment.frequency;
        f.vdcMin = segment.vdcMin;
        f.vdcMax = segment.vdcMax;
        f.settlingTime = segment.lastOutside < 0.0 ? 0.0 : segment.lastOutside - segment.start;
        f.settled = complete && segment.endsInside;
        f.vdcRipple = segment.rippleMax - segment.rippleMin;
        f.peakCurrentPu = segment.peakCurrent / CURRENT_BASE;
        f.illegalPatterns = segment.illegalAtEnd - segment.illegalAtStart;
        f.directChanges = segment.directAtEnd - segment.directAtStart;
        if (complete && segment.steadySamples > 0) {
            const double n = static_cast<double>(segment.steadySamples);
            f.steadyRmsPu = std::sqrt(segment.squaresAll / (3.0 * n)) / (CURRENT_BASE / std::sqrt(2.0));
            const double fundamental = 2.0 * std::hypot(segment.currentRe, segment.currentIm) / n;
            f.fundamentalPu = fundamental / CURRENT_BASE;
            const double phase = std::atan2(segment.currentIm, segment.currentRe) -
                                 std::atan2(segment.voltageIm, segment.voltageRe);
            f.phaseDegrees = wrappedDegrees(phase);
            f.powerFactor = std::cos(phase);
            const double rmsSquared = segment.squaresA / n;
            const double fundamentalRms = fundamental / std::sqrt(2.0);
            const double distortionSquared = rmsSquared - fundamentalRms * fundamentalRms;
            f.thd = fundamentalRms > 0.0 ? std::sqrt(std::max(0.0, distortionSquared)) / fundamentalRms : 0.0;

            const double voltagePeak = 2.0 * std::hypot(segment.voltageRe, segment.voltageIm) / n;
            f.pccFundamentalPu = voltagePeak / PHASE_PEAK;
            const double voltageRms = voltagePeak / std::sqrt(2.0);
            const double voltageDistortion = segment.squaresVoltage / n - voltageRms * voltageRms;
            f.pccThd = voltageRms > 0.0 ? std::sqrt(std::max(0.0, voltageDistortion)) / voltageRms : 0.0;
            f.pccAngleDegrees = wrappedDegrees(std::atan2(segment.voltageIm, segment.voltageRe) -
                                               std::atan2(segment.sourceIm, segment.sourceRe));

            const std::array<double, 2> current =
                sequenceMagnitudes(segment.phaseCurrentRe, segment.phaseCurrentIm);
            f.positiveSequencePu = 2.0 * current[0] / n / CURRENT_BASE;
            f.negativeSequencePu = 2.0 * current[1] / n / CURRENT_BASE;
            f.currentUnbalance = current[0] > 0.0 ? 100.0 * current[1] / current[0] : 0.0;
            const std::array<double, 2> voltage =
                sequenceMagnitudes(segment.phaseVoltageRe, segment.phaseVoltageIm);
            f.pccNegativeSequence = voltage[0] > 0.0 ? 100.0 * voltage[1] / voltage[0] : 0.0;
            f.vdcRipple120 = rippleAtTwiceTheFrequency(segment.linkSums);
        } else {
            f.steady = false;
        }
        out.push_back(f);
    }
    return out;
}

} // namespace kestrune::plant
