// Who the unit is and how it keeps time, written once: the identities each
// edition is instantiated with, the base step and the slow rate, the shape
// of its interface and the value references of its two clocks. The model,
// both FMI layers, kestrune-describe and the tools read them from here. No
// FMI type appears, so that the model code can include it.
#pragma once

#include <cstdint>

namespace kestrune {

// The FMI 2.0 edition's GUID and the FMI 3.0 edition's instantiation token:
// each library refuses any other at instantiation, and each description
// carries its edition's.
inline constexpr const char *MODEL_GUID = "{5c0f3a91-7e2d-4b68-9d14-a2c7e85f0b36}";
inline constexpr const char *INSTANTIATION_TOKEN = "{9b4e6d27-3c81-4f5a-b0d2-6e1a7c94f358}";

// The base step, the period of the measurement filters, the modulator and
// the gates [s]; the slow rate of the phase-locked loop, the means and the
// regulators comes every SLOW_RATE_RATIO base steps.
inline constexpr double BASE_STEP = 5e-6;
inline constexpr int SLOW_RATE_RATIO = 20;
inline constexpr double SLOW_STEP = 1e-4; // [s]
static_assert(SLOW_RATE_RATIO * BASE_STEP == SLOW_STEP);

// Seven measurements in, twelve gate signals out.
inline constexpr int INPUT_COUNT = 7;
inline constexpr int GATE_COUNT = 12;

// Value references of the FMI 3.0 edition's two input clocks of scheduled
// execution, one per rate, after the variables' 0 to 20; their periods are
// BASE_STEP and SLOW_STEP.
inline constexpr std::uint32_t VR_BASE_RATE_CLOCK = 21;
inline constexpr std::uint32_t VR_SLOW_RATE_CLOCK = 22;

} // namespace kestrune
