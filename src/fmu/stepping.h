// When the FMI 2.0 edition may run a base step.
#pragma once

#include "fmu/base_steps.h"

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

} // namespace kestrune
