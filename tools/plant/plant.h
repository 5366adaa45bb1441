// The plant the runner closes the loop with: a stiff three-phase grid with
// scheduled events, a series R-L on its 600 V side, an ideal transformer, the
// three-level converter driven by the unit's gates, the DC link (one
// capacitor, or two halves to watch the midpoint) and a resistive DC load.
// Classical fourth-order Runge-Kutta, one step per 5 us base step, with the
// converter levels held over the step and the grid evaluated at the stage
// times.
#pragma once

#include <array>
#include <cstdint>
#include <numbers>
#include <vector>

namespace kestrune::plant {

inline constexpr double BASE_STEP = 5e-6;                 // [s] one integration step
inline constexpr double PHASE_PEAK = 489.89794855663564;  // [V] 600 V line to line
inline constexpr double CURRENT_BASE = 680.4138174397717; // [A] 1 pu peak current
inline constexpr double DC_VOLTAGE_REFERENCE = 500.0;     // [V] the unit's DC reference

struct PlantParameters {
    double gridPhasePeak = PHASE_PEAK;                                   // [V] A
    double gridFrequency = 60.0;                                         // [Hz]
    double gridAngle = -std::numbers::pi / 4.0;                          // [rad] theta at t = 0
    double inductance = 0.1055 * 0.72 / (2.0 * std::numbers::pi * 60.0); // [H] 600 V side
    double resistance = 0.005 * 0.72;                                    // [ohm] 600 V side
    double turnsRatio = 2.5;                                             // n: 600 V side / converter side
    double capacitance = 0.05;                                           // [F]
    double loadPower = 200e3;                                            // [W]: R_load = 500^2 / P
    double precharge = 500.0;                                            // [V] Vdc at t = 0
    bool splitLink = false;                                              // two halves of 2C each
};

enum class EventKind { Frequency, PhaseJump, Sag, Load };

// A grid or load change. value: the new frequency [Hz], the angle added to
// theta [rad], the amplitude as a factor of the nominal peak, or the new load
// power [W]. It takes effect on the first base step that starts at or after
// its time, for the whole of that step.
struct GridEvent {
    double time; // [s]
    EventKind kind;
    double value;
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

// The plant's right-hand side: d/dt of every state field for the given
// levels, grid voltages and load resistance. One capacitor: the link's
// derivative in `vdc`, `upper` and `lower` 0. Split link: `vdc` of the state
// is not read (V1 + V2 is), and the derivative's `vdc` is dV1/dt + dV2/dt.
PlantState derivative(const PlantParameters &parameters, double loadResistance,
                      const std::array<int, 3> &levels, const std::array<double, 3> &gridVoltages,
                      const PlantState &state);

class Plant {
  public:
    explicit Plant(const PlantParameters &parameters, std::vector<GridEvent> events = {});

    // The unit's seven inputs at the present time: e_a, e_b, e_c [V],
    // i_a, i_b, i_c [A], Vdc [V].
    std::array<double, 7> measurements() const;

    // Advances one base step with the gates (legs a, b, c; switches 1 to 4)
    // held over it.
    void step(const std::array<double, 12> &gates);

    std::int64_t stepCount() const;
    double time() const; // stepCount() * BASE_STEP
    const PlantState &state() const;
    // For tests and custom starts. With the split link, the halves are taken
    // and Vdc is set to V1 + V2.
    void setState(const PlantState &state);

    std::array<double, 3> gridVoltages() const; // e at the present time [V]
    double gridFrequency() const;               // in force now [Hz]
    double loadPower() const;                   // in force now [W]
    double loadResistance() const;              // in force now [ohm]: 500^2 / loadPower()
    double gridAmplitude() const;               // in force now [V]: A times the sag factor
    double gridAngle() const;                   // theta at the present time [rad]
    std::array<int, 3> levels() const;          // applied over the last step; 0 before the first
    double activePower() const;                 // [W] sum of e_k i_k, now
    double reactivePower() const;         // [var] ((e_b-e_c) i_a + (e_c-e_a) i_b + (e_a-e_b) i_c) / sqrt(3)
    std::int64_t illegalPatterns() const; // leg-steps with an illegal pattern, so far
    std::int64_t directChanges() const;   // leg changes straight between +1 and -1, so far

  private:
    struct ScheduledEvent {
        std::int64_t step;
        EventKind kind;
        double value;
    };

    template <bool Split> void integrate(const std::array<int, 3> &levels);
    void applyDueEvents();
    double angleAt(double time) const;
    std::array<double, 3> gridAt(double time) const;

    PlantParameters parameters_;
    std::vector<ScheduledEvent> events_; // by step, stable for events of one step
    std::size_t nextEvent_ = 0;
    PlantState state_{};
    std::int64_t stepCount_ = 0;
    double angleStart_ = 0.0;         // theta_s [rad]
    double angleStartTime_ = 0.0;     // t_s [s]
    double frequency_ = 0.0;          // [Hz]
    double amplitude_ = 0.0;          // [V]
    double loadPower_ = 0.0;          // [W]
    double loadResistance_ = 0.0;     // [ohm]
    std::array<double, 3> gridNow_{}; // e at time()
    std::array<int, 3> levels_{};
    std::int64_t illegalPatterns_ = 0;
    std::int64_t directChanges_ = 0;
};

} // namespace kestrune::plant
