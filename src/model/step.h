// One base step of the controller and its 20:1 rate schedule.
#pragma once

namespace kestrune {

struct ModelRecord;

// Runs one base step (5 µs): entry, output phase, output snapshot, update
// phase and time keeping, with the slow rate on every 20th step.
void modelStep();

// Moves the 20:1 counter one base step on and flags whether the coming step
// is a slow-rate hit.
void advanceRateCounter();

// Time at the start of the present base step, from the 64-bit base tick [s].
double baseStepTime(const ModelRecord &m);

} // namespace kestrune
