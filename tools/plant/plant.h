// The plant the runner closes the loop with: a three-phase grid with
// scheduled events (balanced or unbalanced dips, profiles, harmonics,
// frequency steps and ramps, phase jumps, loads), stiff or behind an
// impedance (from a short-circuit ratio and X/R), and one or more converters
// on its point of common coupling (PCC), each on three wires.
// Each converter has a series R-L on its 600 V side, an ideal transformer,
// the three-level bridge driven by its unit's gates, a DC link (one
// capacitor, or two halves to watch the midpoint) and a resistive DC load.
// Classical fourth-order Runge-Kutta, one step per 5 us base step of the unit
// (BASE_STEP, from identity.h) for the whole state, with every converter's
// levels held over the step, the grid evaluated at the stage times and the
// PCC voltage solved at every stage.
#pragma once

#include "grid_source.h"
#include "identity.h"

#include <array>
#include <cstdint>
#include <numbers>
#include <vector>

namespace kestrune::plant {

inline constexpr double PHASE_PEAK = 489.89794855663564;  // [V] 600 V line to line
inline constexpr double CURRENT_BASE = 680.4138174397717; // [A] 1 pu peak current
inline constexpr double DC_VOLTAGE_REFERENCE = 500.0;     // [V] the unit's DC reference
inline constexpr double CONVERTER_RATING = 500e3;         // [VA] one converter
inline constexpr double IMPEDANCE_BASE = 0.72;            // [ohm] (600 V)^2 / 500 kVA
inline constexpr double NOMINAL_FREQUENCY = 60.0;         // [Hz] the grid reactance's frequency

// A run stops as diverged when a converter current exceeds 10 pu or a DC
// link leaves 50-1500 V.
inline constexpr double DIVERGED_CURRENT = 10.0 * CURRENT_BASE; // [A]
inline constexpr double DIVERGED_VDC_LOW = 50.0;                // [V]
inline constexpr double DIVERGED_VDC_HIGH = 1500.0;             // [V]

// The grid source's values at t = 0.
struct GridParameters {
    double gridPhasePeak = PHASE_PEAK;          // [V] A
    double gridFrequency = 60.0;                // [Hz]
    double gridAngle = -std::numbers::pi / 4.0; // [rad] theta at t = 0
};

// One converter: its series R-L, transformer, DC link and load.
struct ConverterParameters {
    double inductance = 0.1055 * 0.72 / (2.0 * std::numbers::pi * 60.0); // [H] 600 V side
    double resistance = 0.005 * 0.72;                                    // [ohm] 600 V side
    double turnsRatio = 2.5;                                             // n: 600 V side / converter side
    double capacitance = 0.05;                                           // [F]
    double loadPower = 200e3;                                            // [W]: R_load = 500^2 / P
    double precharge = 500.0;                                            // [V] Vdc at t = 0
    bool splitLink = false;                                              // two halves of 2C each
};

// The keys a scenario names in one record: the grid's values and a
// converter's, each part handed to the plant on its own.
struct PlantParameters : GridParameters, ConverterParameters {};

// The grid's series impedance on the 600 V side, seen from the PCC.
struct GridImpedance {
    double resistance = 0.0; // [ohm]
    double inductance = 0.0; // [H]
    bool stiff() const { return resistance == 0.0 && inductance == 0.0; }
};

// The impedance for a short-circuit ratio relative to the rating of
// `converters` converters of 500 kVA: |Z| = 0.72 / (scr * N), R = |Z| /
// sqrt(1 + (X/R)^2), X = (X/R) * R, L = X / (2 pi 60 Hz). An scr of 0 (or
// below) gives the stiff grid.
GridImpedance gridImpedance(double scr, double xOverR, std::size_t converters);

enum class EventKind { Frequency, PhaseJump, Sag, Load, Dip, Profile, Harmonics, FrequencyRamp };

// A grid or load change. value: the new frequency [Hz], the angle added to
// theta [rad], the amplitude as a factor of the nominal peak, the new load
// power [W], a dip's retained voltage h, or a ramp's rate [Hz/s]. It takes
// effect on the first base step that starts at or after its time, for the
// whole of that step.
// A load event applies to the converter it names (an index), or to every
// converter when it names none (-1); the other kinds concern the grid.
// A sag, a dip and a profile each replace the source's voltage set in force;
// a sag of v is the dip of type A to v. A profile is a dip whose h follows
// its points, piecewise linear, and holds the last point's. Harmonics
// replace the background in force (none: no background). A frequency ramp
// moves the frequency at `value` Hz/s until it reaches `target`, then holds
// it; a frequency event ends a ramp.
struct GridEvent {
    double time; // [s]
    EventKind kind;
    double value;
    int converter = -1;
    DipType dip = DipType::A;            // a dip's or profile's type
    int special = 0;                     // a dip's or profile's special phase: 0 a, 1 b, 2 c
    double target = 0.0;                 // a ramp's final frequency [Hz]
    std::vector<ProfilePoint> profile{}; // strictly increasing times, the first at 0
    std::vector<Harmonic> harmonics{};
};

// A leg's level from its switches 1 to 4: (1,1,0,0) +1, (0,1,1,0) 0,
// (0,0,1,1) -1. Any other pattern is illegal and applies level 0.
struct LegDecoding {
    int level;
    bool legal;
};
// A switch counts as on above 0.5 (the unit writes exactly 0.0 or 1.0; a NaN
// counts as off).
LegDecoding decodeLeg(double s1, double s2, double s3, double s4);

// The first base step starting at or after `time`: ceil(time / BASE_STEP)
// with a tolerance of 1e-6 of a step, so that 0.3 s is step 60000 exactly.
// 0 for a time at or before 0; never (the largest index) for NaN or a time
// beyond the index range.
std::int64_t stepIndexAtOrAfter(double time);

struct PlantState {
    std::array<double, 3> current{}; // [A] 600 V side, positive from the grid into the converter
    double vdc = 0.0;                // [V] whole link
    double upper = 0.0;              // [V] split link: upper half V1
    double lower = 0.0;              // [V] split link: lower half V2
};

// The converter's phase voltages on its own side (to the star point of the
// three-wire connection), v_kN = v_k0 - (v_a0 + v_b0 + v_c0) / 3, with v_k0 = level * Vdc / 2
// (one capacitor) or V1, 0, -V2 (split link).
std::array<double, 3> converterVoltages(const std::array<int, 3> &levels, const PlantState &state,
                                        bool splitLink);

// A converter's right-hand side: d/dt of every state field for the given
// levels, voltages at its terminals (without zero sequence: the three-wire
// connection carries none) and load resistance. One capacitor: the link's
// derivative in `vdc`, `upper` and `lower` 0. Split link: `vdc` of the state
// is not read (V1 + V2 is), and the derivative's `vdc` is dV1/dt + dV2/dt.
// The plant integrates with the very same arithmetic, and its step maps of
// the stiff grid are this right-hand side's RK4 step up to rounding.
PlantState derivative(const ConverterParameters &parameters, double loadResistance,
                      const std::array<int, 3> &levels, const std::array<double, 3> &gridVoltages,
                      const PlantState &state);

// Converters are numbered from 0. The functions without an index concern
// converter 0, which is the only one of the single-converter constructor.
class Plant {
  public:
    // One converter on the stiff grid.
    explicit Plant(const PlantParameters &parameters, std::vector<GridEvent> events = {});
    // The converters on one PCC behind the grid impedance; the grid's own
    // values (phase peak, frequency, angle) come from `grid`, each
    // converter's from its entry; none: one with the defaults.
    Plant(const GridParameters &grid, GridImpedance impedance, std::vector<ConverterParameters> converters,
          std::vector<GridEvent> events = {});

    std::size_t converterCount() const { return converters_.size(); }
    const GridImpedance &impedance() const { return impedance_; }

    // A unit's seven inputs at the present time: the PCC voltages v_a, v_b,
    // v_c [V] (the source's on the stiff grid), the converter's currents
    // i_a, i_b, i_c [A] and its Vdc [V].
    std::array<double, 7> measurements(std::size_t converter = 0) const;

    // The gates (legs a, b, c; switches 1 to 4) a converter holds over the
    // next step; they also enter the PCC voltage at the present time. Every
    // leg holds level 0 until its first gates.
    void hold(std::size_t converter, const std::array<double, 12> &gates);
    // Advances one base step with every converter's held gates.
    void step();
    // One converter: holds the gates and advances one base step.
    void step(const std::array<double, 12> &gates);

    std::int64_t stepCount() const;
    double time() const; // stepCount() * BASE_STEP
    const PlantState &state(std::size_t converter = 0) const;
    // For tests and custom starts. With the split link, the halves are taken
    // and Vdc is set to V1 + V2.
    void setState(const PlantState &state) { setState(0, state); }
    void setState(std::size_t converter, const PlantState &state);

    // The source's e at the present time [V], phase to ground (a dip of
    // type B or E, or harmonics of orders 3, 6, ..., add a zero sequence,
    // which drives no current through the three-wire connections).
    std::array<double, 3> gridVoltages() const;
    std::array<double, 3> pccVoltages() const;              // v at the present time with the held levels [V]
    double gridFrequency() const;                           // now, also during a ramp [Hz]
    double loadPower(std::size_t converter = 0) const;      // in force now [W]
    double loadResistance(std::size_t converter = 0) const; // in force now [ohm]: 500^2 / loadPower()
    double gridAmplitude() const;                           // now [V]: A times the dip's (sag's) h
    double gridAngle() const;                               // theta at the present time [rad]
    // Applied over the last step; 0 before the first.
    std::array<int, 3> levels(std::size_t converter = 0) const;
    double activePower(std::size_t converter = 0) const; // [W] sum of v_k i_k, now
    // [var] ((v_b-v_c) i_a + (v_c-v_a) i_b + (v_a-v_b) i_c) / sqrt(3)
    double reactivePower(std::size_t converter = 0) const;
    // Leg-steps with an illegal pattern, so far.
    std::int64_t illegalPatterns(std::size_t converter = 0) const;
    // Leg changes straight between +1 and -1, so far.
    std::int64_t directChanges(std::size_t converter = 0) const;
    // Whether a converter current exceeds 10 pu or a link lies outside
    // 50-1500 V (or either is no longer a number).
    bool diverged() const;

  private:
    struct ScheduledEvent {
        std::int64_t step;
        GridEvent event;
    };
    struct Converter {
        ConverterParameters parameters;
        double loadPower = 0.0;      // [W]
        double loadResistance = 0.0; // [ohm]
        std::array<int, 3> levels{}; // applied over the last step
        std::array<int, 3> held{};   // to apply over the next
        // One capacitor: from the held levels, the converter voltage on the
        // 600 V side is u_k = shape_k * Vdc, with shape_k = n (l_k - mean l) / 2,
        // and the link is charged by sum_k gain_k i_k, with gain_k = n l_k / 2.
        std::array<double, 3> shape{};
        std::array<double, 3> gain{};
        bool shapeValid = false; // shape and gain belong to held
        int heldPattern = 13;    // of held: 9 (l_a + 1) + 3 (l_b + 1) + l_c + 1
        // shape and gain of each of the 27 level patterns, computed once
        struct Coupling {
            std::array<double, 3> shape;
            std::array<double, 3> gain;
        };
        std::array<Coupling, 27> couplings{};
        // One capacitor: with the levels held the converter is linear,
        // dx/dt = A x + B e for x = (i_a, i_b, i_c, Vdc), and one RK4 step is
        // x' = M x + P0 e(t) + Pm e(t + h/2) + p1 e(t + h), with H = h A:
        // M = I + H + H^2/2 + H^3/6 + H^4/24, P0 = (I + H + H^2/2 + H^3/4) hB/6,
        // Pm = (4I + 2H + H^2/2) hB/6 and p1 = hB/6 (diagonal). The grid's
        // sines at the three times follow from (cos, sin) of its angle at t:
        // the grid's part is qc cos + qs sin. Per level pattern, rebuilt when
        // an event changes the grid or a load.
        struct StepMap {
            std::array<std::array<double, 4>, 4> m;
            std::array<double, 4> qc;
            std::array<double, 4> qs;
        };
        std::vector<StepMap> maps;       // 27 when used
        double inverseInductance = 0.0;  // 1 / L
        double inverseCapacitance = 0.0; // 1 / C
        double loadConductance = 0.0;    // 1 / R_load
        std::int64_t heldIllegal = 0;
        std::int64_t heldDirect = 0; // legs of held straight between +1 and -1 from levels
        std::int64_t illegalPatterns = 0;
        std::int64_t directChanges = 0;
    };

    void integrate();
    // RK4 for one converter with one capacitor on the stiff grid, where the
    // converters do not interact: its four stages folded into the step map
    // of the held levels (the same step up to rounding).
    void integrateAlone(const Converter &c, PlantState &x) const;
    // The step maps of every level pattern of an uncoupled converter, for
    // the source's present voltage set and frequency and the converter's load.
    void buildStepMaps(Converter &c) const;

    // The derivative of every converter's state at one stage: the PCC
    // voltage from the source voltage e and the stage states, then each
    // converter's right-hand side against it.
    void stage(const std::array<double, 3> &e, const std::vector<PlantState> &x,
               std::vector<PlantState> &d) const;
    std::array<double, 3> pccAt(const std::array<double, 3> &e, const std::vector<PlantState> &x) const;
    void refreshPcc();
    // The source's phasor (cos, sin of theta) at the present time, and the
    // rotation by half a base step at the present frequency; re-anchored on
    // the exact angle every ANCHOR_STEPS steps and at every event.
    void anchorGrid();
    // The source's e and its part without zero sequence, which drives the
    // currents, for (cos, sin) of theta with the set in force (not varying).
    struct Source {
        std::array<double, 3> e;
        std::array<double, 3> drive;
        double zero; // e_k = drive_k + zero
    };
    Source sourceOf(double c, double s) const;
    // A balanced source: A sin(theta + phi_k) from cos and sin of theta.
    std::array<double, 3> gridOf(double c, double s) const;
    // A varying source (ramp, profile or harmonics) at any time, from its
    // exact angle.
    Source sourceAt(double time) const;
    void setSourceNow(const Source &source);
    void applyDueEvents();
    // Ends a ramp or profile that has run its course, and follows a profile.
    void advanceSource();
    // The mode and phasors of the source after a change of its events.
    void sourceChanged();
    void rebuildStepMaps();
    double angleAt(double time) const;
    double frequencyAt(double time) const;
    double depthAt(double time) const;

    GridParameters grid_;
    GridImpedance impedance_;
    // The stiff grid with one capacitor per converter: the converters do not
    // interact and each one's RK4 runs in registers.
    bool alone_ = false;
    double conductanceTerm_ = 1.0; // 1 + L_g * sum(1 / L_j)
    std::vector<Converter> converters_;
    std::vector<ScheduledEvent> events_; // by step, stable for events of one step
    std::size_t nextEvent_ = 0;
    std::int64_t stepCount_ = 0;
    double angleStart_ = 0.0;     // theta_s [rad]
    double angleStartTime_ = 0.0; // t_s [s]
    double frequency_ = 0.0;      // [Hz] at angleStartTime_
    double amplitude_ = 0.0;      // [V] A times depth_
    // The source's voltage set: a dip (a sag is type A) of retained voltage
    // depth_, a profile of that dip's depth (events_[profileEvent_]), a
    // harmonic background (events_[harmonicsEvent_]) and a frequency ramp.
    // Indices rather than pointers, so that a copy of the plant stands alone.
    static constexpr std::size_t NONE = static_cast<std::size_t>(-1);
    DipType dipType_ = DipType::A;
    int dipSpecial_ = 0;
    double depth_ = 1.0;
    std::size_t profileEvent_ = NONE;
    double profileStart_ = 0.0; // [s]
    std::size_t harmonicsEvent_ = NONE;
    bool ramping_ = false;
    double rampRate_ = 0.0;   // [Hz/s]
    double rampTo_ = 0.0;     // [Hz]
    double rampLength_ = 0.0; // [s] from angleStartTime_ to the end of the ramp
    // balanced_: A sin(theta + phi_k), the arithmetic of the balanced grid.
    // varying_: the source is evaluated from its angle at every stage time
    // (during a ramp or profile, or with harmonics). Otherwise a constant
    // unbalanced set: e_k = A (re_k sin + im_k cos) of the rotating phasor,
    // re/im of the phasors (pu) and of their part without zero sequence.
    bool balanced_ = true;
    bool varying_ = false;
    std::array<double, 3> phasorRe_{}, phasorIm_{}, driveRe_{}, driveIm_{};
    double zeroRe_ = 0.0, zeroIm_ = 0.0;
    std::array<double, 3> gridNow_{};  // e at time()
    std::array<double, 3> driveNow_{}; // e without its zero sequence at time()
    double zeroNow_ = 0.0;             // e's zero sequence at time()
    std::array<double, 3> pccNow_{};   // v at time() with the held levels
    double phasorCos_ = 1.0;
    double phasorSin_ = 0.0;
    double halfStepCos_ = 1.0;
    double halfStepSin_ = 0.0;
    std::int64_t anchoredAt_ = 0; // step of the last anchor
    // RK4 scratch, one entry per converter.
    std::vector<PlantState> states_, k1_, k2_, k3_, k4_, trial_;
};

} // namespace kestrune::plant
