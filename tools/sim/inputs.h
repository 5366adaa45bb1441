// The measurements kestrune-sim feeds the unit: a synthetic balanced grid, a
// constant DC voltage and per-input constants, all open loop.
#pragma once

#include "options.h"

namespace kestrune::sim {

// The seven inputs (vr 0..6) at time t, as set up by the options.
master::Inputs inputsAt(const Options &options, double t);

} // namespace kestrune::sim
