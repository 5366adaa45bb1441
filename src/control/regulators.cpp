#include "control/regulators.h"

#include "control/dq_transform.h"
#include "control/limits.h"
#include "control/mean.h"
#include "model/numeric.h"
#include "model/records.h"

#include <cmath>

namespace kestrune {

namespace {

// One current regulator axis: error, filtered derivative (Tustin) and PI
// terms; the integrator input is formed for the update phase.
void currentAxis(const RegulatorParameters &p, const CurrentRegulatorParameters &axis,
                 const CurrentRegulatorWork &w, double reference, double measured,
                 CurrentRegulatorSignals &s) {
    const double b0 = axis.derivativeNumerator[0];
    const double b1 = axis.derivativeNumerator[1];
    const double a0 = axis.derivativeDenominator[0];
    const double a1 = axis.derivativeDenominator[1];
    s.error = reference - measured;
    s.derivativeNext = (p.currentKd * s.error - a1 * w.derivativeState) / a0;
    s.output = p.currentKp * s.error + w.integratorState + (b0 * s.derivativeNext + b1 * w.derivativeState);
    s.integratorInput = p.currentKi * s.error;
}

void currentAxisUpdate(const CurrentRegulatorParameters &axis, const CurrentRegulatorSignals &s,
                       CurrentRegulatorWork &w) {
    w.derivativeState = s.derivativeNext;
    w.integratorState = clampIntegrator(w.integratorState + axis.currentIntegratorGain * s.integratorInput,
                                        axis.currentIntegratorMin, axis.currentIntegratorMax);
}

} // namespace

void currentsToAlphaBeta(Model &model) {
    const double scale = model.parameters.control.regulators.currentScale;
    const double *held = model.signals.modulation.heldCurrentAbc;
    RegulatorSignals &s = model.signals.control.regulators;
    const double pu[3] = {scale * held[0], scale * held[1], scale * held[2]};
    const AlphaBeta ab = clarke(currentTransform(model), pu);
    s.currentAlphaBeta[0] = ab.alpha;
    s.currentAlphaBeta[1] = ab.beta;
}

void currentsToDq(Model &model) {
    RegulatorSignals &s = model.signals.control.regulators;
    const Dq i = rotate(currentTransform(model), {s.currentAlphaBeta[0], s.currentAlphaBeta[1]},
                        model.signals.control.pll.pllAngle);
    s.currentDq[0] = i.d;
    s.currentDq[1] = i.q;
}

void currentRegulation(Model &model) {
    const RegulatorParameters &p = model.parameters.control.regulators;
    const RegulatorWork &w = model.work.control.regulators;
    RegulatorSignals &s = model.signals.control.regulators;

    // DC-voltage PI, its output limited twice [pu].
    s.vdcError = p.vdcReference - model.signals.modulation.heldDcVoltage;
    const double u = p.vdcKp * s.vdcError + w.vdcIntegratorState;
    s.idReference = limitTo(limitTo(u, p.vdcOutputMin, p.vdcOutputMax), p.idReferenceMin, p.idReferenceMax);
    s.vdcIntegratorInput = p.vdcKi * s.vdcError;

    currentAxis(p, p.currentRegulatorD, w.currentRegulatorD, s.idReference, s.currentDq[0], s.currentD);
    currentAxis(p, p.currentRegulatorQ, w.currentRegulatorQ, p.iqReference, s.currentDq[1], s.currentQ);
}

void dcVoltageMeanOutput(Model &model, double slowTime) {
    const RegulatorParameters &p = model.parameters.control.regulators;
    RegulatorSignals &s = model.signals.control.regulators;
    // At least 10 V keeps the mean, and so the division by it, positive.
    s.dcMeanInput = limitTo(model.signals.modulation.heldDcVoltage, p.dcMeanInputMin, p.dcMeanInputMax);
    s.dcMean = meanOutput(dcVoltageMean(model), s.dcMeanInput, slowTime);
}

void gridVoltageMeanOutput(Model &model, double slowTime) {
    RegulatorSignals &s = model.signals.control.regulators;
    const PhaseLockedLoopSignals &pll = model.signals.control.pll;
    const Dq v = dqTransform(gridVoltageTransform(model), pll.gridVoltagePu, pll.pllAngle);
    s.gridVoltageDq[0] = v.d;
    s.gridVoltageDq[1] = v.q;
    s.gridVdMean = meanOutput(gridVoltageMean(model), v.d, slowTime);
}

void voltageReferences(Model &model) {
    const RegulatorParameters &p = model.parameters.control.regulators;
    RegulatorSignals &s = model.signals.control.regulators;
    const double id = s.currentDq[0];
    const double iq = s.currentDq[1];

    s.currentD.limitedOutput = limitTo(s.currentD.output, p.currentRegulatorD.currentOutputMin,
                                       p.currentRegulatorD.currentOutputMax);
    s.voltageReferenceD =
        (s.gridVdMean - s.currentD.limitedOutput + p.couplingGainD * iq) * p.modulationGain / s.dcMean;

    s.currentQ.limitedOutput = limitTo(s.currentQ.output, p.currentRegulatorQ.currentOutputMin,
                                       p.currentRegulatorQ.currentOutputMax);
    s.voltageReferenceQ =
        (0.0 - s.currentQ.limitedOutput - p.couplingGainQ * id) * p.modulationGain / s.dcMean;
}

void modulationReference(Model &model) {
    const RegulatorParameters &p = model.parameters.control.regulators;
    RegulatorSignals &s = model.signals.control.regulators;
    const double pllAngle = model.signals.control.pll.pllAngle;

    s.modulationAngle = atan2Safe(s.voltageReferenceQ, s.voltageReferenceD);
    s.modulationMagnitude = limitTo(hypotSafe(s.voltageReferenceD, s.voltageReferenceQ),
                                    p.modulationMagnitudeMin, p.modulationMagnitudeMax);
    for (int k = 0; k < 3; ++k) {
        model.signals.control.modulationReferenceAbc[k] =
            std::sin(s.modulationAngle + p.phaseOffset[k] + pllAngle) * s.modulationMagnitude;
    }
}

void regulatorUpdate(Model &model) {
    const RegulatorParameters &p = model.parameters.control.regulators;
    const RegulatorSignals &s = model.signals.control.regulators;
    RegulatorWork &w = model.work.control.regulators;

    w.vdcIntegratorState = clampIntegrator(w.vdcIntegratorState + p.vdcIntegratorGain * s.vdcIntegratorInput,
                                           p.vdcIntegratorMin, p.vdcIntegratorMax);
    currentAxisUpdate(p.currentRegulatorD, s.currentD, w.currentRegulatorD);
    currentAxisUpdate(p.currentRegulatorQ, s.currentQ, w.currentRegulatorQ);
}

bool dcVoltageMeanUpdate(Model &model) {
    const RegulatorSignals &s = model.signals.control.regulators;
    return meanUpdate(dcVoltageMean(model), s.dcMeanInput, s.dcMean);
}

bool gridVoltageMeanUpdate(Model &model) {
    const RegulatorSignals &s = model.signals.control.regulators;
    return meanUpdate(gridVoltageMean(model), s.gridVoltageDq[0], s.gridVdMean);
}

} // namespace kestrune
