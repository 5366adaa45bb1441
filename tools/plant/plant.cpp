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

PlantState derivative(const PlantParameters &parameters, double loadResistance,
                      const std::array<int, 3> &levels, const std::array<double, 3> &gridVoltages,
                      const PlantState &state) {
    if (parameters.splitLink) {
        return rightHandSide<true>(parameters, loadResistance, levels, gridVoltages, state);
    }
    return rightHandSide<false>(parameters, loadResistance, levels, gridVoltages, state);
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

Plant::Plant(const PlantParameters &grid, GridImpedance impedance, std::vector<PlantParameters> converters,
             std::vector<GridEvent> events)
    : grid_(grid), impedance_(impedance), angleStart_(grid.gridAngle), frequency_(grid.gridFrequency),
      amplitude_(grid.gridPhasePeak) {
    if (converters.empty()) {
        converters.push_back(grid);
    }
    double inverseInductances = 0.0;
    for (const PlantParameters &p : converters) {
        Converter c;
        c.parameters = p;
        c.loadPower = p.loadPower;
        c.loadResistance = loadResistanceFor(p.loadPower);
        c.inverseInductance = 1.0 / p.inductance;
        c.inverseCapacitance = 1.0 / p.capacitance;
        c.loadConductance = loadConductanceFor(p.loadPower);
        for (int pattern = 0; pattern < 27; ++pattern) {
            const std::array<int, 3> levels{pattern / 9 - 1, pattern / 3 % 3 - 1, pattern % 3 - 1};
            const double mean = static_cast<double>(levels[0] + levels[1] + levels[2]) / 3.0;
            for (std::size_t k = 0; k < 3; ++k) {
                const double level = static_cast<double>(levels[k]);
                c.couplings[static_cast<std::size_t>(pattern)].shape[k] = p.turnsRatio * (level - mean) / 2.0;
                c.couplings[static_cast<std::size_t>(pattern)].gain[k] = p.turnsRatio * level / 2.0;
            }
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
    for (const GridEvent &event : events) {
        events_.push_back({stepIndexAtOrAfter(event.time), event.kind, event.value, event.converter});
    }
    std::stable_sort(events_.begin(), events_.end(),
                     [](const ScheduledEvent &a, const ScheduledEvent &b) { return a.step < b.step; });
    anchorGrid();
    applyDueEvents();
    refreshPcc();
    if (alone_) {
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
    gridNow_ = {amplitude_ * phasorSin_, amplitude_ * std::sin(theta - 2.0 * std::numbers::pi / 3.0),
                amplitude_ * std::sin(theta + 2.0 * std::numbers::pi / 3.0)};
}

// A sin(theta + phi_k) from cos and sin of theta.
std::array<double, 3> Plant::gridOf(double c, double s) const {
    return {amplitude_ * s, amplitude_ * (s * COS_120 - c * SIN_120),
            amplitude_ * (s * COS_120 + c * SIN_120)};
}

double Plant::angleAt(double time) const {
    return angleStart_ + 2.0 * std::numbers::pi * frequency_ * (time - angleStartTime_);
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
            amplitude_ = event.value * grid_.gridPhasePeak;
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
    anchorGrid();
    if (alone_) {
        for (Converter &c : converters_) {
            buildStepMaps(c);
        }
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
            d[j] = rightHandSide<true>(c.parameters, c.loadResistance, c.held, v, x[j]);
            continue;
        }
        const PlantState &y = x[j];
        PlantState &dy = d[j];
        const double r = c.parameters.resistance;
        double charge = 0.0;
        for (std::size_t k = 0; k < 3; ++k) {
            dy.current[k] = (v[k] - r * y.current[k] - c.shape[k] * y.vdc) * c.inverseInductance;
            charge += c.gain[k] * y.current[k];
        }
        dy.vdc = (charge - y.vdc * c.loadConductance) * c.inverseCapacitance;
    }
}

void Plant::refreshPcc() {
    pccNow_ = pccAt(gridNow_, states_);
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
    const double midCos = phasorCos_ * halfStepCos_ - phasorSin_ * halfStepSin_;
    const double midSin = phasorSin_ * halfStepCos_ + phasorCos_ * halfStepSin_;
    const double endCos = midCos * halfStepCos_ - midSin * halfStepSin_;
    const double endSin = midSin * halfStepCos_ + midCos * halfStepSin_;
    const std::array<double, 3> eEnd = gridOf(endCos, endSin);
    const std::size_t n = converters_.size();
    if (alone_) {
        for (std::size_t j = 0; j < n; ++j) {
            integrateAlone(converters_[j], states_[j]);
        }
        gridNow_ = eEnd;
        phasorCos_ = endCos;
        phasorSin_ = endSin;
        return;
    }
    const std::array<double, 3> eMid = gridOf(midCos, midSin);

    auto advanceAll = [this, n](double h, const std::vector<PlantState> &d) {
        for (std::size_t j = 0; j < n; ++j) {
            trial_[j] = converters_[j].parameters.splitLink ? advance<true>(states_[j], h, d[j])
                                                            : advance<false>(states_[j], h, d[j]);
        }
    };
    stage(gridNow_, states_, k1_);
    advanceAll(BASE_STEP / 2.0, k1_);
    stage(eMid, trial_, k2_);
    advanceAll(BASE_STEP / 2.0, k2_);
    stage(eMid, trial_, k3_);
    advanceAll(BASE_STEP, k3_);
    stage(eEnd, trial_, k4_);

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
    gridNow_ = eEnd;
    phasorCos_ = endCos;
    phasorSin_ = endSin;
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
    // t + h the angle turned by half a step and by a whole one.
    const std::array<double, 3> a{1.0, COS_120, COS_120};
    const std::array<double, 3> b{0.0, -SIN_120, SIN_120};
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
            map.qc[i] = amplitude_ * qc;
            map.qs[i] = amplitude_ * qs;
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
    if (stepCount_ - anchoredAt_ >= ANCHOR_STEPS) {
        anchorGrid();
    }
    applyDueEvents();
    refreshPcc();
}

bool Plant::continueFrom(const Plant &past) {
    if (!(grid_ == past.grid_) || !(impedance_ == past.impedance_) ||
        converters_.size() != past.converters_.size() || past.nextEvent_ > events_.size())
        return false;
    for (std::size_t j = 0; j < converters_.size(); ++j)
        if (!(converters_[j].parameters == past.converters_[j].parameters))
            return false;
    for (std::size_t e = 0; e < past.nextEvent_; ++e)
        if (!(events_[e] == past.events_[e]))
            return false;
    if (past.nextEvent_ < events_.size() && events_[past.nextEvent_].step <= past.stepCount_)
        return false;
    std::vector<ScheduledEvent> events = std::move(events_);
    *this = past;
    events_ = std::move(events);
    return true;
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
    return frequency_;
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
