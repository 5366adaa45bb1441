#include "control/control.h"

#include "modulation/input_filter.h"
#include "modulation/reference.h"

namespace kestrune {

// The means, the phase-locked loop and the regulators join the schedule here
// as they are built, between the samplings: each measurement is sampled just
// before the first block that reads it.
void slowRateOutputs(double /*slowTime*/) {
    sampleHeldCurrents();
    sampleHeldDcVoltage();
    sampleHeldVoltages();
}

bool slowRateUpdate() {
    transferReferenceOut();
    return true;
}

} // namespace kestrune
