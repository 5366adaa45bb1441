#include "control/control.h"

#include "control/phase_locked_loop.h"
#include "control/regulators.h"
#include "modulation/input_filter.h"
#include "modulation/reference.h"

namespace kestrune {

// The blocks run in a fixed interleaving; each measurement is sampled just
// before the first block that reads it. slowTime is the slow rate's time,
// read once by the model step, and serves every mean of this step.
void slowRateOutputs(Model &model, double slowTime) {
    sampleHeldCurrents(model);
    currentsToAlphaBeta(model);
    pllAngleOutput(model);
    currentsToDq(model);
    sampleHeldDcVoltage(model);
    currentRegulation(model);
    dcVoltageMeanOutput(model, slowTime);
    sampleHeldVoltages(model);
    pllGridVoltagePu(model);
    gridVoltageMeanOutput(model, slowTime);
    voltageReferences(model);
    pllAutomaticGainControl(model, slowTime);
    pllRegulation(model, slowTime);
    modulationReference(model);
}

// A delay line that leaves an error ends the update at once: the blocks after
// it keep their states.
bool slowRateUpdate(Model &model) {
    transferReferenceOut(model);
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
