// One-cycle means of a slow-rate signal. Each mean integrates its input with
// the trapezoidal rule, asks its delay line for the integral one period
// back, and divides the difference by the period; until one period of slow
// time has passed it holds its initial output. The variable form follows a
// measured frequency and corrects for the part of a sample by which the
// whole-sample delay overshoots the period; the fixed form uses one 60 Hz
// period with precomputed correction weights.
#pragma once

#include "control/control_records.h"

namespace kestrune {

struct Model;

// A mean's parameters, signals and work memory, the model they belong to,
// and the index of its delay
// line in the model's child table.
struct VariableFrequencyMean {
    const VariableFrequencyMeanParameters *parameters;
    MeanSignals *signals;
    MeanWork *work;
    Model *model;
    int child;
};

struct FixedFrequencyMean {
    const FixedFrequencyMeanParameters *parameters;
    MeanSignals *signals;
    MeanWork *work;
    Model *model;
    int child;
};

// The model's five means.
VariableFrequencyMean agcMeanD(Model &model);      // "Mean (Variable Frequency)1", child 0
VariableFrequencyMean agcMeanQ(Model &model);      // "Mean (Variable Frequency)2", child 1
FixedFrequencyMean dcVoltageMean(Model &model);    // "Mean", child 2
FixedFrequencyMean gridVoltageMean(Model &model);  // "Mean1", child 3
VariableFrequencyMean frequencyMean(Model &model); // "Variable Frequency Mean value", child 4

// Output step: the mean of input u over one period of frequency f [Hz] at
// slow time t, calling the delay line for its output.
double meanOutput(const VariableFrequencyMean &mean, double u, double f, double t);
double meanOutput(const FixedFrequencyMean &mean, double u, double t);

// Update step with the u and the y of this slow step's output step. Returns
// false when the delay line left an error; the mean's held input and output
// then keep their old values.
bool meanUpdate(const VariableFrequencyMean &mean, double u, double y);
bool meanUpdate(const FixedFrequencyMean &mean, double u, double y);

// The next output step starts a fresh integral: the integrator output is its
// state without the half step.
void armMean(const VariableFrequencyMean &mean);

} // namespace kestrune
