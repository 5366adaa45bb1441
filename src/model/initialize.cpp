#include "model/initialize.h"

#include "model/numeric.h"
#include "model/records.h"

namespace kestrune {

void modelInitialize() {
    initNonFinite();
    modelParameters.control.agcMagnitudeMax = infValue;
    modelParameters.control.pllIntegratorMax = infValue;
    modelParameters.control.pllOmegaMax = infValue;
    registerModel();

    // Initial states of the base-rate blocks: the reference transfer
    // registers, the measurement filters, the modulator's leg levels and the
    // sine source, which seeds itself on the first step.
    {
        const ModulationParameters &p = modelParameters.modulation;
        ModulationSignals &s = modelSignals.modulation;
        ModulationWork &w = modelWork.modulation;
        for (int k = 0; k < 3; ++k) {
            s.heldReferenceAbc[k] = p.reference.initialTransferValue;
            w.referenceTransferBuffer[k] = p.reference.initialTransferValue;
        }
        const InputFilterParameters *bank[FILTER_CHANNEL_COUNT] = {
            &p.voltageFilter, &p.voltageFilter, &p.voltageFilter, &p.currentFilter,
            &p.currentFilter, &p.currentFilter, &p.dcFilter};
        for (int channel = 0; channel < FILTER_CHANNEL_COUNT; ++channel) {
            w.filterState[channel][0] = bank[channel]->initialState1;
            w.filterState[channel][1] = bank[channel]->initialState2;
        }
        for (int k = 0; k < 3; ++k) {
            s.legLevel[k] = p.modulator.legLevelInitial;
        }
        s.twoArmDirectLevel = p.modulator.twoArmLevelInitial;
        s.twoArmInvertedLevel = p.modulator.twoArmLevelInitial;
        w.sineFirstStep = 1;
    }
}

} // namespace kestrune
