// The three-level carrier modulator: two in-phase triangular carriers, the
// three-level comparison of each leg reference with them, and the gate
// pattern of each leg's level on the twelve outputs.
#pragma once

#include "modulation/reference.h"

namespace kestrune {

// upperCarrier in [0, 1] and lowerCarrier in [-1, 0], one apart, for the
// present base step only.
struct Carriers {
    double upperCarrier;
    double lowerCarrier;
};

// Levels of legs a, b, c (+1, 0 or -1) that choose the gate patterns.
struct LegLevels {
    double abc[3];
};

// The carriers at base time t: the 1620 Hz triangle from the carrier table,
// or the constant +0.5 / -0.5 when carrierMode truncates to 1.
Carriers modulatorCarriers(Model &model, double t);

// Each leg's level: +1 at or above the upper carrier, -1 at or below the
// lower one, 0 between them or for a NaN reference. With armCount equal to
// twoArmValue leg a takes its own level and legs b and c both take the
// level of the negated leg-a reference.
LegLevels compareLegLevels(Model &model, const LegReferences &legReference, const Carriers &carriers);

// Writes the gate pattern of each leg's level to its four outputs, switch 1
// first.
void writeGatePatterns(Model &model, const LegLevels &levels);

} // namespace kestrune
