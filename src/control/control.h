// The slow-rate side of the controller: one-cycle means, the phase-locked
// loop, and the DC-voltage and current regulators.
#pragma once

namespace kestrune {

struct Model;

// Slow-rate output phase at the slow time of this step.
void slowRateOutputs(Model &model, double slowTime);

// Slow-rate update phase. Returns false when a hosted block left an error,
// in which case the remaining updates were skipped.
bool slowRateUpdate(Model &model);

} // namespace kestrune
