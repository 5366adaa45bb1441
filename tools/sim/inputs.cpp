#include "inputs.h"

#include "master/grid.h"

#include <algorithm>
#include <numbers>

namespace kestrune::sim {

master::Inputs inputsAt(const Options &options, double t) {
    master::Inputs inputs{};

    if (options.gridVoltage) {
        const master::BalancedGrid grid{.lineToLineRms = *options.gridVoltage,
                                        .frequency = options.gridFrequency,
                                        .angle = options.gridAngleDegrees * (std::numbers::pi / 180.0)};
        const master::Inputs voltages = master::gridInputs(grid, t);
        std::copy_n(voltages.begin(), 3, inputs.begin());
    }
    if (options.dcVoltage)
        inputs[6] = *options.dcVoltage;

    for (std::size_t vr = 0; vr < inputs.size(); ++vr)
        if (options.constants[vr])
            inputs[vr] = *options.constants[vr];
    return inputs;
}

} // namespace kestrune::sim
