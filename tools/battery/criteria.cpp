#include "criteria.h"

#include "analysis/illegal_share.h"
#include "common/number_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kestrune::battery {

namespace {

constexpr double BAND_LOW = 495.0; // [V] the settled band around the 500 V reference
constexpr double BAND_HIGH = 505.0;

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace

CriteriaWatch::CriteriaWatch(double eventStart, double eventEnd, double duration)
    : startStep_(plant::stepIndexAtOrAfter(eventStart)), endStep_(plant::stepIndexAtOrAfter(eventEnd)),
      lastStep_(std::llround(duration / kestrune::BASE_STEP)) {}

void CriteriaWatch::row(const sim::PlantSignals &signals) {
    const std::int64_t step = signals.step;
    if (step < startStep_)
        return;
    lastTime_ = signals.time;
    bool inside = true;
    for (const sim::ConverterSignals &x : signals.converters) {
        for (const double i : x.current())
            peakCurrent_ = std::max(peakCurrent_, std::abs(i));
        // The event's own span: its last step is the one before its end
        // takes effect.
        if (step < endStep_) {
            if (!inEvent_) {
                linkMin_ = linkMax_ = x.vdc();
                inEvent_ = true;
            }
            linkMin_ = std::min(linkMin_, x.vdc());
            linkMax_ = std::max(linkMax_, x.vdc());
        }
        inside = inside && x.vdc() >= BAND_LOW && x.vdc() <= BAND_HIGH;
    }
    if (step >= endStep_) {
        endsInside_ = inside;
        if (!inside)
            lastOutside_ = signals.time;
    }
}

Measurements CriteriaWatch::measurements(const sim::ClosedLoopResult &result) const {
    Measurements m;
    m.reached = lastTime_ > 0.0 || startStep_ == 0;
    m.diverged = result.stopped;
    m.stopTime = result.stopTime;
    m.illegal = result.illegalPatterns + result.directChanges;
    if (const auto share = plant::pervasiveIllegalPatterns(
            result.converterFigures, plant::baseStepsPerStep(result.simulated, result.stepsDone)))
        m.pervasiveIllegal = plant::illegalShareText(*share);
    m.peakCurrentPu = peakCurrent_ / plant::CURRENT_BASE;
    m.linkMin = linkMin_;
    m.linkMax = linkMax_;
    m.eventEnds = endStep_ < lastStep_;
    const double end = static_cast<double>(endStep_) * kestrune::BASE_STEP;
    m.recovered = m.eventEnds && !result.stopped && endsInside_ && lastTime_ >= end;
    m.recoveryTime = lastOutside_ < 0.0 ? 0.0 : lastOutside_ - end;
    return m;
}

const char *markName(Mark mark) {
    switch (mark) {
    case Mark::Pass:
        return "pass";
    case Mark::Fail:
        return "fail";
    case Mark::Off:
        return "off";
    case Mark::NotApplicable:
        return "n/a";
    }
    return "?";
}

std::vector<Judged> judgeCriteria(const Criteria &c, const Measurements &m) {
    auto mark = [](bool pass) { return pass ? Mark::Pass : Mark::Fail; };
    std::vector<Judged> judged;
    judged.push_back({"divergence", "no divergence",
                      m.diverged ? "stopped at " + fixed(m.stopTime, 4) + " s" : std::string("none"),
                      c.noDivergence ? mark(!m.diverged) : Mark::Off, c.noDivergence ? "none" : ""});
    judged.push_back({"illegal", "no illegal pattern or direct change", std::to_string(m.illegal),
                      !m.pervasiveIllegal.empty() ? Mark::Fail
                      : c.noIllegal               ? mark(m.illegal == 0)
                                                  : Mark::Off,
                      c.noIllegal ? "0" : ""});
    // A run that stopped before the event has no current nor link to judge.
    auto reached = [&m](bool wanted, bool pass) {
        return !wanted ? Mark::Off : !m.reached ? Mark::NotApplicable : pass ? Mark::Pass : Mark::Fail;
    };
    judged.push_back(
        {"peak_current", "peak current [pu]", m.reached ? fixed(m.peakCurrentPu, 3) : "-",
         reached(c.peakCurrentPu.has_value(), c.peakCurrentPu && m.peakCurrentPu <= *c.peakCurrentPu),
         c.peakCurrentPu ? "<= " + numberText(*c.peakCurrentPu, 6) : ""});
    const bool inBand = c.linkBand && m.linkMin >= (*c.linkBand)[0] && m.linkMax <= (*c.linkBand)[1];
    judged.push_back(
        {"link_band", "link during the event [V]",
         m.reached ? fixed(m.linkMin, 1) + "-" + fixed(m.linkMax, 1) : "-",
         reached(c.linkBand.has_value(), inBand),
         c.linkBand ? numberText((*c.linkBand)[0], 6) + "-" + numberText((*c.linkBand)[1], 6) : ""});
    // A link that ends the run outside the band has not recovered, however
    // long the run.
    Mark recovery = Mark::Off;
    std::string measured = "-";
    if (c.recoveryTime) {
        if (!m.eventEnds) {
            recovery = Mark::NotApplicable;
        } else {
            recovery = mark(m.recovered && m.recoveryTime <= *c.recoveryTime);
            measured = m.recovered ? fixed(m.recoveryTime, 4) : std::string("not recovered");
        }
    }
    judged.push_back({"recovery", "back within 495-505 V after the event [s]", measured, recovery,
                      c.recoveryTime ? "<= " + numberText(*c.recoveryTime, 6) : ""});
    return judged;
}

bool passes(const std::vector<Judged> &judged) {
    return std::none_of(judged.begin(), judged.end(), [](const Judged &j) { return j.mark == Mark::Fail; });
}

} // namespace kestrune::battery
