// Parameters, signals and work memory of the slow-rate blocks: the one-cycle
// means, the phase-locked loop and the regulators. They are members of the
// model's records.
#pragma once

#include "children/variable_time_delay.h"

#include <cstdint>

namespace kestrune {

// ---- One-cycle means ------------------------------------------------------

// A mean over one period of the phase-locked loop's measured frequency.
struct VariableFrequencyMeanParameters {
    double halfStepGain;        // integrator gain, half the slow step
    double frequencyLowerLimit; // [Hz] clamp of the frequency before the period is formed
    double frequencyUpperLimit; // [Hz]
    double startupPeriod;       // [s] slow-rate time before which the output is heldOutput
    double correctionWeight;    // weight of the input slope in the fractional correction
    double initialOutput;       // heldOutput until one period has passed
    VariableTimeDelayParameters delayLine;
};

// A mean over one fixed 60 Hz period with precomputed correction weights.
struct FixedFrequencyMeanParameters {
    double halfStepGain;
    double fixedDelay;     // [s] the delay, and the start-up threshold
    double fixedFrequency; // [Hz] 1 / period
    double inputCoefficient;
    double previousInputCoefficient;
    double initialOutput;
    VariableTimeDelayParameters delayLine;
};

// The three signals a mean shares with its delay line: integral is the
// line's "In", delay its "D", delayedIntegral its output.
struct MeanSignals {
    double integral;
    double delay; // [s]
    double delayedIntegral;
};

struct MeanWork {
    double integratorState;
    double previousInput;
    double heldOutput;
    std::uint8_t integratorFirstStep; // 1: the integrator output is integratorState alone
};

// ---- dq transforms --------------------------------------------------------

// Initial outputs of a transform's two rotations (leading and lagging frame).
struct DqTransformParameters {
    double directInitial[2];
    double laggingInitial[2];
};

// The held output pairs of a transform's two rotations; a rotation that is
// not selected keeps its last pair.
struct DqTransformSignals {
    double direct[2];
    double lagging[2];
};

// ---- Phase-locked loop ----------------------------------------------------

struct PhaseLockedLoopParameters {
    double angleInitial;              // [rad] initial angle and first reset value
    double pllFrequencyInitial;       // [Hz]
    double pllDerivativeInitial;      // regulator derivative-filter state
    double pllIntegratorInitial;      // [rad/s] regulator integrator, 60 Hz
    double rateLimiterInitial;        // [Hz]
    double frequencyFilterInitial[2]; // steady state of the frequency filter at 60 Hz
    double agcGainInitial;            // [1/pu]
};

struct PhaseLockedLoopSignals {
    double pllAngle;     // [rad] angle of the rotating frame
    double pllOmega;     // [rad/s]
    double pllFrequency; // [Hz] filtered frequency, kept to the next slow step
    double gridVoltagePu[3];
    double agcGain;          // [1/pu] gain on the phase error, kept between slow steps
    double limitedFrequency; // [Hz]
};

struct PhaseLockedLoopWork {
    double angleResetValue;           // the value the angle integrator is reset to
    std::uint8_t firstResetValue;     // 1: the next reset value is angleInitial
    double angleState;                // [rad] angle integrator
    std::int8_t previousResetTrigger; // reset trigger of the previous slow step
    double pllDerivativeState;
    double pllIntegratorState;  // [rad/s]
    double rateLimiterPrevious; // [Hz]
    double frequencyFilterState[2];
    std::uint8_t agcEnabled; // "Automatic Gain Control" enabled state
    std::uint8_t agcActive;  // the gain control ran on the last slow step
};

// ---- Regulators -----------------------------------------------------------

struct CurrentRegulatorParameters {
    double derivativeInitial;
    double integratorInitial;
};

struct RegulatorParameters {
    double vdcIntegratorInitial;
    CurrentRegulatorParameters currentRegulatorD;
    CurrentRegulatorParameters currentRegulatorQ;
};

struct CurrentRegulatorWork {
    double derivativeState;
    double integratorState;
};

struct RegulatorWork {
    double vdcIntegratorState;
    CurrentRegulatorWork currentRegulatorD;
    CurrentRegulatorWork currentRegulatorQ;
};

// ---- The control part of the model's records -------------------------------

struct ControlParameters {
    // Limits of the phase-locked loop that stand for +infinity; stored as 0.0
    // and set to infValue by every model initialization.
    double agcMagnitudeMax;
    double pllIntegratorMax;
    double pllOmegaMax;
    VariableFrequencyMeanParameters agcMeanD;      // "Mean (Variable Frequency)1", child 0
    VariableFrequencyMeanParameters agcMeanQ;      // "Mean (Variable Frequency)2", child 1
    FixedFrequencyMeanParameters dcVoltageMean;    // "Mean", child 2
    FixedFrequencyMeanParameters gridVoltageMean;  // "Mean1", child 3
    VariableFrequencyMeanParameters frequencyMean; // "Variable Frequency Mean value", child 4
    // In the order the model step computes them: currents, "Mean1" voltage,
    // "Automatic Gain Control" voltage, "Variable Frequency Mean value" voltage.
    DqTransformParameters currentTransform;
    DqTransformParameters gridVoltageTransform;
    DqTransformParameters agcTransform;
    DqTransformParameters phaseDetectorTransform;
    PhaseLockedLoopParameters pll;
    RegulatorParameters regulators;
};

struct ControlSignals {
    MeanSignals agcMeanD;
    MeanSignals agcMeanQ;
    MeanSignals dcVoltageMean;
    MeanSignals gridVoltageMean;
    MeanSignals frequencyMean;
    DqTransformSignals currentTransform;
    DqTransformSignals gridVoltageTransform;
    DqTransformSignals agcTransform;
    DqTransformSignals phaseDetectorTransform;
    PhaseLockedLoopSignals pll;
    double modulationReferenceAbc[3]; // modulation reference computed by this slow step
};

struct ControlWork {
    MeanWork agcMeanD;
    MeanWork agcMeanQ;
    MeanWork dcVoltageMean;
    MeanWork gridVoltageMean;
    MeanWork frequencyMean;
    PhaseLockedLoopWork pll;
    RegulatorWork regulators;
};

} // namespace kestrune
