#include "control/control.h"

#include "control/phase_locked_loop.h"
#include "control/regulators.h"
#include "modulation/input_filter.h"
#include "modulation/reference.h"

namespace kestrune {

namespace {

// The blocks run in a fixed interleaving; with Sample, each measurement is
// sampled just before the first block that reads it (sampling only copies
// what the filters left, so sampling all of them beforehand is the same).
// slowTime is the slow rate's time, read once by the model step, and serves
// every mean of this step.
template <bool Sample> void runSlowRateOutputs(Model &model, double slowTime) {
    if constexpr (Sample) {
        sampleHeldCurrents(model);
    }
    currentsToAlphaBeta(model);
    pllAngleOutput(model);
    currentsToDq(model);
    if constexpr (Sample) {
        sampleHeldDcVoltage(model);
    }
    currentRegulation(model);
    dcVoltageMeanOutput(model, slowTime);
    if constexpr (Sample) {
        sampleHeldVoltages(model);
    }
    pllGridVoltagePu(model);
    gridVoltageMeanOutput(model, slowTime);
    voltageReferences(model);
    pllAutomaticGainControl(model, slowTime);
    pllRegulation(model, slowTime);
    modulationReference(model);
}

} // namespace

void slowRateOutputs(Model &model, double slowTime) {
    runSlowRateOutputs<true>(model, slowTime);
}

void slowRateOutputsOfHeld(Model &model, double slowTime) {
    runSlowRateOutputs<false>(model, slowTime);
}

bool slowRateUpdate(Model &model) {
    transferReferenceOut(model);
    return slowRateStateUpdate(model);
}

// A delay line that leaves an error ends the update at once: the blocks after
// it keep their states.
bool slowRateStateUpdate(Model &model) {
    pllAngleUpdate(model);
    regulatorUpdate(model);
    if (!dcVoltageMeanUpdate(model) || !gridVoltageMeanUpdate(model)) {
        return false;
    }
    pllFrequencyUpdate(model);
    if (!pllAgcMeansUpdate(model)) {
        return false;
    }
    pllRegulatorUpdate(model);
    if (!pllPhaseDetectorUpdate(model)) {
        return false;
    }
    pllFrequencyFilterUpdate(model);
    return true;
}

} // namespace kestrune
