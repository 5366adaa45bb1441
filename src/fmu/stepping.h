// One base step as the master sees it, and the output snapshot that decides
// which output values the master reads after it.
#pragma once

namespace kestrune {

struct Fmu2Instance;

// Sent, with the function's name, when a step is asked of a model whose
// hosted blocks are not running.
inline constexpr const char *NOT_INITIALIZED_FORMAT =
    "%s: the model is not initialized. Call fmi2EnterInitializationMode first.";

// True while the model's hosted blocks are started: after a complete model
// initialization and before the next termination. No base step may run
// otherwise, since the blocks' memory is missing or released.
bool modelReadyToStep(const Fmu2Instance *instance);

// Copies the 12 output slots into the current instance's snapshot; the model
// step calls it once, at the end of its output phase.
void snapshotOutputs();

// Writes the current instance's snapshot back into the 12 output slots.
void restoreOutputs();

// One base step of the model, then the snapshot written back, so the master
// reads the outputs of that step's output phase.
void stepAndPublish();

} // namespace kestrune
