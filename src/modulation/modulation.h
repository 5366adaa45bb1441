// The base-rate side of the controller: reference transfer from the slow
// rate, the three-level carrier modulator with its gate patterns, and the
// measurement input filters.
#pragma once

namespace kestrune {

// At the start of a slow period: heldReferenceAbc takes over the reference
// stored by the previous slow step.
void takeOverHeldReference();

// At the end of a slow step: stores modulationReferenceAbc for the next
// slow period.
void storeReferenceForNextPeriod();

// Leg references, carriers, leg levels and the twelve gate outputs.
void modulatorOutputs(double baseTime);

// Outputs and next states of the measurement filters.
void filterOutputs();

// Base-rate update: sine source states, then the filters' next states.
void baseRateUpdate();

} // namespace kestrune
