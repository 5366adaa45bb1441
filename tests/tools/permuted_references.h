// The value references of the permuted test unit: each of the unit's own
// (its 21 variables and two clocks) described as (7 * own + 7) mod 29, so
// that no variable keeps its reference and inputs, gates and clocks trade
// places. The test unit's library maps the described references back; the
// test rewrites the real description alike.
#pragma once

#include "identity.h"

#include <cstdint>

namespace kestrune::permuted {

inline constexpr std::uint32_t OWN_REFERENCES = VR_SLOW_RATE_CLOCK + 1;

constexpr std::uint32_t describedReference(std::uint32_t own) {
    return (7 * own + 7) % 29;
}

// The unit's own reference of a described one, or one no variable has.
constexpr std::uint32_t ownReference(std::uint32_t described) {
    for (std::uint32_t own = 0; own < OWN_REFERENCES; ++own) {
        if (describedReference(own) == described)
            return own;
    }
    return 0xFFFFFFFFU;
}

} // namespace kestrune::permuted
