// When a run counts as diverged, in words: the rule the runner's loop and
// the plant FMU both stop on.
#pragma once

#include "plant.h"

#include <string>

namespace kestrune::plant {

// Why the plant's state counts as diverged (a converter current beyond
// 10 pu, a DC link outside 50-1500 V), or "" while it does not.
std::string divergence(const Plant &plant);

} // namespace kestrune::plant
