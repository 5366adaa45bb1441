#include "modulation/reference.h"

#include "model/numeric.h"
#include "model/records.h"

#include <cmath>

namespace kestrune {

namespace {

// The states start from sin and cos of the angle at the first step's time,
// the same pair for all three phases; each phase's angle is added at the
// output.
void seedSineGenerator(Model &model, double t) {
    ModulationWork &w = model.work.modulation;
    if (w.sineFirstStep == 0) {
        return;
    }
    const double theta = model.parameters.modulation.reference.sineAngularFrequency * t;
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

void transferReferenceIn(Model &model) {
    for (int i = 0; i < 3; ++i) {
        model.signals.modulation.heldReferenceAbc[i] = model.work.modulation.referenceTransferBuffer[i];
    }
}

void transferReferenceOut(Model &model) {
    for (int i = 0; i < 3; ++i) {
        model.work.modulation.referenceTransferBuffer[i] = model.signals.control.modulationReferenceAbc[i];
    }
}

LegReferences selectLegReferences(Model &model, double t) {
    seedSineGenerator(model, t);

    const ReferenceParameters &p = model.parameters.modulation.reference;
    LegReferences legReference{};
    if (truncateToInt32(p.referenceSource) == 1) {
        for (int k = 0; k < 3; ++k) {
            legReference.abc[k] = model.signals.modulation.heldReferenceAbc[k];
        }
    } else {
        for (int k = 0; k < 3; ++k) {
            legReference.abc[k] = sineReference(p, model.work.modulation, k);
        }
    }
    return legReference;
}

void advanceSineGenerator(Model &model) {
    const ReferenceParameters &p = model.parameters.modulation.reference;
    ModulationWork &w = model.work.modulation;
    for (int k = 0; k < 3; ++k) {
        const double h = w.sineLast[k];
        w.sineLast[k] = w.sineLast[k] * p.stepCosine[k] + w.cosineLast[k] * p.stepSine[k];
        w.cosineLast[k] = w.cosineLast[k] * p.stepCosine[k] - h * p.stepSine[k];
    }
}

} // namespace kestrune
