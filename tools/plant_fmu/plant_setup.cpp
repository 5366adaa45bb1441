#include "plant_setup.h"

#include "common/number_text.h"
#include "parameter_rules.h"
#include "plant_variables.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kestrune::plantfmu {

namespace {

using plant::DEPTH_MAX;
using plant::HARMONIC_ORDER_MAX;

// A scenario's ranges, and two more of the events': a dip's depth and a
// ramp's rate.
enum class Range { Any, NonNegative, Positive, Depth, NonZero };

std::string rangeProblem(double value, Range range) {
    if (range == Range::Depth) {
        if (std::string problem = plant::rangeProblem(value, plant::Range::Any); !problem.empty())
            return problem;
        return value >= 0.0 && value <= DEPTH_MAX ? ""
                                                  : "must lie within 0-2 (got " + numberText(value) + ")";
    }
    if (range == Range::NonZero) {
        if (std::string problem = plant::rangeProblem(value, plant::Range::Any); !problem.empty())
            return problem;
        return value != 0.0 ? "" : "must be a rate other than 0";
    }
    return plant::rangeProblem(value, range == Range::Positive      ? plant::Range::Positive
                                      : range == Range::NonNegative ? plant::Range::NonNegative
                                                                    : plant::Range::Any);
}

// Reads the parameters in order and keeps the first problem, by name.
class Reader {
  public:
    explicit Reader(const PlantValues &values) : values_(values) {}
    const std::string &problem() const { return problem_; }
    bool ok() const { return problem_.empty(); }

    double real(int slot, Range range) {
        const double value = values_.reals[slot];
        if (ok())
            if (std::string rule = rangeProblem(value, range); !rule.empty())
                problem_ = plantVariableName(realReference(slot)) + " " + rule;
        return value;
    }
    // The value, or `low` when it lies outside low-high: no arithmetic ever
    // sees an integer beyond its range, whatever the master wrote.
    int integer(int slot, int low, int high) {
        const int value = values_.integers[slot];
        if (value >= low && value <= high)
            return value;
        if (ok())
            problem_ = plantVariableName(integerReference(slot)) + " must be from " + std::to_string(low) +
                       " to " + std::to_string(high) + " (got " + std::to_string(value) + ")";
        return low;
    }
    void fail(int realSlot, std::string rule) {
        if (ok())
            problem_ = plantVariableName(realReference(realSlot)) + " " + std::move(rule);
    }

  private:
    const PlantValues &values_;
    std::string problem_;
};

const Range VALUE_RANGES[] = {Range::Positive, Range::Any, Range::NonNegative, Range::NonNegative,
                              Range::Depth,    Range::Any, Range::Any,         Range::NonZero};

plant::GridEvent readEvent(Reader &r, int n, int converters) {
    const double time = r.real(realEvent(n, R_EVENT_TIME), Range::NonNegative);
    const int k = r.integer(integerEvent(n, I_KIND), 1, 8) - 1;
    const auto kind = static_cast<plant::EventKind>(k);
    const bool used = kind != plant::EventKind::Profile && kind != plant::EventKind::Harmonics;
    double value = used ? r.real(realEvent(n, R_EVENT_VALUE), VALUE_RANGES[k]) : 0.0;
    if (kind == plant::EventKind::PhaseJump)
        value = value * RADIANS_PER_DEGREE;
    // Only a load concerns one converter; the other kinds concern the grid.
    const int converter =
        kind == plant::EventKind::Load ? r.integer(integerEvent(n, I_CONVERTER), -1, converters - 1) : -1;
    plant::GridEvent event{time, kind, value, converter};
    if (kind == plant::EventKind::Dip || kind == plant::EventKind::Profile) {
        event.dip = static_cast<plant::DipType>(r.integer(integerEvent(n, I_DIP_TYPE), 1, 7) - 1);
        event.special = r.integer(integerEvent(n, I_SPECIAL_PHASE), 0, 2);
    }
    if (kind == plant::EventKind::FrequencyRamp)
        event.target = r.real(realEvent(n, R_EVENT_TARGET), Range::Positive);
    if (kind == plant::EventKind::Profile) {
        const int points = r.integer(integerEvent(n, I_POINTS), 1, MAX_POINTS);
        for (int p = 1; r.ok() && p <= points; ++p) {
            const plant::ProfilePoint point{r.real(realPointTime(n, p), Range::NonNegative),
                                            r.real(realPointDepth(n, p), Range::Depth)};
            if (p == 1 && point.time != 0.0)
                r.fail(realPointTime(n, p), "must be 0: the first point is at the event's time");
            if (p > 1 && !(point.time > event.profile.back().time))
                r.fail(realPointTime(n, p),
                       "is " + numberText(point.time) +
                           " s, not after the point ahead of it: times increase strictly");
            event.profile.push_back(point);
        }
    }
    if (kind == plant::EventKind::Harmonics) {
        const int harmonics = r.integer(integerEvent(n, I_HARMONICS), 0, MAX_HARMONICS);
        for (int h = 1; r.ok() && h <= harmonics; ++h)
            event.harmonics.push_back({r.integer(integerHarmonicOrder(n, h), 2, HARMONIC_ORDER_MAX),
                                       r.real(realHarmonicMagnitude(n, h), Range::NonNegative),
                                       r.real(realHarmonicPhase(n, h), Range::Any) * RADIANS_PER_DEGREE});
    }
    return event;
}

// A ramp whose rate points away from its target, given the frequency the
// events before it leave at its time (as the plant follows them), would
// never end: its event's number, or 0.
int rampAwayFromTarget(double frequency, const std::vector<plant::GridEvent> &events) {
    bool ramping = false;
    double rate = 0.0, target = 0.0, since = 0.0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const plant::GridEvent &event = events[i];
        const double at = static_cast<double>(plant::stepIndexAtOrAfter(event.time)) * BASE_STEP;
        if (ramping) {
            const double moved = frequency + rate * (at - since);
            frequency = rate > 0.0 ? std::min(moved, target) : std::max(moved, target);
            since = at;
        }
        if (event.kind == plant::EventKind::Frequency) {
            frequency = event.value;
            ramping = false;
        } else if (event.kind == plant::EventKind::FrequencyRamp) {
            if ((event.target - frequency) * event.value < 0.0)
                return static_cast<int>(i) + 1;
            ramping = true;
            rate = event.value;
            target = event.target;
            since = at;
        }
    }
    return 0;
}

// The source's amplitudes and the grid impedance the parameters make, or
// the parameter that makes one of them infinite. The ranges keep them
// finite; this keeps a plant from starting on an infinite source or
// impedance should a range ever widen.
std::string derivedProblem(double peak, const plant::GridImpedance &z,
                           const std::vector<plant::GridEvent> &events) {
    const auto infinite = [](int slot, const char *what) {
        return plantVariableName(realReference(slot)) + " makes the " + what + " infinite";
    };
    if (!std::isfinite(peak * DEPTH_MAX))
        return infinite(R_GRID_PHASE_PEAK, "source's amplitude");
    if (!std::isfinite(z.resistance) || !std::isfinite(z.inductance))
        return infinite(R_GRID_SCR, "grid impedance");
    for (int n = 1; n <= static_cast<int>(events.size()); ++n) {
        const plant::GridEvent &event = events[static_cast<std::size_t>(n - 1)];
        if (event.kind == plant::EventKind::Sag && !std::isfinite(peak * event.value))
            return infinite(realEvent(n, R_EVENT_VALUE), "source's amplitude");
        double amplitude = peak * DEPTH_MAX;
        for (int h = 1; h <= static_cast<int>(event.harmonics.size()); ++h) {
            amplitude += peak * event.harmonics[static_cast<std::size_t>(h - 1)].magnitude;
            if (!std::isfinite(amplitude))
                return infinite(realHarmonicMagnitude(n, h), "source's amplitude");
        }
    }
    return "";
}

} // namespace

void setStartValues(PlantValues &values) {
    for (const PlantVariable &v : plantVariables()) {
        if (v.type == VariableType::Real)
            values.reals[v.vr] = v.start;
        else if (v.type == VariableType::Integer)
            values.integers[v.vr - VR_INTEGER_FIRST] = static_cast<int>(v.start);
        else
            values.booleans[v.vr - VR_BOOLEAN_FIRST] = static_cast<int>(v.start);
    }
}

std::string makePlant(const PlantValues &values, std::unique_ptr<plant::Plant> &out) {
    Reader r(values);
    plant::GridParameters grid;
    grid.gridPhasePeak = r.real(R_GRID_PHASE_PEAK, Range::NonNegative);
    grid.gridFrequency = r.real(R_GRID_FREQUENCY, Range::Positive);
    grid.gridAngle = r.real(R_GRID_ANGLE, Range::Any) * RADIANS_PER_DEGREE;
    // 0: the stiff grid; else a ratio as small as any other positive value.
    const double scr = r.real(R_GRID_SCR, Range::NonNegative);
    if (scr != 0.0)
        r.real(R_GRID_SCR, Range::Positive);
    const double xOverR = r.real(R_GRID_X_OVER_R, Range::NonNegative);
    const int converters = r.integer(I_CONVERTERS, 1, MAX_CONVERTERS);
    if (!r.ok())
        return r.problem();
    std::vector<plant::ConverterParameters> list;
    for (int j = 0; j < converters; ++j) {
        plant::ConverterParameters c;
        c.inductance = r.real(realConverter(j, R_INDUCTANCE), Range::Positive);
        c.resistance = r.real(realConverter(j, R_RESISTANCE), Range::NonNegative);
        c.turnsRatio = r.real(realConverter(j, R_TURNS_RATIO), Range::Positive);
        c.capacitance = r.real(realConverter(j, R_CAPACITANCE), Range::Positive);
        c.loadPower = r.real(realConverter(j, R_LOAD_POWER), Range::NonNegative);
        c.precharge = r.real(realConverter(j, R_PRECHARGE), Range::NonNegative);
        c.splitLink = values.booleans[j] != 0;
        list.push_back(c);
    }
    const int count = r.integer(I_EVENTS, 0, MAX_EVENTS);
    std::vector<plant::GridEvent> events;
    for (int n = 1; r.ok() && n <= count; ++n) {
        events.push_back(readEvent(r, n, converters));
        if (n > 1 && r.ok() && events[events.size() - 1].time < events[events.size() - 2].time)
            r.fail(realEvent(n, R_EVENT_TIME),
                   "is " + numberText(events.back().time) +
                       " s, before the event ahead of it: events go in time order");
    }
    if (!r.ok())
        return r.problem();
    if (const int n = rampAwayFromTarget(grid.gridFrequency, events); n != 0)
        return plantVariableName(realReference(realEvent(n, R_EVENT_VALUE))) +
               " points away from the ramp's target: the ramp would never reach it";
    const plant::GridImpedance impedance =
        scr > 0.0 ? plant::gridImpedance(scr, xOverR, static_cast<std::size_t>(converters))
                  : plant::GridImpedance{};
    if (std::string problem = derivedProblem(grid.gridPhasePeak, impedance, events); !problem.empty())
        return problem;
    out = std::make_unique<plant::Plant>(grid, impedance, std::move(list), std::move(events));
    return "";
}

} // namespace kestrune::plantfmu
