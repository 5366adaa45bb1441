#include "grid.h"

#include <cmath>
#include <numbers>

namespace kestrune::master {

Inputs gridInputs(const BalancedGrid &grid, double t) {
    // Line-to-line rms to phase peak: V * sqrt(2) / sqrt(3).
    const double amplitude = grid.lineToLineRms * std::sqrt(2.0 / 3.0);
    const double theta = 2.0 * std::numbers::pi * grid.frequency * t + grid.angle;
    const double shift = 2.0 * std::numbers::pi / 3.0;
    return {amplitude * std::sin(theta),
            amplitude * std::sin(theta - shift),
            amplitude * std::sin(theta + shift),
            grid.currentPeak * std::sin(theta),
            grid.currentPeak * std::sin(theta - shift),
            grid.currentPeak * std::sin(theta + shift),
            grid.dcVoltage};
}

} // namespace kestrune::master
