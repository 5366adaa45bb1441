// The slow-rate side of the controller: one-cycle means, the phase-locked
// loop, and the DC-voltage and current regulators.
#pragma once

namespace kestrune {

struct Model;

// Slow-rate output phase at the slow time of this step.
void slowRateOutputs(Model &model, double slowTime);

// The same from held measurements that were sampled beforehand.
void slowRateOutputsOfHeld(Model &model, double slowTime);

// Slow-rate update phase: the reference transfer's store, then the states.
// Returns false when a hosted block left an error, in which case the
// remaining updates were skipped.
bool slowRateUpdate(Model &model);

// The slow-rate update phase without the reference transfer's store.
bool slowRateStateUpdate(Model &model);

} // namespace kestrune
