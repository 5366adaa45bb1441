#include "inputs.h"

#include <cmath>
#include <numbers>

namespace kestrune::sim {

master::Inputs inputsAt(const Options &options, double t) {
    master::Inputs inputs{};

    if (options.gridVoltage) {
        // Line-to-line rms to phase peak: V * sqrt(2) / sqrt(3).
        const double amplitude = *options.gridVoltage * std::sqrt(2.0 / 3.0);
        const double theta = 2.0 * std::numbers::pi * options.gridFrequency * t +
                             options.gridAngleDegrees * (std::numbers::pi / 180.0);
        const double shift = 2.0 * std::numbers::pi / 3.0;
        inputs[0] = amplitude * std::sin(theta);
        inputs[1] = amplitude * std::sin(theta - shift);
        inputs[2] = amplitude * std::sin(theta + shift);
    }
    if (options.dcVoltage)
        inputs[6] = *options.dcVoltage;

    for (std::size_t vr = 0; vr < inputs.size(); ++vr)
        if (options.constants[vr])
            inputs[vr] = *options.constants[vr];
    return inputs;
}

} // namespace kestrune::sim
