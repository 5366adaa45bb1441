#include "control/control.h"

#include "modulation/modulation.h"

namespace kestrune {

// The means, the phase-locked loop and the regulators join the schedule here
// as they are built.
void slowRateOutputs(double /*slowTime*/) {}

bool slowRateUpdate() {
    storeReferenceForNextPeriod();
    return true;
}

} // namespace kestrune
