// Drives a model base step by base step with a balanced
// three-phase grid on the voltage inputs, a DC-link voltage and optional
// balanced converter currents at a phase to the grid, as a master would
// feed it.
#pragma once

#include "model/records.h"
#include "model/step.h"

#include <cmath>
#include <cstdint>

namespace kestrune::testing {

// Phase peak of a 600 V line-to-line grid [V].
inline constexpr double GRID_PEAK = 489.89794855663564;
inline constexpr double TWO_PI = 6.283185307179586;
inline constexpr int BASE_STEPS_PER_SLOW_STEP = SLOW_RATE_RATIO;

struct GridDrive {
    double amplitude = GRID_PEAK;  // [V] phase peak
    double frequency = 60.0;       // [Hz], may change between steps
    double dcVoltage = 500.0;      // [V]
    double currentAmplitude = 0.0; // [A] phase peak of balanced converter currents
    double currentPhase = 0.0;     // [rad] of the currents ahead of the grid voltage
    double gridAngle = 0.0; // [rad] of phase a at the coming base step; continuous across frequency changes

    // One base step: inputs at the present angle, the model step, then the
    // angle moves on by one base step.
    void step(Model &model) {
        for (int k = 0; k < 3; ++k) {
            model.inputs.gridVoltage[k] = amplitude * std::sin(gridAngle - k * TWO_PI / 3.0);
            model.inputs.converterCurrent[k] =
                currentAmplitude * std::sin(gridAngle + currentPhase - k * TWO_PI / 3.0);
        }
        model.inputs.dcVoltage = dcVoltage;
        modelStep(model);
        gridAngle = std::fmod(gridAngle + TWO_PI * frequency * BASE_STEP, TWO_PI);
    }

    // One slow step: the slow-rate hit and the 19 base steps after it.
    void slowStep(Model &model) {
        for (int i = 0; i < BASE_STEPS_PER_SLOW_STEP; ++i) {
            step(model);
        }
    }
};

} // namespace kestrune::testing
