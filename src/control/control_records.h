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

// A transform of three phase values into the frame turning with the
// phase-locked loop's angle: abc to alpha, beta (and zero) with its own
// matrix and gain, then one of two rotations. frameAlignment 1.0 selects the
// frame whose first axis lies at the angle, 2.0 the one a quarter turn
// behind it. Each transform also holds its rotations' initial outputs.
struct DqTransformParameters {
    double clarkeMatrix[3][3]; // rows: alpha, beta, zero
    double clarkeGain;
    double frameAlignment;
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
    double voltageScale;             // [pu/V] grid voltages to per unit, shared with the regulators
    double angleWrap;                // [rad] angle above which the angle integrator is reset
    double angleInitial;             // [rad] initial angle and first reset value
    double angleIntegratorGain;      // [s] the slow step
    double agcEnable;                // > 0 enables the automatic gain control
    double agcMagnitudeMin;          // [pu] keeps the gain finite with no voltage
    double pllKp;                    // [rad/s per pu]
    double pllIntegralIncrement;     // integral gain times the slow step
    double pllKd;                    // derivative gain
    double derivativeDenominator[2]; // a0, a1 of the derivative filter
    double pllIntegratorMin;         // [rad/s]
    double pllOmegaMin;              // [rad/s]
    double radToHz;                  // 1 / (2 pi)
    double risingRate;               // [Hz/s] rate limits of the frequency
    double fallingRate;              // [Hz/s]
    double frequencyFilterA[2][2];   // second-order low-pass, 25 Hz, damping 0.707, at the slow step
    double frequencyFilterB[2];
    double frequencyFilterC[2];
    double frequencyFilterD;
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
    // Signals of one slow step, from its output to its update phase.
    std::uint8_t resetTrigger; // the angle integrator is above angleWrap
    double agcVoltageDq[2];    // [pu] d, q of the grid voltage under the gain control
    double agcMeanDq[2];       // [pu] their one-cycle means
    double phaseDetectorDq[2]; // [pu] dV, qV
    double qMean;              // [pu] one-cycle mean of qV
    double phaseError;
    double frequencyFilterNext[2]; // the frequency filter's next state
    double frequencyFilterOutput;  // [Hz] becomes pllFrequency in the update phase
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
    std::uint8_t agcActive; // the gain control ran on the last slow step
};

// ---- Regulators -----------------------------------------------------------

// One axis of the current regulators. The gains currentKp, currentKi and
// currentKd are shared by both axes and live in RegulatorParameters.
struct CurrentRegulatorParameters {
    double derivativeNumerator[2];   // b0, b1 of the filtered derivative (Tustin, 2e-4 s)
    double derivativeDenominator[2]; // a0, a1
    double currentIntegratorGain;    // [s] the slow step
    double currentIntegratorMax;     // [pu]
    double currentIntegratorMin;
    double currentOutputMax; // [pu] limit of the axis output
    double currentOutputMin;
    double derivativeInitial;
    double integratorInitial;
};

struct RegulatorParameters {
    double currentScale;      // [pu/A] amperes to per unit
    double vdcReference;      // [V]
    double vdcKp;             // [pu/V]
    double vdcKi;             // [pu/(V s)]
    double vdcIntegratorGain; // [s] the slow step
    double vdcIntegratorMax;  // [pu]
    double vdcIntegratorMin;
    double vdcOutputMax; // [pu] first limit of the regulator output
    double vdcOutputMin;
    double idReferenceMax; // [pu] second limit, giving idReference
    double idReferenceMin;
    double iqReference; // [pu]
    double currentKp;
    double currentKi;
    double currentKd;
    double couplingGainD; // cross-coupling of the other axis' current
    double couplingGainQ;
    double modulationGain; // [V/pu] scale of the dq voltage reference before division by dcMean
    double dcMeanInputMin; // [V] clamp of the DC-link voltage before "Mean"
    double dcMeanInputMax; // [V]
    double modulationMagnitudeMax;
    double modulationMagnitudeMin;
    double phaseOffset[3]; // [rad] legs a, b, c
    double vdcIntegratorInitial;
    CurrentRegulatorParameters currentRegulatorD;
    CurrentRegulatorParameters currentRegulatorQ;
};

// One current regulator axis within a slow step.
struct CurrentRegulatorSignals {
    double error;           // [pu] reference minus measured current
    double derivativeNext;  // the derivative filter's next state
    double output;          // [pu] before its limit
    double limitedOutput;   // [pu]
    double integratorInput; // currentKi times the error
};

// Signals of the regulators within one slow step.
struct RegulatorSignals {
    double currentAlphaBeta[2]; // [pu]
    double currentDq[2];        // [pu] Id, Iq in the frame of pllAngle
    double vdcError;            // [V] ev
    double vdcIntegratorInput;  // vdcKi times ev
    double idReference;         // [pu]
    CurrentRegulatorSignals currentD;
    CurrentRegulatorSignals currentQ;
    double dcMeanInput;       // [V] clamped DC-link voltage
    double dcMean;            // [V]
    double gridVoltageDq[2];  // [pu] Vgd, Vgq
    double gridVdMean;        // [pu]
    double voltageReferenceD; // [pu]
    double voltageReferenceQ;
    double modulationAngle;     // [rad] of the dq voltage reference
    double modulationMagnitude; // [pu] limited
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
    RegulatorSignals regulators;
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
