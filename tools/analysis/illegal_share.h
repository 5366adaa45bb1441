// When a run's illegal gate patterns are so many that it is no run of the
// controller at all: the one rule kestrune-sim's exit, the sweep's verdict
// and the battery's criteria apply alike.
//
// The plant counts an illegal pattern per leg and base step (plant.h); a
// working modulator makes none. Under jacobi coupling the plant's first
// communication step runs on the gates the units hold before their first
// step, which are all off: three illegal legs over that step's base steps (3
// at the base step as communication step). A converter whose illegal
// patterns number more than a tenth of its base steps in the run, and more
// than that start-up allowance (all three legs over one communication step,
// and at least ILLEGAL_FLOOR), is driven by gates the unit does not control:
// a unit bound to the wrong variables, or one that is broken. Its figures
// then say nothing about the controller, so the run fails (kestrune-sim exits
// 1, the sweep's verdict is failed, the battery's test fails) rather than
// being reported as a run, whether it completed or diverged.
#pragma once

#include "figures.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::plant {

inline constexpr double ILLEGAL_SHARE_LIMIT = 0.1; // illegal patterns per base step
inline constexpr std::int64_t ILLEGAL_FLOOR = 100; // the least start-up allowance

struct IllegalShare {
    std::size_t converter = 0;
    std::int64_t illegalPatterns = 0;
    std::int64_t baseSteps = 0; // from the first segment's start to the last one's end
};

// The first converter whose illegal patterns break the rule, from each
// converter's figures per segment and the communication step in base steps;
// none when every converter keeps it.
std::optional<IllegalShare> pervasiveIllegalPatterns(const std::vector<std::vector<SegmentFigures>> &figures,
                                                     std::int64_t baseStepsPerStep);

// The communication step in base steps of a run that reached `simulated`
// seconds in `steps` communication steps; 1 for a run of none.
std::int64_t baseStepsPerStep(double simulated, std::int64_t steps);

// One line: which converter, how many patterns in how many base steps, and
// the rule.
std::string illegalShareText(const IllegalShare &share);

} // namespace kestrune::plant
