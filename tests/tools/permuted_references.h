// The value references of the permuted test unit: each of the unit's own
// (its 21 variables and two clocks) described as (7 * own + 7) mod 29, so
// that no variable keeps its reference and inputs, gates and clocks trade
// places. The test unit's library maps the described references back; the
// test rewrites the real description alike. Being another unit, it carries
// an identity of its own, which its library takes for the real unit's at
// instantiation.
#pragma once

#include "identity.h"

#include <cstdint>
#include <cstring>

namespace kestrune::permuted {

inline constexpr const char *PERMUTED_GUID = "{3e8a51c4-0b92-4d7f-a6e3-94c2d07b1f85}";
inline constexpr const char *PERMUTED_TOKEN = "{d61f2a08-75e3-49b6-8c1d-2b4e9f037a6c}";

// The identity the real unit's instantiation is given for the one a master
// passes: the real unit's for the permuted unit's own, any other unchanged.
inline const char *ownIdentity(const char *passed, const char *permuted, const char *own) {
    return passed != nullptr && std::strcmp(passed, permuted) == 0 ? own : passed;
}

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
