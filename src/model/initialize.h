#pragma once

namespace kestrune {

// Brings the whole model to the state of simulated time 0: non-finite
// constants, the infinite limits, registration, and every state's initial
// value. A hosted block's failure stays in the model's errorStatus.
void modelInitialize();

} // namespace kestrune
