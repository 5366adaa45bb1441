#include "modulation/reference.h"

#include "model/numeric.h"
#include "model/records.h"

#include <cmath>

namespace kestrune {

namespace {

// The states start from sin and cos of the angle at the first step's time,
// the same pair for all three phases; each phase's angle is added at the
// output.
void seedSineGenerator(double t) {
    ModulationWork &w = modelWork.modulation;
    if (w.sineFirstStep == 0) {
        return;
    }
    const double theta = modelParameters.modulation.reference.sineAngularFrequency * t;
    const double s = std::sin(theta);
    const double c = std::cos(theta);
    for (int k = 0; k < 3; ++k) {
        w.sineLast[k] = s;
        w.cosineLast[k] = c;
    }
    w.sineFirstStep = 0;
}

// amplitude * sin(w t + phase of leg k) + bias, from the rotating states.
double sineReference(const ReferenceParameters &p, const ModulationWork &w, int k) {
    const double s = w.sineLast[k];
    const double c = w.cosineLast[k];
    const double ps = p.phaseSine[k];
    const double pc = p.phaseCosine[k];
    return ((s * pc + c * ps) * p.stepCosine[k] + (c * pc - s * ps) * p.stepSine[k]) * p.sineAmplitude +
           p.sineBias;
}

} // namespace

void transferReferenceIn() {
    for (int i = 0; i < 3; ++i) {
        modelSignals.modulation.heldReferenceAbc[i] = modelWork.modulation.referenceTransferBuffer[i];
    }
}

void transferReferenceOut() {
    for (int i = 0; i < 3; ++i) {
        modelWork.modulation.referenceTransferBuffer[i] = modelSignals.control.modulationReferenceAbc[i];
    }
}

LegReferences selectLegReferences(double t) {
    seedSineGenerator(t);

    const ReferenceParameters &p = modelParameters.modulation.reference;
    LegReferences legReference{};
    if (truncateToInt32(p.referenceSource) == 1) {
        for (int k = 0; k < 3; ++k) {
            legReference.abc[k] = modelSignals.modulation.heldReferenceAbc[k];
        }
    } else {
        for (int k = 0; k < 3; ++k) {
            legReference.abc[k] = sineReference(p, modelWork.modulation, k);
        }
    }
    return legReference;
}

void advanceSineGenerator() {
    const ReferenceParameters &p = modelParameters.modulation.reference;
    ModulationWork &w = modelWork.modulation;
    for (int k = 0; k < 3; ++k) {
        const double h = w.sineLast[k];
        w.sineLast[k] = w.sineLast[k] * p.stepCosine[k] + w.cosineLast[k] * p.stepSine[k];
        w.cosineLast[k] = w.cosineLast[k] * p.stepCosine[k] - h * p.stepSine[k];
    }
}

} // namespace kestrune
