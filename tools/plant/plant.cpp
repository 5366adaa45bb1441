#include "plant.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrune::plant {
namespace {

constexpr double PHASE_B = -2.0 * std::numbers::pi / 3.0;
constexpr double PHASE_C = 2.0 * std::numbers::pi / 3.0;
constexpr double LOAD_VOLTAGE = 500.0; // [V] R_load = 500^2 / P_load
constexpr double SWITCH_ON = 0.5;      // a gate above this is on

double loadResistanceFor(double power) {
    return LOAD_VOLTAGE * LOAD_VOLTAGE / power;
}

double leg0Voltage(int level, const PlantState &x, bool splitLink) {
    if (!splitLink) {
        return static_cast<double>(level) * x.vdc / 2.0;
    }
    if (level > 0) {
        return x.upper;
    }
    if (level < 0) {
        return -x.lower;
    }
    return 0.0;
}

// The right-hand side for one link model. The split link reads V1 and V2 and
// leaves the state's vdc alone.
template <bool Split>
inline PlantState rightHandSide(const PlantParameters &p, double loadResistance,
                                const std::array<int, 3> &levels, const std::array<double, 3> &e,
                                const PlantState &x) {
    PlantState d;
    PlantState link = x;
    if constexpr (Split) {
        link.vdc = x.upper + x.lower;
    }
    const std::array<double, 3> vN = converterVoltages(levels, link, Split);
    for (std::size_t k = 0; k < 3; ++k) {
        d.current[k] = (e[k] - p.resistance * x.current[k] - p.turnsRatio * vN[k]) / p.inductance;
    }
    const double loadCurrent = link.vdc / loadResistance;
    if constexpr (Split) {
        double upperSum = 0.0;
        double lowerSum = 0.0;
        for (std::size_t k = 0; k < 3; ++k) {
            if (levels[k] > 0) {
                upperSum += x.current[k];
            } else if (levels[k] < 0) {
                lowerSum += x.current[k];
            }
        }
        const double railP = p.turnsRatio * upperSum;
        const double railN = p.turnsRatio * lowerSum;
        d.upper = (railP - loadCurrent) / (2.0 * p.capacitance);
        d.lower = (-railN - loadCurrent) / (2.0 * p.capacitance);
        d.vdc = d.upper + d.lower;
    } else {
        const double converterTerm = (p.turnsRatio / 2.0) * (static_cast<double>(levels[0]) * x.current[0] +
                                                             static_cast<double>(levels[1]) * x.current[1] +
                                                             static_cast<double>(levels[2]) * x.current[2]);
        d.vdc = (converterTerm - loadCurrent) / p.capacitance;
    }
    return d;
}

// x + h * d over the fields the link model uses.
template <bool Split> inline PlantState advance(const PlantState &x, double h, const PlantState &d) {
    PlantState y;
    for (std::size_t k = 0; k < 3; ++k) {
        y.current[k] = x.current[k] + h * d.current[k];
    }
    if constexpr (Split) {
        y.upper = x.upper + h * d.upper;
        y.lower = x.lower + h * d.lower;
    } else {
        y.vdc = x.vdc + h * d.vdc;
    }
    return y;
}

inline double rk4Increment(double k1, double k2, double k3, double k4) {
    return BASE_STEP / 6.0 * (k1 + 2.0 * k2 + 2.0 * k3 + k4);
}

} // namespace

LegDecoding decodeLeg(double s1, double s2, double s3, double s4) {
    const bool on1 = s1 > SWITCH_ON;
    const bool on2 = s2 > SWITCH_ON;
    const bool on3 = s3 > SWITCH_ON;
    const bool on4 = s4 > SWITCH_ON;
    if (on1 && on2 && !on3 && !on4) {
        return {1, true};
    }
    if (!on1 && on2 && on3 && !on4) {
        return {0, true};
    }
    if (!on1 && !on2 && on3 && on4) {
        return {-1, true};
    }
    return {0, false};
}

std::int64_t stepIndexAtOrAfter(double time) {
    constexpr std::int64_t never = std::numeric_limits<std::int64_t>::max();
    if (std::isnan(time)) {
        return never;
    }
    if (time <= 0.0) {
        return 0;
    }
    const double steps = std::ceil(time / BASE_STEP - 1e-6);
    if (steps >= 9.0e18) {
        return never;
    }
    return std::max<std::int64_t>(0, static_cast<std::int64_t>(steps));
}

std::array<double, 3> converterVoltages(const std::array<int, 3> &levels, const PlantState &state,
                                        bool splitLink) {
    const double va0 = leg0Voltage(levels[0], state, splitLink);
    const double vb0 = leg0Voltage(levels[1], state, splitLink);
    const double vc0 = leg0Voltage(levels[2], state, splitLink);
    const double mean = (va0 + vb0 + vc0) / 3.0;
    return {va0 - mean, vb0 - mean, vc0 - mean};
}

PlantState derivative(const PlantParameters &parameters, double loadResistance,
                      const std::array<int, 3> &levels, const std::array<double, 3> &gridVoltages,
                      const PlantState &state) {
    if (parameters.splitLink) {
        return rightHandSide<true>(parameters, loadResistance, levels, gridVoltages, state);
    }
    return rightHandSide<false>(parameters, loadResistance, levels, gridVoltages, state);
}

Plant::Plant(const PlantParameters &parameters, std::vector<GridEvent> events)
    : parameters_(parameters), angleStart_(parameters.gridAngle), frequency_(parameters.gridFrequency),
      amplitude_(parameters.gridPhasePeak), loadPower_(parameters.loadPower),
      loadResistance_(loadResistanceFor(parameters.loadPower)) {
    events_.reserve(events.size());
    for (const GridEvent &event : events) {
        events_.push_back({stepIndexAtOrAfter(event.time), event.kind, event.value});
    }
    std::stable_sort(events_.begin(), events_.end(),
                     [](const ScheduledEvent &a, const ScheduledEvent &b) { return a.step < b.step; });
    state_.vdc = parameters.precharge;
    if (parameters.splitLink) {
        state_.upper = parameters.precharge / 2.0;
        state_.lower = parameters.precharge / 2.0;
    }
    gridNow_ = gridAt(0.0);
    applyDueEvents();
}

double Plant::angleAt(double time) const {
    return angleStart_ + 2.0 * std::numbers::pi * frequency_ * (time - angleStartTime_);
}

std::array<double, 3> Plant::gridAt(double time) const {
    const double theta = angleAt(time);
    return {amplitude_ * std::sin(theta), amplitude_ * std::sin(theta + PHASE_B),
            amplitude_ * std::sin(theta + PHASE_C)};
}

// Applies the events due at the present step. Each one restarts the angle
// from its value now, so theta stays continuous through a change of
// frequency or amplitude and a jump adds exactly its angle.
void Plant::applyDueEvents() {
    if (nextEvent_ == events_.size() || events_[nextEvent_].step > stepCount_) {
        return;
    }
    const double now = time();
    while (nextEvent_ < events_.size() && events_[nextEvent_].step <= stepCount_) {
        const ScheduledEvent &event = events_[nextEvent_++];
        angleStart_ = angleAt(now);
        angleStartTime_ = now;
        switch (event.kind) {
        case EventKind::Frequency:
            frequency_ = event.value;
            break;
        case EventKind::PhaseJump:
            angleStart_ = angleStart_ + event.value;
            break;
        case EventKind::Sag:
            amplitude_ = event.value * parameters_.gridPhasePeak;
            break;
        case EventKind::Load:
            loadPower_ = event.value;
            loadResistance_ = loadResistanceFor(event.value);
            break;
        }
    }
    gridNow_ = gridAt(now);
}

std::array<double, 7> Plant::measurements() const {
    return {gridNow_[0],       gridNow_[1],       gridNow_[2], state_.current[0],
            state_.current[1], state_.current[2], state_.vdc};
}

// RK4 over one base step with the levels held and the grid at t, t + h/2 and
// t + h. The end time is computed as (k + 1) * h, the next step's start time
// exactly, so its grid values serve that step's first stage.
template <bool Split> void Plant::integrate(const std::array<int, 3> &levels) {
    const PlantParameters &p = parameters_;
    const double t = time();
    const double tMid = t + BASE_STEP / 2.0;
    const double tEnd = static_cast<double>(stepCount_ + 1) * BASE_STEP;
    const std::array<double, 3> eMid = gridAt(tMid);
    const std::array<double, 3> eEnd = gridAt(tEnd);

    const PlantState &x = state_;
    const PlantState k1 = rightHandSide<Split>(p, loadResistance_, levels, gridNow_, x);
    const PlantState k2 =
        rightHandSide<Split>(p, loadResistance_, levels, eMid, advance<Split>(x, BASE_STEP / 2.0, k1));
    const PlantState k3 =
        rightHandSide<Split>(p, loadResistance_, levels, eMid, advance<Split>(x, BASE_STEP / 2.0, k2));
    const PlantState k4 =
        rightHandSide<Split>(p, loadResistance_, levels, eEnd, advance<Split>(x, BASE_STEP, k3));

    for (std::size_t k = 0; k < 3; ++k) {
        state_.current[k] =
            state_.current[k] + rk4Increment(k1.current[k], k2.current[k], k3.current[k], k4.current[k]);
    }
    if constexpr (Split) {
        state_.upper = state_.upper + rk4Increment(k1.upper, k2.upper, k3.upper, k4.upper);
        state_.lower = state_.lower + rk4Increment(k1.lower, k2.lower, k3.lower, k4.lower);
        state_.vdc = state_.upper + state_.lower;
    } else {
        state_.vdc = state_.vdc + rk4Increment(k1.vdc, k2.vdc, k3.vdc, k4.vdc);
    }
    gridNow_ = eEnd;
}

void Plant::step(const std::array<double, 12> &gates) {
    std::array<int, 3> levels;
    for (std::size_t leg = 0; leg < 3; ++leg) {
        const LegDecoding decoded =
            decodeLeg(gates[4 * leg], gates[4 * leg + 1], gates[4 * leg + 2], gates[4 * leg + 3]);
        if (!decoded.legal) {
            ++illegalPatterns_;
        }
        if (decoded.level * levels_[leg] < 0) {
            ++directChanges_;
        }
        levels[leg] = decoded.level;
    }
    if (parameters_.splitLink) {
        integrate<true>(levels);
    } else {
        integrate<false>(levels);
    }
    levels_ = levels;
    ++stepCount_;
    applyDueEvents();
}

std::int64_t Plant::stepCount() const {
    return stepCount_;
}
double Plant::time() const {
    return static_cast<double>(stepCount_) * BASE_STEP;
}
const PlantState &Plant::state() const {
    return state_;
}

void Plant::setState(const PlantState &state) {
    state_ = state;
    if (parameters_.splitLink) {
        state_.vdc = state.upper + state.lower;
    }
}

std::array<double, 3> Plant::gridVoltages() const {
    return gridNow_;
}
double Plant::gridFrequency() const {
    return frequency_;
}
double Plant::loadPower() const {
    return loadPower_;
}
double Plant::loadResistance() const {
    return loadResistance_;
}
double Plant::gridAmplitude() const {
    return amplitude_;
}
double Plant::gridAngle() const {
    return angleAt(time());
}
std::array<int, 3> Plant::levels() const {
    return levels_;
}

double Plant::activePower() const {
    const std::array<double, 3> &e = gridNow_;
    const std::array<double, 3> &i = state_.current;
    return e[0] * i[0] + e[1] * i[1] + e[2] * i[2];
}

double Plant::reactivePower() const {
    const std::array<double, 3> &e = gridNow_;
    const std::array<double, 3> &i = state_.current;
    return ((e[1] - e[2]) * i[0] + (e[2] - e[0]) * i[1] + (e[0] - e[1]) * i[2]) / std::sqrt(3.0);
}

std::int64_t Plant::illegalPatterns() const {
    return illegalPatterns_;
}
std::int64_t Plant::directChanges() const {
    return directChanges_;
}

} // namespace kestrune::plant
