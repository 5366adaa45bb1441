// What the plant's grid source makes beyond a balanced sine: the seven
// types of unbalanced dip as phasors, their sequence components, the points
// of a voltage-time profile and the harmonics of a background distortion.
#pragma once

#include <array>
#include <complex>
#include <vector>

namespace kestrune::plant {

// The seven types of voltage dip, as unbalanced dips are classified when
// seen through transformers (A three-phase, B single-phase to ground, C and D
// phase to phase, E to G two-phase to ground seen through one or two
// transformers).
enum class DipType { A, B, C, D, E, F, G };

using Phasor = std::complex<double>;

// The source's fundamental phasors of a dip of retained voltage h, in pu of
// the nominal phase voltage, phase a at angle 0 for h = 1 (phase b at -120,
// c at +120 degrees). special: the phase the dip singles out, 0 (a), 1 (b)
// or 2 (c): the set of phase a's case turned by -120 degrees per phase.
// Every type at h = 1 is the balanced positive sequence.
std::array<Phasor, 3> dipPhasors(DipType type, double depth, int special = 0);

// Zero, positive and negative sequence of three phasors:
// X0 = (Xa + Xb + Xc) / 3, X1 = (Xa + a Xb + a^2 Xc) / 3, X2 = (Xa + a^2 Xb + a Xc) / 3
// with a = exp(j 120 deg).
struct SequenceComponents {
    Phasor zero;
    Phasor positive;
    Phasor negative;
};
SequenceComponents sequenceComponents(const std::array<Phasor, 3> &phasors);

// A point of a dip's voltage-time profile: the retained voltage h at a time
// from the profile's start.
struct ProfilePoint {
    double time; // [s] from the event
    double depth;
};

// One harmonic of the source: phase k carries
// A * magnitude * sin(order * (theta - k * 120 deg) + phase), a positive,
// negative or zero sequence as order mod 3 is 1, 2 or 0.
struct Harmonic {
    int order;        // >= 2
    double magnitude; // of the nominal fundamental
    double phase;     // [rad]
};

// A profile's h at tau seconds from its start: the points joined by straight
// lines, the first point's before it, the last point's after it. At least
// one point.
double profileDepth(const std::vector<ProfilePoint> &points, double tau);

} // namespace kestrune::plant
