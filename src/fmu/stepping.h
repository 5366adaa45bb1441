// One base step as the master sees it, and the tolerance of the checks on a
// communication step.
#pragma once

namespace kestrune {

struct Model;
struct Fmu2Instance;

// Sent, with the function's name, when a step is asked of a model whose
// hosted blocks are not running.
inline constexpr const char *NOT_INITIALIZED_FORMAT =
    "%s: the model is not initialized. Call fmi2EnterInitializationMode first.";

// True while the model's hosted blocks are started: after a complete model
// initialization and before the next termination. No base step may run
// otherwise, since the blocks' memory is missing or released.
bool modelReadyToStep(const Fmu2Instance *instance);

// One base step of the model, then the snapshot written back, so the master
// reads the outputs of that step's output phase. The snapshot is the current
// instance's, whichever instance asks for the step.
void stepAndPublish(Model &model);

// How far a communication point or step size may lie from the instance's
// time or from a whole number of base steps: a millionth of a base step, or,
// once the time is so large that its rounding exceeds that, a few units in
// the last place of the time plus half a unit for each of the base steps
// whose additions built it.
double stepTolerance(double time, int stepsAccumulated);

} // namespace kestrune
