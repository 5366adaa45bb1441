// The measurements of a balanced three-phase grid, as the test masters and
// the runner feed them to the unit.
#pragma once

#include "session.h"

namespace kestrune::master {

struct BalancedGrid {
    double lineToLineRms = 600.0; // [V]
    double frequency = 60.0;      // [Hz]
    double angle = 0.0;           // [rad] of phase a at t = 0
    double currentPeak = 0.0;     // [A] phase currents, in phase with the voltages
    double dcVoltage = 500.0;     // [V]
};

// The seven inputs at time t: phase voltages a, b, c (phase peak from the
// line-to-line rms), phase currents a, b, c, DC-link voltage.
Inputs gridInputs(const BalancedGrid &grid, double t);

} // namespace kestrune::master
