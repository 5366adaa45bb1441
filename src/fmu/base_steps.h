// What both FMI editions do the same way with a model: run base steps and
// publish their outputs, reach a variable by value reference, and initialize
// the model keeping the inputs the master wrote. The communication-step
// check they share is in step_check.h.
#pragma once

#include "fmu/step_check.h"

#include <cstdint>

namespace kestrune {

struct Model;

// One base step of the model, then the snapshot written back, so the master
// reads the outputs of that step's output phase.
void stepAndPublish(Model &model);

// Runs up to count base steps from time, adding a base step to time after
// each; stops early, before a step, when the model requests a stop or
// carries an error. Returns the number of steps run.
int runBaseSteps(Model &model, int count, double &time);

// The address of the real variable with value reference vr (0 to 20) of a
// model whose instance keeps its time in time.
double *realVariable(Model &model, double &time, unsigned vr);

// Model initialization that keeps the inputs whose bit (value reference k:
// bit k) is set in writtenInputs: registration clears the inputs, but those
// the master wrote since instantiation or its last reset are part of its
// experiment.
void initializeKeepingInputs(Model &model, std::uint32_t writtenInputs);

} // namespace kestrune
