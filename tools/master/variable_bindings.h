// Where a master finds the unit's variables and clocks, and the identity it
// instantiates with. A master that read a model description binds them by
// name (description_binding.h); without a description, as with a bare
// library, the unit's own value references from fmu/variables.h and
// identity.h are the defaults.
#pragma once

#include "fmu/fmi2.h"
#include "fmu/variables.h"
#include "identity.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune::master {

using Inputs = std::array<double, INPUT_COUNT>;
using Gates = std::array<double, GATE_COUNT>;

// The names a master drives the unit by: the seven inputs in the order of
// Inputs, the twelve gates in the order of Gates, the independent variable,
// the one parameter, and the input clocks of scheduled execution.
inline constexpr std::array<const char *, INPUT_COUNT> INPUT_NAMES{
    "gridVoltageA",      "gridVoltageB",      "gridVoltageC", "converterCurrentA",
    "converterCurrentB", "converterCurrentC", "dcVoltage"};
inline constexpr std::array<const char *, GATE_COUNT> GATE_NAMES{"gateA1", "gateA2", "gateA3", "gateA4",
                                                                 "gateB1", "gateB2", "gateB3", "gateB4",
                                                                 "gateC1", "gateC2", "gateC3", "gateC4"};
inline constexpr const char *TIME_NAME = "time";
inline constexpr const char *MEAN_SAMPLE_TIME_NAME = "meanSampleTime";
inline constexpr const char *BASE_RATE_CLOCK_NAME = "baseRateClock";
inline constexpr const char *SLOW_RATE_CLOCK_NAME = "slowRateClock";

// The unit's own value reference of each named variable, from the table its
// libraries are built from; a name the table lacks stops the build.
template <std::size_t N>
constexpr std::array<fmi2ValueReference, N> unitReferences(const std::array<const char *, N> &names) {
    std::array<fmi2ValueReference, N> references{};
    for (std::size_t i = 0; i < N; ++i) {
        std::size_t k = 0;
        while (std::string_view(VARIABLES[k].name) != names[i])
            ++k; // past the table's end: not a constant expression
        references[i] = VARIABLES[k].vr;
    }
    return references;
}
inline constexpr std::array<fmi2ValueReference, INPUT_COUNT> UNIT_INPUTS = unitReferences(INPUT_NAMES);
inline constexpr std::array<fmi2ValueReference, GATE_COUNT> UNIT_GATES = unitReferences(GATE_NAMES);

// A periodic input clock: what activates its partition, and how often.
struct ClockBinding {
    fmi2ValueReference vr = 0;
    double period = 0.0; // [s]
};

struct VariableBindings {
    std::string guid = MODEL_GUID; // the FMI 2.0 GUID, or the FMI 3.0 instantiation token
    std::array<fmi2ValueReference, INPUT_COUNT> inputs = UNIT_INPUTS;
    std::array<fmi2ValueReference, GATE_COUNT> gates = UNIT_GATES;
    fmi2ValueReference time = VR_TIME;
    // Absent where a description declares no such parameter.
    std::optional<fmi2ValueReference> meanSampleTime = VR_MEAN_SAMPLE_TIME;
    // Only scheduled execution activates clocks; a description bound for
    // co-simulation leaves them absent.
    std::optional<ClockBinding> baseRateClock = ClockBinding{VR_BASE_RATE_CLOCK, BASE_STEP};
    std::optional<ClockBinding> slowRateClock = ClockBinding{VR_SLOW_RATE_CLOCK, SLOW_STEP};
};

} // namespace kestrune::master
