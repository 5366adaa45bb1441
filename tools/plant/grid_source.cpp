#include "grid_source.h"

#include <cmath>
#include <numbers>

namespace kestrune::plant {

std::array<Phasor, 3> dipPhasors(DipType type, double h, int special) {
    const double r3 = std::sqrt(3.0);
    std::array<Phasor, 3> v;
    switch (type) {
    case DipType::A:
        v = {Phasor(h, 0.0), Phasor(-0.5 * h, -r3 / 2.0 * h), Phasor(-0.5 * h, r3 / 2.0 * h)};
        break;
    case DipType::B:
        v = {Phasor(h, 0.0), Phasor(-0.5, -r3 / 2.0), Phasor(-0.5, r3 / 2.0)};
        break;
    case DipType::C:
        v = {Phasor(1.0, 0.0), Phasor(-0.5, -r3 / 2.0 * h), Phasor(-0.5, r3 / 2.0 * h)};
        break;
    case DipType::D:
        v = {Phasor(h, 0.0), Phasor(-0.5 * h, -r3 / 2.0), Phasor(-0.5 * h, r3 / 2.0)};
        break;
    case DipType::E:
        v = {Phasor(1.0, 0.0), Phasor(-0.5 * h, -r3 / 2.0 * h), Phasor(-0.5 * h, r3 / 2.0 * h)};
        break;
    case DipType::F:
        v = {Phasor(h, 0.0), Phasor(-0.5 * h, -r3 / 6.0 * (2.0 + h)), Phasor(-0.5 * h, r3 / 6.0 * (2.0 + h))};
        break;
    case DipType::G:
        v = {Phasor((2.0 + h) / 3.0, 0.0), Phasor(-(2.0 + h) / 6.0, -r3 / 2.0 * h),
             Phasor(-(2.0 + h) / 6.0, r3 / 2.0 * h)};
        break;
    }
    special = (special % 3 + 3) % 3;
    if (special == 0) {
        return v;
    }
    // Phase `special` takes phase a's role: the set moves on by `special`
    // phases and turns by -120 degrees per phase, so that h = 1 stays the
    // positive sequence.
    const Phasor turn = std::polar(1.0, -2.0 * std::numbers::pi / 3.0 * static_cast<double>(special));
    std::array<Phasor, 3> turned;
    for (std::size_t k = 0; k < 3; ++k) {
        turned[(k + static_cast<std::size_t>(special)) % 3] = v[k] * turn;
    }
    return turned;
}

SequenceComponents sequenceComponents(const std::array<Phasor, 3> &x) {
    const Phasor a = std::polar(1.0, 2.0 * std::numbers::pi / 3.0);
    const Phasor a2 = a * a;
    return {(x[0] + x[1] + x[2]) / 3.0, (x[0] + a * x[1] + a2 * x[2]) / 3.0,
            (x[0] + a2 * x[1] + a * x[2]) / 3.0};
}

double profileDepth(const std::vector<ProfilePoint> &points, double tau) {
    if (!(tau > points.front().time)) {
        return points.front().depth;
    }
    for (std::size_t i = 1; i < points.size(); ++i) {
        if (tau < points[i].time) {
            const ProfilePoint &a = points[i - 1];
            const ProfilePoint &b = points[i];
            return a.depth + (b.depth - a.depth) * (tau - a.time) / (b.time - a.time);
        }
    }
    return points.back().depth;
}

} // namespace kestrune::plant
