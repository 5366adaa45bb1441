#include "control/phase_locked_loop.h"

#include "control/dq_transform.h"
#include "control/limits.h"
#include "control/mean.h"
#include "model/numeric.h"
#include "model/records.h"

namespace kestrune {

namespace {

// The rate limiter works per slow step of this fixed length [s].
constexpr double RATE_LIMITER_STEP = 0.0001;

} // namespace

void pllAngleOutput(Model &model) {
    const PhaseLockedLoopParameters &p = model.parameters.control.pll;
    PhaseLockedLoopSignals &s = model.signals.control.pll;
    PhaseLockedLoopWork &w = model.work.control.pll;

    s.resetTrigger = w.angleState > p.angleWrap ? 1U : 0U;
    if (w.firstResetValue != 0U) {
        w.angleResetValue = p.angleInitial;
        w.firstResetValue = 0U;
    } else {
        w.angleResetValue = w.angleState - p.angleWrap;
    }
    // Only on the step the trigger rises; its memory starts at 2, so the
    // first step cannot reset.
    if (s.resetTrigger != 0U && w.previousResetTrigger <= 0) {
        w.angleState = w.angleResetValue;
    }
    s.pllAngle = w.angleState;
}

void pllGridVoltagePu(Model &model) {
    const double scale = model.parameters.control.pll.voltageScale;
    const double *held = model.signals.modulation.heldVoltageAbc;
    double *pu = model.signals.control.pll.gridVoltagePu;
    for (int k = 0; k < 3; ++k) {
        pu[k] = scale * held[k];
    }
}

void pllAutomaticGainControl(Model &model, double slowTime) {
    const ControlParameters &cp = model.parameters.control;
    const PhaseLockedLoopParameters &p = cp.pll;
    PhaseLockedLoopSignals &s = model.signals.control.pll;
    PhaseLockedLoopWork &w = model.work.control.pll;

    if (!(p.agcEnable > 0.0)) {
        w.agcActive = 0U;
        return;
    }
    if (w.agcActive == 0U) {
        armMean(agcMeanD(model));
        armMean(agcMeanQ(model));
        w.agcActive = 1U;
    }
    const Dq v = dqTransform(agcTransform(model), s.gridVoltagePu, s.pllAngle);
    s.agcVoltageDq[0] = v.d;
    s.agcVoltageDq[1] = v.q;
    s.agcMeanDq[0] = meanOutput(agcMeanD(model), v.d, s.pllFrequency, slowTime);
    s.agcMeanDq[1] = meanOutput(agcMeanQ(model), v.q, s.pllFrequency, slowTime);
    // The lower bound keeps the gain finite when the grid voltage is gone.
    const double magnitude =
        limitTo(hypotSafe(s.agcMeanDq[0], s.agcMeanDq[1]), p.agcMagnitudeMin, cp.agcMagnitudeMax);
    s.agcGain = 1.0 / magnitude;
}

void pllRegulation(Model &model, double slowTime) {
    const ControlParameters &cp = model.parameters.control;
    const PhaseLockedLoopParameters &p = cp.pll;
    PhaseLockedLoopSignals &s = model.signals.control.pll;
    PhaseLockedLoopWork &w = model.work.control.pll;

    const Dq v = dqTransform(phaseDetectorTransform(model), s.gridVoltagePu, s.pllAngle);
    s.phaseDetectorDq[0] = v.d;
    s.phaseDetectorDq[1] = v.q;
    s.qMean = meanOutput(frequencyMean(model), v.q, s.pllFrequency, slowTime);
    s.phaseError = s.qMean * s.agcGain;

    // PID with a filtered derivative; the lower limit keeps the speed
    // non-negative [rad/s].
    const double u = p.pllKp * s.phaseError + w.pllIntegratorState + -1.0 * p.pllKd * w.pllDerivativeState;
    s.pllOmega = limitTo(u, p.pllOmegaMin, cp.pllOmegaMax);

    // The frequency moves by at most risingRate or fallingRate [Hz/s].
    const double raw = p.radToHz * s.pllOmega;
    const double delta = raw - w.rateLimiterPrevious;
    if (delta > p.risingRate * RATE_LIMITER_STEP) {
        s.limitedFrequency = p.risingRate * RATE_LIMITER_STEP + w.rateLimiterPrevious;
    } else if (delta < p.fallingRate * RATE_LIMITER_STEP) {
        s.limitedFrequency = p.fallingRate * RATE_LIMITER_STEP + w.rateLimiterPrevious;
    } else {
        s.limitedFrequency = raw;
    }
    w.rateLimiterPrevious = s.limitedFrequency;

    // next = A x + B v, y = C x + D v.
    const double *x = w.frequencyFilterState;
    const double v0 = s.limitedFrequency;
    s.frequencyFilterNext[0] =
        (p.frequencyFilterA[0][0] * x[0] + p.frequencyFilterA[0][1] * x[1]) + p.frequencyFilterB[0] * v0;
    s.frequencyFilterNext[1] =
        (p.frequencyFilterA[1][0] * x[0] + p.frequencyFilterA[1][1] * x[1]) + p.frequencyFilterB[1] * v0;
    s.frequencyFilterOutput =
        (p.frequencyFilterC[0] * x[0] + p.frequencyFilterC[1] * x[1]) + p.frequencyFilterD * v0;
}

void pllAngleUpdate(Model &model) {
    const PhaseLockedLoopParameters &p = model.parameters.control.pll;
    const PhaseLockedLoopSignals &s = model.signals.control.pll;
    PhaseLockedLoopWork &w = model.work.control.pll;
    // Forward Euler: this step's angle did not yet contain this step's speed.
    w.angleState = w.angleState + p.angleIntegratorGain * s.pllOmega;
    w.previousResetTrigger = static_cast<std::int8_t>(s.resetTrigger);
}

void pllFrequencyUpdate(Model &model) {
    PhaseLockedLoopSignals &s = model.signals.control.pll;
    s.pllFrequency = s.frequencyFilterOutput;
}

bool pllAgcMeansUpdate(Model &model) {
    const PhaseLockedLoopSignals &s = model.signals.control.pll;
    if (model.work.control.pll.agcActive == 0U) {
        return true;
    }
    return meanUpdate(agcMeanD(model), s.agcVoltageDq[0], s.agcMeanDq[0]) &&
           meanUpdate(agcMeanQ(model), s.agcVoltageDq[1], s.agcMeanDq[1]);
}

void pllRegulatorUpdate(Model &model) {
    const ControlParameters &cp = model.parameters.control;
    const PhaseLockedLoopParameters &p = cp.pll;
    const PhaseLockedLoopSignals &s = model.signals.control.pll;
    PhaseLockedLoopWork &w = model.work.control.pll;
    const double a0 = p.derivativeDenominator[0];
    const double a1 = p.derivativeDenominator[1];
    w.pllDerivativeState = (s.phaseError - a1 * w.pllDerivativeState) / a0;
    w.pllIntegratorState = clampIntegrator(w.pllIntegratorState + p.pllIntegralIncrement * s.phaseError,
                                           p.pllIntegratorMin, cp.pllIntegratorMax);
}

bool pllPhaseDetectorUpdate(Model &model) {
    const PhaseLockedLoopSignals &s = model.signals.control.pll;
    return meanUpdate(frequencyMean(model), s.phaseDetectorDq[1], s.qMean);
}

void pllFrequencyFilterUpdate(Model &model) {
    PhaseLockedLoopWork &w = model.work.control.pll;
    const PhaseLockedLoopSignals &s = model.signals.control.pll;
    w.frequencyFilterState[0] = s.frequencyFilterNext[0];
    w.frequencyFilterState[1] = s.frequencyFilterNext[1];
}

} // namespace kestrune
