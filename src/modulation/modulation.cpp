#include "modulation/modulation.h"

#include "model/records.h"

namespace kestrune {

void takeOverHeldReference() {
    for (int i = 0; i < 3; ++i) {
        modelSignals.modulation.heldReferenceAbc[i] = modelWork.modulation.referenceTransferBuffer[i];
    }
}

void storeReferenceForNextPeriod() {
    for (int i = 0; i < 3; ++i) {
        modelWork.modulation.referenceTransferBuffer[i] = modelSignals.control.modulationReferenceAbc[i];
    }
}

// The modulator and the filters join the schedule here as they are built.
void modulatorOutputs(double /*baseTime*/) {}

void filterOutputs() {}

void baseRateUpdate() {}

} // namespace kestrune
