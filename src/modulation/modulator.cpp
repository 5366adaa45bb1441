#include "modulation/modulator.h"

#include "model/numeric.h"
#include "model/records.h"

#include <cmath>

namespace kestrune {

namespace {

constexpr int SWITCHES_PER_LEG = 4;

// Triangle between -1 and +1, 0 and rising at t = 0: the carrier phase runs
// from 0 to 1 once per carrier period and the table maps it to the triangle.
double tableCarrier(Model &model, const ModulatorParameters &p, double t) {
    const double phase = remainderSafe(t + p.carrierTimeShift, p.carrierPeriod) * p.carrierFrequency;
    return lookup1D(phase, p.carrierBreakpoints, p.carrierValues, &model.work.modulation.carrierSegment,
                    CARRIER_TABLE_LAST_INDEX) -
           p.carrierBias;
}

// A comparison with a NaN is false, so a NaN reference lands on level 0.
double threeLevelComparison(double reference, const Carriers &carriers) {
    const double above = reference >= carriers.upperCarrier ? 1.0 : 0.0;
    const double below = carriers.lowerCarrier >= reference ? 1.0 : 0.0;
    return above - below;
}

const double *gatePattern(const ModulatorParameters &p, double level) {
    const std::int32_t n = truncateToInt32(level + p.levelOffset);
    if (n == 1) {
        return p.gatePatternNegative;
    }
    if (n == 2) {
        return p.gatePatternZero;
    }
    return p.gatePatternPositive;
}

} // namespace

Carriers modulatorCarriers(Model &model, double t) {
    const ModulatorParameters &p = model.parameters.modulation.modulator;
    if (truncateToInt32(p.carrierMode) == 1) {
        // The sine-derived carrier has no phase signal wired: its phase is
        // the constant 0, so the carriers stand at +0.5 and -0.5.
        const double phase = 0.0;
        const double s = std::asin(std::sin(p.sineCarrierMultiplier * phase)) * p.sineCarrierScale;
        return {s + p.sineCarrierOffset, s - p.sineCarrierOffset};
    }
    const double c = tableCarrier(model, p, t);
    return {(c + 1.0) * 0.5, (c - 1.0) * 0.5};
}

LegLevels compareLegLevels(Model &model, const LegReferences &legReference, const Carriers &carriers) {
    const ModulatorParameters &p = model.parameters.modulation.modulator;
    ModulationSignals &s = model.signals.modulation;
    if (p.armCount == p.twoArmValue) {
        s.twoArmInvertedLevel = threeLevelComparison(p.armInversionGain * legReference.abc[0], carriers);
        s.twoArmDirectLevel = threeLevelComparison(legReference.abc[0], carriers);
        return {{s.twoArmDirectLevel, s.twoArmInvertedLevel, s.twoArmInvertedLevel}};
    }
    for (int k = 0; k < 3; ++k) {
        s.legLevel[k] = threeLevelComparison(legReference.abc[k], carriers);
    }
    return {{s.legLevel[0], s.legLevel[1], s.legLevel[2]}};
}

void writeGatePatterns(Model &model, const LegLevels &levels) {
    const ModulatorParameters &p = model.parameters.modulation.modulator;
    for (int leg = 0; leg < 3; ++leg) {
        const double *pattern = gatePattern(p, levels.abc[leg]);
        for (int sw = 0; sw < SWITCHES_PER_LEG; ++sw) {
            model.outputs.gates[leg * SWITCHES_PER_LEG + sw] = pattern[sw];
        }
    }
}

} // namespace kestrune
