#include "control/control.h"

#include "control/phase_locked_loop.h"
#include "control/regulators.h"
#include "modulation/input_filter.h"
#include "modulation/reference.h"

namespace kestrune {

// The blocks run in a fixed interleaving; each measurement is sampled just
// before the first block that reads it. slowTime is the slow rate's time,
// read once by the model step, and serves every mean of this step.
void slowRateOutputs(double slowTime) {
    sampleHeldCurrents();
    currentsToAlphaBeta();
    pllAngleOutput();
    currentsToDq();
    sampleHeldDcVoltage();
    currentRegulation();
    dcVoltageMeanOutput(slowTime);
    sampleHeldVoltages();
    pllGridVoltagePu();
    gridVoltageMeanOutput(slowTime);
    voltageReferences();
    pllAutomaticGainControl(slowTime);
    pllRegulation(slowTime);
    modulationReference();
}

// A delay line that leaves an error ends the update at once: the blocks after
// it keep their states.
bool slowRateUpdate() {
    transferReferenceOut();
    pllAngleUpdate();
    regulatorUpdate();
    if (!dcVoltageMeanUpdate() || !gridVoltageMeanUpdate()) {
        return false;
    }
    pllFrequencyUpdate();
    if (!pllAgcMeansUpdate()) {
        return false;
    }
    pllRegulatorUpdate();
    if (!pllPhaseDetectorUpdate()) {
        return false;
    }
    pllFrequencyFilterUpdate();
    return true;
}

} // namespace kestrune
