// What both FMI editions do the same way with a model: run base steps and
// publish their outputs, check a communication step against the instance's
// time, reach a variable by value reference, and initialize the model
// keeping the inputs the master wrote.
#pragma once

#include <cstdint>

namespace kestrune {

struct Model;

// One base step of the model, then the snapshot written back, so the master
// reads the outputs of that step's output phase.
void stepAndPublish(Model &model);

// How far a communication point or step size may lie from the instance's
// time or from a whole number of base steps: a millionth of a base step, or,
// once the time is so large that its rounding exceeds that, a few units in
// the last place of the time plus half a unit for each of the base steps
// whose additions built it.
double stepTolerance(double time, int stepsAccumulated);

enum class StepCheck { Accepted, BadStepSize, BadCommunicationPoint };

// A communication step from point t of size h, checked against the
// instance's time (built by stepsAccumulated base steps since it last took
// the master's point): the number of base steps it stands for, or why it is
// refused. Every comparison fails for a NaN.
struct StepPlan {
    StepCheck check;
    int baseSteps;
};
StepPlan planCommunicationStep(double instanceTime, int stepsAccumulated, double t, double h);

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
