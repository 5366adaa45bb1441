// The seven measurement filters, run at the base rate, and the sampling of
// their outputs into the held measurements that the slow rate reads.
#pragma once

namespace kestrune {

struct Model;

// Filtered value and next state of every channel from the present inputs
// and states. The next states are committed by filterUpdate.
void filterOutputs(Model &model);

// Commits the next states computed by filterOutputs in the same step.
void filterUpdate(Model &model);

// On a slow-rate hit: the held measurements take the filtered values of the
// same base step, without delay.
void sampleHeldCurrents(Model &model);
void sampleHeldDcVoltage(Model &model);
void sampleHeldVoltages(Model &model);

} // namespace kestrune
