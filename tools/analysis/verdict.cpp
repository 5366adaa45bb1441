#include "verdict.h"

#include "illegal_share.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace kestrune::sweep {

namespace {

constexpr const char *VERDICT_NAMES[VERDICT_COUNT] = {"holds",   "unsettled", "oscillating",
                                                      "illegal", "diverged",  "failed"};

std::string fixed(double value, int digits) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.*f", digits, value);
    return buffer;
}

} // namespace

const char *verdictName(Verdict verdict) {
    return VERDICT_NAMES[static_cast<std::size_t>(verdict)];
}

bool verdictFromName(std::string_view name, Verdict &verdict) {
    for (std::size_t v = 0; v < VERDICT_COUNT; ++v)
        if (name == VERDICT_NAMES[v]) {
            verdict = static_cast<Verdict>(v);
            return true;
        }
    return false;
}

void SwingWatch::Window::add(double v) {
    if (!any) {
        min = max = v;
        any = true;
    } else {
        min = std::min(min, v);
        max = std::max(max, v);
    }
}

SwingWatch::SwingWatch(std::vector<double> segmentStarts, double duration, std::size_t converters)
    : converters_(converters), previous_(converters), last_(converters), swings_(converters) {
    starts_.push_back(0.0);
    for (const double start : segmentStarts) {
        ends_.push_back(start);
        starts_.push_back(start);
    }
    ends_.push_back(duration);
}

void SwingWatch::beginSegment(std::size_t segment, double frequency) {
    segment_ = segment;
    const double window = CYCLES / frequency;
    lastFrom_ = ends_[segment] - window;
    previousFrom_ = ends_[segment] - 2.0 * window;
    measurable_ = previousFrom_ >= starts_[segment] - 1e-9;
    for (std::size_t j = 0; j < converters_; ++j)
        previous_[j] = last_[j] = Window{};
}

void SwingWatch::closeSegment() {
    for (std::size_t j = 0; j < converters_; ++j) {
        Swing swing;
        swing.measured = measurable_ && previous_[j].any && last_[j].any;
        if (swing.measured) {
            swing.last = last_[j].spread();
            swing.previous = previous_[j].spread();
        }
        swings_[j].push_back(swing);
    }
}

void SwingWatch::row(const sim::PlantSignals &signals) {
    const double t = signals.time;
    if (!started_) {
        started_ = true;
        beginSegment(0, signals.gridFrequency);
    }
    // A row at a segment's end, taken with the next segment's event in
    // force, is the next segment's first.
    while (segment_ + 1 < ends_.size() && t >= ends_[segment_] - 1e-9) {
        closeSegment();
        beginSegment(segment_ + 1, signals.gridFrequency);
    }
    for (std::size_t j = 0; j < converters_; ++j) {
        const double vdc = signals.converters[j].vdc();
        if (t >= lastFrom_ - 1e-9)
            last_[j].add(vdc);
        else if (t >= previousFrom_ - 1e-9)
            previous_[j].add(vdc);
    }
}

bool SwingWatch::continueFrom(const SwingWatch &past) {
    const std::size_t begun = past.started_ ? past.segment_ + 1 : 0;
    if (converters_ != past.converters_ || begun > ends_.size())
        return false;
    for (std::size_t k = 0; k < begun; ++k)
        if (starts_[k] != past.starts_[k] || ends_[k] != past.ends_[k])
            return false;
    std::vector<double> starts = std::move(starts_);
    std::vector<double> ends = std::move(ends_);
    *this = past;
    starts_ = std::move(starts);
    ends_ = std::move(ends);
    return true;
}

void SwingWatch::finish() {
    if (started_ && swings_.front().size() <= segment_)
        closeSegment();
}

bool oscillates(double last, double previous) {
    return last > SWING_WIDE || (last > SWING_FLOOR && last > SWING_GROWTH * previous);
}

Verdict judge(const sim::ClosedLoopResult &result, const SwingWatch &watch, std::string &reason) {
    reason.clear();
    if (!result.ok) {
        reason = result.error;
        return Verdict::Failed;
    }
    if (const std::optional<plant::IllegalShare> share = plant::pervasiveIllegalPatterns(
            result.converterFigures, plant::baseStepsPerStep(result.simulated, result.stepsDone))) {
        reason = plant::illegalShareText(*share);
        return Verdict::Failed;
    }
    if (result.stopped) {
        reason = "stopped at t = " + fixed(result.stopTime, 5) + " s: " + result.stopReason;
        return Verdict::Diverged;
    }
    if (result.illegalPatterns > 0 || result.directChanges > 0) {
        reason = std::to_string(result.illegalPatterns) + " illegal gate patterns, " +
                 std::to_string(result.directChanges) + " direct changes between +1 and -1";
        return Verdict::Illegal;
    }
    const std::size_t n = result.converterFigures.size();
    auto who = [n](std::size_t j) {
        return n == 1 ? std::string() : "converter " + std::to_string(j) + ", ";
    };
    for (std::size_t j = 0; j < watch.swings().size(); ++j)
        for (std::size_t k = 0; k < watch.swings()[j].size(); ++k) {
            const SwingWatch::Swing &s = watch.swings()[j][k];
            if (s.measured && oscillates(s.last, s.previous)) {
                reason = who(j) + "segment " + std::to_string(k) + ": the link swings " + fixed(s.last, 2) +
                         " V over the last three grid cycles, up from " + fixed(s.previous, 2) + " V";
                return Verdict::Oscillating;
            }
        }
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t k = 0; k < result.converterFigures[j].size(); ++k) {
            const plant::SegmentFigures &f = result.converterFigures[j][k];
            if (!f.settled) {
                reason = who(j) + "segment " + std::to_string(k) + " (" + fixed(f.start, 3) + "-" +
                         fixed(f.end, 3) + " s) ends with the link outside 495-505 V (it spans " +
                         fixed(f.vdcMin, 2) + "-" + fixed(f.vdcMax, 2) + " V)";
                return Verdict::Unsettled;
            }
        }
    return Verdict::Holds;
}

} // namespace kestrune::sweep
