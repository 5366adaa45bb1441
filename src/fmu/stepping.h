// One base step as the master sees it, and the output snapshot that decides
// which output values the master reads after it.
#pragma once

namespace kestrune {

// Copies the 12 output slots into the current instance's snapshot; the model
// step calls it once, at the end of its output phase.
void snapshotOutputs();

// Writes the current instance's snapshot back into the 12 output slots.
void restoreOutputs();

// One base step of the model, then the snapshot written back, so the master
// reads the outputs of that step's output phase.
void stepAndPublish();

} // namespace kestrune
