#include "control/mean.h"

#include "children/child_host.h"
#include "control/limits.h"
#include "model/records.h"

#include <cmath>

namespace kestrune {

namespace {

// The period's whole-sample count is taken at the slow step itself, not at
// meanSampleTime, which only scales the count into the delay [s].
constexpr double SLOW_STEP_FOR_PERIOD = SLOW_STEP;

// Trapezoidal integrator output: the state, plus half a step of the present
// input once the integrator has run.
double integratorOutput(const MeanWork &w, double halfStepGain, double u) {
    if (w.integratorFirstStep != 0U) {
        return w.integratorState;
    }
    return w.integratorState + halfStepGain * u;
}

// Advances the integrator, lets the delay line store the integral, and only
// when the line reported no error takes the step's input and output over.
bool updateMean(Model &model, MeanWork &w, const MeanSignals &s, int child, double halfStepGain, double u,
                double y) {
    w.integratorFirstStep = 0U;
    w.integratorState = halfStepGain * u + s.integral;
    if (!childUpdate(model, child)) {
        return false;
    }
    w.previousInput = u;
    w.heldOutput = y;
    return true;
}

} // namespace

VariableFrequencyMean agcMeanD(Model &model) {
    return {&model.parameters.control.agcMeanD, &model.signals.control.agcMeanD, &model.work.control.agcMeanD,
            &model, 0};
}

VariableFrequencyMean agcMeanQ(Model &model) {
    return {&model.parameters.control.agcMeanQ, &model.signals.control.agcMeanQ, &model.work.control.agcMeanQ,
            &model, 1};
}

FixedFrequencyMean dcVoltageMean(Model &model) {
    return {&model.parameters.control.dcVoltageMean, &model.signals.control.dcVoltageMean,
            &model.work.control.dcVoltageMean, &model, 2};
}

FixedFrequencyMean gridVoltageMean(Model &model) {
    return {&model.parameters.control.gridVoltageMean, &model.signals.control.gridVoltageMean,
            &model.work.control.gridVoltageMean, &model, 3};
}

VariableFrequencyMean frequencyMean(Model &model) {
    return {&model.parameters.control.frequencyMean, &model.signals.control.frequencyMean,
            &model.work.control.frequencyMean, &model, 4};
}

double meanOutput(const VariableFrequencyMean &mean, double u, double f, double t) {
    const VariableFrequencyMeanParameters &p = *mean.parameters;
    MeanSignals &s = *mean.signals;
    const MeanWork &w = *mean.work;

    s.integral = integratorOutput(w, p.halfStepGain, u);

    // The clamp keeps the period finite for every frequency but NaN.
    const double fc = limitTo(f, p.frequencyLowerLimit, p.frequencyUpperLimit);
    const double periodSamples = (1.0 / fc) / SLOW_STEP_FOR_PERIOD; // Nr
    const double wholeSamples = std::ceil(periodSamples);           // N
    s.delay = mean.model->parameters.meanSampleTime * wholeSamples;

    childOutputs(*mean.model, mean.child);

    if (t < p.startupPeriod) {
        return w.heldOutput;
    }
    // The integral difference spans -frac samples more than one period; the
    // first term takes that excess off, estimated from the newest input and
    // a straight line back toward the previous one. The difference is scaled
    // with the unclamped frequency.
    const double frac = periodSamples - wholeSamples; // in (-1, 0]
    return ((u - w.previousInput) * frac * p.correctionWeight + u) * (frac / periodSamples) +
           (s.integral - s.delayedIntegral) * f;
}

double meanOutput(const FixedFrequencyMean &mean, double u, double t) {
    const FixedFrequencyMeanParameters &p = *mean.parameters;
    MeanSignals &s = *mean.signals;
    const MeanWork &w = *mean.work;

    s.integral = integratorOutput(w, p.halfStepGain, u);
    s.delay = p.fixedDelay;

    childOutputs(*mean.model, mean.child);

    if (t < s.delay) {
        return w.heldOutput;
    }
    return (s.integral - s.delayedIntegral) * p.fixedFrequency +
           (p.inputCoefficient * u - p.previousInputCoefficient * w.previousInput);
}

bool meanUpdate(const VariableFrequencyMean &mean, double u, double y) {
    return updateMean(*mean.model, *mean.work, *mean.signals, mean.child, mean.parameters->halfStepGain, u,
                      y);
}

bool meanUpdate(const FixedFrequencyMean &mean, double u, double y) {
    return updateMean(*mean.model, *mean.work, *mean.signals, mean.child, mean.parameters->halfStepGain, u,
                      y);
}

void armMean(const VariableFrequencyMean &mean) {
    mean.work->integratorFirstStep = 1U;
}

} // namespace kestrune
