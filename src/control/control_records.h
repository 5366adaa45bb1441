// Parameters, signals and work memory of the slow-rate blocks: the one-cycle
// means, the phase-locked loop and the regulators. They are members of the
// model's records.
#pragma once

namespace kestrune {

struct ControlParameters {
    // Limits of the phase-locked loop that stand for +infinity; stored as 0.0
    // and set to infValue by every model initialization.
    double agcMagnitudeMax;
    double pllIntegratorMax;
    double pllOmegaMax;
};

struct ControlSignals {
    double modulationReferenceAbc[3]; // modulation reference computed by this slow step
};

struct ControlWork {
    double unused; // the slow-rate blocks add their states here
};

} // namespace kestrune
