#include "plant.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrune::plant {
namespace {

// cos and sin of -120 and +120 degrees.
constexpr double COS_120 = -0.5;
constexpr double SIN_120 = 0.86602540378443864676;
// A rotation by a product of unit phasors drifts by a few units of the last
// place per step; re-anchored every cycle and a half at 60 Hz it stays near
// 1e-13 of the amplitude.
constexpr std::int64_t ANCHOR_STEPS = 5000;
constexpr double LOAD_VOLTAGE = 500.0; // [V] R_load = 500^2 / P_load
constexpr double SWITCH_ON = 0.5;      // a gate above this is on

double loadResistanceFor(double power) {
    return LOAD_VOLTAGE * LOAD_VOLTAGE / power;
}

double loadConductanceFor(double power) {
    return power / (LOAD_VOLTAGE * LOAD_VOLTAGE);
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

// The right-hand side of a converter with one capacitor, from the
// coefficients of its held levels: u_k = shape_k Vdc on the 600 V side, the
// link charged by sum_k gain_k i_k. The plant's stages evaluate exactly this,
// and derivative() too.
inline void singleLinkRightHandSide(const std::array<double, 3> &shape, const std::array<double, 3> &gain,
                                    double resistance, double inverseInductance, double inverseCapacitance,
                                    double loadConductance, const std::array<double, 3> &v,
                                    const PlantState &y, PlantState &dy) {
    double charge = 0.0;
    for (std::size_t k = 0; k < 3; ++k) {
        dy.current[k] = (v[k] - resistance * y.current[k] - shape[k] * y.vdc) * inverseInductance;
        charge += gain[k] * y.current[k];
    }
    dy.vdc = (charge - y.vdc * loadConductance) * inverseCapacitance;
}

// shape_k = n (l_k - mean l) / 2 and gain_k = n l_k / 2 of one level pattern.
inline void couplingOf(const std::array<int, 3> &levels, double turnsRatio, std::array<double, 3> &shape,
                       std::array<double, 3> &gain) {
    const double mean = static_cast<double>(levels[0] + levels[1] + levels[2]) / 3.0;
    for (std::size_t k = 0; k < 3; ++k) {
        const double level = static_cast<double>(levels[k]);
        shape[k] = turnsRatio * (level - mean) / 2.0;
        gain[k] = turnsRatio * level / 2.0;
    }
}

// The right-hand side of a split link: the halves V1 and V2, each charged by
// the currents of the legs at its rail; the state's vdc is not read.
inline PlantState splitLinkRightHandSide(const ConverterParameters &p, double loadResistance,
                                         const std::array<int, 3> &levels, const std::array<double, 3> &e,
                                         const PlantState &x) {
    PlantState d;
    PlantState link = x;
    link.vdc = x.upper + x.lower;
    const std::array<double, 3> vN = converterVoltages(levels, link, true);
    for (std::size_t k = 0; k < 3; ++k) {
        d.current[k] = (e[k] - p.resistance * x.current[k] - p.turnsRatio * vN[k]) / p.inductance;
    }
    const double loadCurrent = link.vdc / loadResistance;
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

// The decoding of each switch pattern, switch k + 1 on in bit k.
constexpr std::array<LegDecoding, 16> LEG_PATTERNS = [] {
    std::array<LegDecoding, 16> table{};
    table.fill({0, false});
    table[0b0011] = {1, true};  // (1,1,0,0)
    table[0b0110] = {0, true};  // (0,1,1,0)
    table[0b1100] = {-1, true}; // (0,0,1,1)
    return table;
}();

inline unsigned switchPattern(double s1, double s2, double s3, double s4) {
    return static_cast<unsigned>(s1 > SWITCH_ON) | static_cast<unsigned>(s2 > SWITCH_ON) << 1U |
           static_cast<unsigned>(s3 > SWITCH_ON) << 2U | static_cast<unsigned>(s4 > SWITCH_ON) << 3U;
}

} // namespace

LegDecoding decodeLeg(double s1, double s2, double s3, double s4) {
    return LEG_PATTERNS[switchPattern(s1, s2, s3, s4)];
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

PlantState derivative(const ConverterParameters &parameters, double loadResistance,
                      const std::array<int, 3> &levels, const std::array<double, 3> &gridVoltages,
                      const PlantState &state) {
    if (parameters.splitLink) {
        return splitLinkRightHandSide(parameters, loadResistance, levels, gridVoltages, state);
    }
    std::array<double, 3> shape{};
    std::array<double, 3> gain{};
    couplingOf(levels, parameters.turnsRatio, shape, gain);
    PlantState d;
    singleLinkRightHandSide(shape, gain, parameters.resistance, 1.0 / parameters.inductance,
                            1.0 / parameters.capacitance, 1.0 / loadResistance, gridVoltages, state, d);
    return d;
}

GridImpedance gridImpedance(double scr, double xOverR, std::size_t converters) {
    if (!(scr > 0.0) || converters == 0) {
        return {};
    }
    const double magnitude = IMPEDANCE_BASE / (scr * static_cast<double>(converters));
    const double resistance = magnitude / std::sqrt(1.0 + xOverR * xOverR);
    const double reactance = xOverR * resistance;
    return {resistance, reactance / (2.0 * std::numbers::pi * NOMINAL_FREQUENCY)};
}

Plant::Plant(const PlantParameters &parameters, std::vector<GridEvent> events)
    : Plant(parameters, GridImpedance{}, {parameters}, std::move(events)) {}

Plant::Plant(const GridParameters &grid, GridImpedance impedance, std::vector<ConverterParameters> converters,
             std::vector<GridEvent> events)
    : grid_(grid), impedance_(impedance), angleStart_(grid.gridAngle), frequency_(grid.gridFrequency),
      amplitude_(grid.gridPhasePeak) {
    if (converters.empty()) {
        converters.emplace_back();
    }
    double inverseInductances = 0.0;
    for (const ConverterParameters &p : converters) {
        Converter c;
        c.parameters = p;
        c.loadPower = p.loadPower;
        c.loadResistance = loadResistanceFor(p.loadPower);
        c.inverseInductance = 1.0 / p.inductance;
        c.inverseCapacitance = 1.0 / p.capacitance;
        c.loadConductance = loadConductanceFor(p.loadPower);
        for (int pattern = 0; pattern < 27; ++pattern) {
            const std::array<int, 3> levels{pattern / 9 - 1, pattern / 3 % 3 - 1, pattern % 3 - 1};
            Converter::Coupling &coupling = c.couplings[static_cast<std::size_t>(pattern)];
            couplingOf(levels, p.turnsRatio, coupling.shape, coupling.gain);
        }
        converters_.push_back(c);
        PlantState x;
        x.vdc = p.precharge;
        if (p.splitLink) {
            x.upper = p.precharge / 2.0;
            x.lower = p.precharge / 2.0;
        }
        states_.push_back(x);
        inverseInductances += c.inverseInductance;
    }
    conductanceTerm_ = 1.0 + impedance_.inductance * inverseInductances;
    alone_ = impedance_.stiff() && std::none_of(converters_.begin(), converters_.end(),
                                                [](const Converter &c) { return c.parameters.splitLink; });
    k1_.resize(states_.size());
    k2_.resize(states_.size());
    k3_.resize(states_.size());
    k4_.resize(states_.size());
    trial_.resize(states_.size());

    events_.reserve(events.size());
    for (GridEvent &event : events) {
        events_.push_back({stepIndexAtOrAfter(event.time), std::move(event)});
    }
    std::stable_sort(events_.begin(), events_.end(),
                     [](const ScheduledEvent &a, const ScheduledEvent &b) { return a.step < b.step; });
    anchorGrid();
    applyDueEvents();
    refreshPcc();
    rebuildStepMaps();
}

void Plant::rebuildStepMaps() {
    if (alone_ && !varying_) {
        for (Converter &c : converters_) {
            buildStepMaps(c);
        }
    }
}

void Plant::anchorGrid() {
    const double theta = angleAt(time());
    phasorCos_ = std::cos(theta);
    phasorSin_ = std::sin(theta);
    const double half = std::numbers::pi * frequency_ * BASE_STEP;
    halfStepCos_ = std::cos(half);
    halfStepSin_ = std::sin(half);
    anchoredAt_ = stepCount_;
    if (varying_) {
        setSourceNow(sourceAt(time()));
    } else if (balanced_) {
        gridNow_ = {amplitude_ * phasorSin_, amplitude_ * std::sin(theta - 2.0 * std::numbers::pi / 3.0),
                    amplitude_ * std::sin(theta + 2.0 * std::numbers::pi / 3.0)};
        driveNow_ = gridNow_;
        zeroNow_ = 0.0;
    } else {
        setSourceNow(sourceOf(phasorCos_, phasorSin_));
    }
}

void Plant::setSourceNow(const Source &source) {
    gridNow_ = source.e;
    driveNow_ = source.drive;
    zeroNow_ = source.zero;
}

// A sin(theta + phi_k) from cos and sin of theta.
std::array<double, 3> Plant::gridOf(double c, double s) const {
    return {amplitude_ * s, amplitude_ * (s * COS_120 - c * SIN_120),
            amplitude_ * (s * COS_120 + c * SIN_120)};
}

Plant::Source Plant::sourceOf(double c, double s) const {
    if (balanced_) {
        const std::array<double, 3> e = gridOf(c, s);
        return {e, e, 0.0};
    }
    const double peak = grid_.gridPhasePeak;
    Source source;
    for (std::size_t k = 0; k < 3; ++k) {
        source.e[k] = peak * (phasorRe_[k] * s + phasorIm_[k] * c);
        source.drive[k] = peak * (driveRe_[k] * s + driveIm_[k] * c);
    }
    source.zero = peak * (zeroRe_ * s + zeroIm_ * c);
    return source;
}

Plant::Source Plant::sourceAt(double time) const {
    const double theta = angleAt(time);
    const double h = profileEvent_ == NONE ? depth_ : depthAt(time);
    const std::array<Phasor, 3> p = dipPhasors(dipType_, h, dipSpecial_);
    const double peak = grid_.gridPhasePeak;
    const double s = std::sin(theta);
    const double c = std::cos(theta);
    Source source;
    for (std::size_t k = 0; k < 3; ++k) {
        source.e[k] = peak * (p[k].real() * s + p[k].imag() * c);
    }
    if (harmonicsEvent_ != NONE) {
        for (const Harmonic &harmonic : events_[harmonicsEvent_].event.harmonics) {
            const double n = static_cast<double>(harmonic.order);
            for (std::size_t k = 0; k < 3; ++k) {
                const double shifted = theta - 2.0 * std::numbers::pi / 3.0 * static_cast<double>(k);
                source.e[k] += peak * harmonic.magnitude * std::sin(n * shifted + harmonic.phase);
            }
        }
    }
    source.zero = (source.e[0] + source.e[1] + source.e[2]) / 3.0;
    for (std::size_t k = 0; k < 3; ++k) {
        source.drive[k] = source.e[k] - source.zero;
    }
    return source;
}

double Plant::angleAt(double time) const {
    if (!ramping_) {
        return angleStart_ + 2.0 * std::numbers::pi * frequency_ * (time - angleStartTime_);
    }
    // f + rate tau up to the ramp's end, then its target.
    const double tau = time - angleStartTime_;
    const double ramped = std::min(tau, rampLength_);
    const double cycles = frequency_ * ramped + 0.5 * rampRate_ * ramped * ramped + rampTo_ * (tau - ramped);
    return angleStart_ + 2.0 * std::numbers::pi * cycles;
}

double Plant::frequencyAt(double time) const {
    if (!ramping_) {
        return frequency_;
    }
    const double tau = time - angleStartTime_;
    return tau >= rampLength_ ? rampTo_ : frequency_ + rampRate_ * tau;
}

double Plant::depthAt(double time) const {
    const std::vector<ProfilePoint> &points = events_[profileEvent_].event.profile;
    return points.empty() ? depth_ : profileDepth(points, time - profileStart_);
}

void Plant::sourceChanged() {
    varying_ = ramping_ || profileEvent_ != NONE || harmonicsEvent_ != NONE;
    // Every type at h = 1, and type A at any h, is a balanced set: the
    // balanced arithmetic serves it.
    balanced_ = !varying_ && (dipType_ == DipType::A || depth_ == 1.0);
    if (!balanced_ && !varying_) {
        const std::array<Phasor, 3> p = dipPhasors(dipType_, depth_, dipSpecial_);
        const Phasor zero = (p[0] + p[1] + p[2]) / 3.0;
        for (std::size_t k = 0; k < 3; ++k) {
            phasorRe_[k] = p[k].real();
            phasorIm_[k] = p[k].imag();
            driveRe_[k] = (p[k] - zero).real();
            driveIm_[k] = (p[k] - zero).imag();
        }
        zeroRe_ = zero.real();
        zeroIm_ = zero.imag();
    }
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
        const std::size_t index = nextEvent_++;
        const GridEvent &event = events_[index].event;
        if (ramping_) {
            const double f = frequencyAt(now);
            angleStart_ = angleAt(now);
            frequency_ = f;
            rampLength_ = std::max(0.0, (rampTo_ - f) / rampRate_);
        } else {
            angleStart_ = angleAt(now);
        }
        angleStartTime_ = now;
        switch (event.kind) {
        case EventKind::Frequency:
            frequency_ = event.value;
            ramping_ = false;
            break;
        case EventKind::PhaseJump:
            angleStart_ = angleStart_ + event.value;
            break;
        case EventKind::Sag:
            dipType_ = DipType::A;
            depth_ = event.value;
            profileEvent_ = NONE;
            amplitude_ = event.value * grid_.gridPhasePeak;
            break;
        case EventKind::Dip:
            dipType_ = event.dip;
            dipSpecial_ = event.special;
            depth_ = event.value;
            profileEvent_ = NONE;
            amplitude_ = event.value * grid_.gridPhasePeak;
            break;
        case EventKind::Profile:
            dipType_ = event.dip;
            dipSpecial_ = event.special;
            profileEvent_ = event.profile.empty() ? NONE : index;
            profileStart_ = now;
            depth_ = profileEvent_ == NONE ? depth_ : depthAt(now);
            amplitude_ = depth_ * grid_.gridPhasePeak;
            break;
        case EventKind::Harmonics:
            harmonicsEvent_ = event.harmonics.empty() ? NONE : index;
            break;
        case EventKind::FrequencyRamp:
            ramping_ = true;
            rampRate_ = event.value;
            rampTo_ = event.target;
            // A rate away from the target (refused by the scenarios) ends the
            // ramp at once.
            rampLength_ = rampRate_ != 0.0 ? std::max(0.0, (rampTo_ - frequency_) / rampRate_) : 0.0;
            break;
        case EventKind::Load:
            for (std::size_t j = 0; j < converters_.size(); ++j) {
                if (event.converter < 0 || static_cast<std::size_t>(event.converter) == j) {
                    converters_[j].loadPower = event.value;
                    converters_[j].loadResistance = loadResistanceFor(event.value);
                    converters_[j].loadConductance = loadConductanceFor(event.value);
                }
            }
            break;
        }
    }
    sourceChanged();
    anchorGrid();
    rebuildStepMaps();
}

void Plant::advanceSource() {
    const double now = time();
    bool changed = false;
    if (ramping_ && now - angleStartTime_ >= rampLength_) {
        angleStart_ = angleAt(now);
        angleStartTime_ = now;
        frequency_ = rampTo_;
        ramping_ = false;
        changed = true;
    }
    if (profileEvent_ != NONE) {
        depth_ = depthAt(now);
        amplitude_ = depth_ * grid_.gridPhasePeak;
        if (now - profileStart_ >= events_[profileEvent_].event.profile.back().time) {
            profileEvent_ = NONE;
            changed = true;
        }
    }
    if (changed) {
        sourceChanged();
        anchorGrid();
        rebuildStepMaps();
    }
}

// v_k = (e_k - R_g I_k + L_g B_k) / (1 + L_g G), with I_k the sum of the
// converter currents, B_k = sum_j (R_j i_jk + u_jk) / L_j and G = sum_j 1 / L_j:
// the PCC has no capacitor, so its voltage follows from the states and the
// held levels at every instant.
std::array<double, 3> Plant::pccAt(const std::array<double, 3> &e, const std::vector<PlantState> &x) const {
    if (impedance_.stiff()) {
        return e;
    }
    std::array<double, 3> total{};
    std::array<double, 3> sum{};
    for (std::size_t j = 0; j < converters_.size(); ++j) {
        const Converter &c = converters_[j];
        PlantState link = x[j];
        if (c.parameters.splitLink) {
            link.vdc = link.upper + link.lower;
        }
        const std::array<double, 3> vN = converterVoltages(c.held, link, c.parameters.splitLink);
        for (std::size_t k = 0; k < 3; ++k) {
            total[k] += x[j].current[k];
            sum[k] += (c.parameters.resistance * x[j].current[k] + c.parameters.turnsRatio * vN[k]) *
                      c.inverseInductance;
        }
    }
    std::array<double, 3> v;
    for (std::size_t k = 0; k < 3; ++k) {
        v[k] = (e[k] - impedance_.resistance * total[k] + impedance_.inductance * sum[k]) / conductanceTerm_;
    }
    return v;
}

void Plant::stage(const std::array<double, 3> &e, const std::vector<PlantState> &x,
                  std::vector<PlantState> &d) const {
    const std::size_t n = converters_.size();
    const std::array<double, 3> v = pccAt(e, x);
    for (std::size_t j = 0; j < n; ++j) {
        const Converter &c = converters_[j];
        if (c.parameters.splitLink) {
            d[j] = splitLinkRightHandSide(c.parameters, c.loadResistance, c.held, v, x[j]);
        } else {
            singleLinkRightHandSide(c.shape, c.gain, c.parameters.resistance, c.inverseInductance,
                                    c.inverseCapacitance, c.loadConductance, v, x[j], d[j]);
        }
    }
}

// The PCC carries the source's zero sequence unchanged: no zero-sequence
// current flows through the grid impedance.
void Plant::refreshPcc() {
    if (impedance_.stiff()) {
        pccNow_ = gridNow_;
        return;
    }
    pccNow_ = pccAt(driveNow_, states_);
    if (!balanced_) {
        for (double &v : pccNow_) {
            v += zeroNow_;
        }
    }
}

std::array<double, 7> Plant::measurements(std::size_t converter) const {
    const PlantState &x = states_[converter];
    return {pccNow_[0], pccNow_[1], pccNow_[2], x.current[0], x.current[1], x.current[2], x.vdc};
}

void Plant::hold(std::size_t converter, const std::array<double, 12> &gates) {
    Converter &c = converters_[converter];
    std::int64_t illegal = 0;
    int pattern = 0;
    for (std::size_t leg = 0; leg < 3; ++leg) {
        const LegDecoding decoded =
            decodeLeg(gates[4 * leg], gates[4 * leg + 1], gates[4 * leg + 2], gates[4 * leg + 3]);
        illegal += decoded.legal ? 0 : 1;
        c.held[leg] = decoded.level;
        pattern = 3 * pattern + decoded.level + 1;
    }
    c.heldIllegal = illegal;
    // Without branches on the pattern, which changes unpredictably.
    const bool changed = !c.shapeValid || pattern != c.heldPattern;
    c.shapeValid = true;
    c.heldPattern = pattern;
    const Converter::Coupling &coupling = c.couplings[static_cast<std::size_t>(pattern)];
    c.shape = coupling.shape;
    c.gain = coupling.gain;
    std::int64_t direct = 0;
    for (std::size_t leg = 0; leg < 3; ++leg) {
        direct += c.held[leg] * c.levels[leg] < 0 ? 1 : 0;
    }
    c.heldDirect = direct;
    if (changed && !impedance_.stiff()) {
        refreshPcc();
    }
}

// RK4 over one base step with the levels held and the grid at t, t + h/2 and
// t + h. The end time is computed as (k + 1) * h, the next step's start time
// exactly, so its grid values serve that step's first stage.
void Plant::integrate() {
    const std::size_t n = converters_.size();
    Source eEnd;
    Source eMid;
    if (varying_) {
        eMid = sourceAt((static_cast<double>(stepCount_) + 0.5) * BASE_STEP);
        eEnd = sourceAt(static_cast<double>(stepCount_ + 1) * BASE_STEP);
    } else {
        const double midCos = phasorCos_ * halfStepCos_ - phasorSin_ * halfStepSin_;
        const double midSin = phasorSin_ * halfStepCos_ + phasorCos_ * halfStepSin_;
        const double endCos = midCos * halfStepCos_ - midSin * halfStepSin_;
        const double endSin = midSin * halfStepCos_ + midCos * halfStepSin_;
        eEnd = sourceOf(endCos, endSin);
        if (alone_) {
            for (std::size_t j = 0; j < n; ++j) {
                integrateAlone(converters_[j], states_[j]);
            }
            setSourceNow(eEnd);
            phasorCos_ = endCos;
            phasorSin_ = endSin;
            return;
        }
        eMid = sourceOf(midCos, midSin);
        phasorCos_ = endCos;
        phasorSin_ = endSin;
    }

    auto advanceAll = [this, n](double h, const std::vector<PlantState> &d) {
        for (std::size_t j = 0; j < n; ++j) {
            trial_[j] = converters_[j].parameters.splitLink ? advance<true>(states_[j], h, d[j])
                                                            : advance<false>(states_[j], h, d[j]);
        }
    };
    stage(driveNow_, states_, k1_);
    advanceAll(BASE_STEP / 2.0, k1_);
    stage(eMid.drive, trial_, k2_);
    advanceAll(BASE_STEP / 2.0, k2_);
    stage(eMid.drive, trial_, k3_);
    advanceAll(BASE_STEP, k3_);
    stage(eEnd.drive, trial_, k4_);

    for (std::size_t j = 0; j < n; ++j) {
        PlantState &x = states_[j];
        const PlantState &a = k1_[j];
        const PlantState &b = k2_[j];
        const PlantState &c = k3_[j];
        const PlantState &d = k4_[j];
        for (std::size_t k = 0; k < 3; ++k) {
            x.current[k] =
                x.current[k] + rk4Increment(a.current[k], b.current[k], c.current[k], d.current[k]);
        }
        if (converters_[j].parameters.splitLink) {
            x.upper = x.upper + rk4Increment(a.upper, b.upper, c.upper, d.upper);
            x.lower = x.lower + rk4Increment(a.lower, b.lower, c.lower, d.lower);
            x.vdc = x.upper + x.lower;
        } else {
            x.vdc = x.vdc + rk4Increment(a.vdc, b.vdc, c.vdc, d.vdc);
        }
    }
    setSourceNow(eEnd);
}

void Plant::buildStepMaps(Converter &c) const {
    using Matrix = std::array<std::array<double, 4>, 4>;
    auto product = [](const Matrix &x, const Matrix &y) {
        Matrix z{};
        for (std::size_t i = 0; i < 4; ++i) {
            for (std::size_t j = 0; j < 4; ++j) {
                for (std::size_t k = 0; k < 4; ++k) {
                    z[i][j] += x[i][k] * y[k][j];
                }
            }
        }
        return z;
    };
    const double h = BASE_STEP;
    const double r = c.parameters.resistance;
    // e_k = amplitude (s a_k + c b_k) for the angle's (c, s); at t + h/2 and
    // t + h the angle turned by half a step and by a whole one. An
    // unbalanced set: a_k, b_k of its phasors without zero sequence, times A.
    std::array<double, 3> a{1.0, COS_120, COS_120};
    std::array<double, 3> b{0.0, -SIN_120, SIN_120};
    double amplitude = amplitude_;
    if (!balanced_) {
        a = driveRe_;
        b = driveIm_;
        amplitude = grid_.gridPhasePeak;
    }
    const double hc = halfStepCos_;
    const double hs = halfStepSin_;
    const double fc = hc * hc - hs * hs;
    const double fs = 2.0 * hs * hc;
    c.maps.resize(27);
    for (std::size_t pattern = 0; pattern < 27; ++pattern) {
        const Converter::Coupling &coupling = c.couplings[pattern];
        Matrix h1{};
        for (std::size_t k = 0; k < 3; ++k) {
            h1[k][k] = -h * r * c.inverseInductance;
            h1[k][3] = -h * coupling.shape[k] * c.inverseInductance;
            h1[3][k] = h * coupling.gain[k] * c.inverseCapacitance;
        }
        h1[3][3] = -h * c.loadConductance * c.inverseCapacitance;
        const Matrix h2 = product(h1, h1);
        const Matrix h3 = product(h2, h1);
        const Matrix h4 = product(h3, h1);
        // hB / 6 is diagonal on the currents: P0, Pm and p1 act through
        // their first three columns times it.
        const double p1 = h * c.inverseInductance / 6.0;
        Converter::StepMap &map = c.maps[pattern];
        for (std::size_t i = 0; i < 4; ++i) {
            double qc = 0.0;
            double qs = 0.0;
            for (std::size_t j = 0; j < 4; ++j) {
                const double identity = i == j ? 1.0 : 0.0;
                map.m[i][j] = identity + h1[i][j] + h2[i][j] / 2.0 + h3[i][j] / 6.0 + h4[i][j] / 24.0;
                if (j < 3) {
                    const double p0 = (identity + h1[i][j] + h2[i][j] / 2.0 + h3[i][j] / 4.0) * p1;
                    const double pm = (4.0 * identity + 2.0 * h1[i][j] + h2[i][j] / 2.0) * p1;
                    const double pe = identity * p1;
                    qs += p0 * a[j] + pm * (hc * a[j] - hs * b[j]) + pe * (fc * a[j] - fs * b[j]);
                    qc += p0 * b[j] + pm * (hs * a[j] + hc * b[j]) + pe * (fs * a[j] + fc * b[j]);
                }
            }
            map.qc[i] = amplitude * qc;
            map.qs[i] = amplitude * qs;
        }
    }
}

void Plant::integrateAlone(const Converter &c, PlantState &x) const {
    const Converter::StepMap &map = c.maps[static_cast<std::size_t>(c.heldPattern)];
    const double pc = phasorCos_;
    const double ps = phasorSin_;
    const std::array<double, 4> y{x.current[0], x.current[1], x.current[2], x.vdc};
    std::array<double, 4> next{};
    for (std::size_t i = 0; i < 4; ++i) {
        next[i] = ((map.m[i][0] * y[0] + map.m[i][1] * y[1]) + (map.m[i][2] * y[2] + map.m[i][3] * y[3])) +
                  (map.qc[i] * pc + map.qs[i] * ps);
    }
    x.current = {next[0], next[1], next[2]};
    x.vdc = next[3];
}

bool Plant::diverged() const {
    for (const PlantState &x : states_) {
        if (!(std::abs(x.current[0]) <= DIVERGED_CURRENT && std::abs(x.current[1]) <= DIVERGED_CURRENT &&
              std::abs(x.current[2]) <= DIVERGED_CURRENT && x.vdc >= DIVERGED_VDC_LOW &&
              x.vdc <= DIVERGED_VDC_HIGH)) {
            return true;
        }
    }
    return false;
}

void Plant::step() {
    for (Converter &c : converters_) {
        c.illegalPatterns += c.heldIllegal;
        c.directChanges += c.heldDirect;
        c.heldDirect = 0;
        c.levels = c.held;
    }
    integrate();
    ++stepCount_;
    if (ramping_ || profileEvent_ != NONE) {
        advanceSource();
    }
    if (stepCount_ - anchoredAt_ >= ANCHOR_STEPS) {
        anchorGrid();
    }
    applyDueEvents();
    refreshPcc();
}

void Plant::step(const std::array<double, 12> &gates) {
    hold(0, gates);
    step();
}

std::int64_t Plant::stepCount() const {
    return stepCount_;
}
double Plant::time() const {
    return static_cast<double>(stepCount_) * BASE_STEP;
}
const PlantState &Plant::state(std::size_t converter) const {
    return states_[converter];
}

void Plant::setState(std::size_t converter, const PlantState &state) {
    states_[converter] = state;
    if (converters_[converter].parameters.splitLink) {
        states_[converter].vdc = state.upper + state.lower;
    }
    refreshPcc();
}

std::array<double, 3> Plant::gridVoltages() const {
    return gridNow_;
}
std::array<double, 3> Plant::pccVoltages() const {
    return pccNow_;
}
double Plant::gridFrequency() const {
    return frequencyAt(time());
}
double Plant::loadPower(std::size_t converter) const {
    return converters_[converter].loadPower;
}
double Plant::loadResistance(std::size_t converter) const {
    return converters_[converter].loadResistance;
}
double Plant::gridAmplitude() const {
    return amplitude_;
}
double Plant::gridAngle() const {
    return angleAt(time());
}
std::array<int, 3> Plant::levels(std::size_t converter) const {
    return converters_[converter].levels;
}

double Plant::activePower(std::size_t converter) const {
    const std::array<double, 3> &v = pccNow_;
    const std::array<double, 3> &i = states_[converter].current;
    return v[0] * i[0] + v[1] * i[1] + v[2] * i[2];
}

double Plant::reactivePower(std::size_t converter) const {
    const std::array<double, 3> &v = pccNow_;
    const std::array<double, 3> &i = states_[converter].current;
    return ((v[1] - v[2]) * i[0] + (v[2] - v[0]) * i[1] + (v[0] - v[1]) * i[2]) / std::sqrt(3.0);
}

std::int64_t Plant::illegalPatterns(std::size_t converter) const {
    return converters_[converter].illegalPatterns;
}
std::int64_t Plant::directChanges(std::size_t converter) const {
    return converters_[converter].directChanges;
}

} // namespace kestrune::plant
