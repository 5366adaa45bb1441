#pragma once

namespace kestrune {

struct Model;

// Brings the whole model to the state of simulated time 0: releases what the
// hosted blocks of a previous run still hold, builds the non-finite constants
// and the infinite limits, registers the model record, sets up and starts the
// five delay lines and gives every state its initial value. A hosted block's
// failure stops it at once and stays in the model's errorStatus; only a
// complete run marks the children as started.
void modelInitialize(Model &model);

} // namespace kestrune
