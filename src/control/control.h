// The slow-rate side of the controller: one-cycle means, the phase-locked
// loop, and the DC-voltage and current regulators.
#pragma once

namespace kestrune {

// Slow-rate output phase at the slow time of this step.
void slowRateOutputs(double slowTime);

// Slow-rate update phase. Returns false when a hosted block left an error,
// in which case the remaining updates were skipped.
bool slowRateUpdate();

} // namespace kestrune
