// One base step of the controller and its 20:1 rate schedule.
#pragma once

namespace kestrune {

struct Model;
struct ModelRecord;

// Runs one base step (5 µs): entry, output phase, output snapshot, update
// phase and time keeping, with the slow rate on every 20th step.
void modelStep(Model &model);

// Copies the 12 gate outputs into the model's output snapshot, when it has
// one; the model step calls it once, at the end of its output phase.
void snapshotOutputs(Model &model);

// Writes the model's output snapshot back into the 12 gate outputs, so that
// what a reader sees after a whole step is that step's output phase,
// whatever its update phase left there.
void restoreOutputs(Model &model);

// Moves the 20:1 counter one base step on and flags whether the coming step
// is a slow-rate hit.
void advanceRateCounter(ModelRecord &m);

// Time at the start of the present base step, from the 64-bit base tick [s].
double baseStepTime(const ModelRecord &m);

} // namespace kestrune
