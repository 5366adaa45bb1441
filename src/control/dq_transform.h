// Three phase values into the frame turning with the phase-locked loop's
// angle. Each call site owns its parameters (matrix, gain, frame alignment)
// and its rotations' held output pairs.
#pragma once

#include "control/control_records.h"

namespace kestrune {

struct Model;

struct DqTransform {
    const DqTransformParameters *parameters;
    DqTransformSignals *signals;
};

// The model's four transforms, in the order the slow step computes them.
DqTransform currentTransform(Model &model);       // converter currents
DqTransform gridVoltageTransform(Model &model);   // grid voltage under "Mean1"
DqTransform agcTransform(Model &model);           // grid voltage under the automatic gain control
DqTransform phaseDetectorTransform(Model &model); // grid voltage under "Variable Frequency Mean value"

struct AlphaBeta {
    double alpha;
    double beta;
};

struct Dq {
    double d;
    double q;
};

// alpha and beta: rows 1 and 2 of the transform's matrix applied to abc,
// times its gain. The zero component is not used.
AlphaBeta clarke(const DqTransform &transform, const double abc[3]);

// Both rotations run, each writing its held pair only when the frame
// alignment selects it; the selected pair is the result.
Dq rotate(const DqTransform &transform, AlphaBeta in, double angle);

// clarke, then rotate.
Dq dqTransform(const DqTransform &transform, const double abc[3], double angle);

} // namespace kestrune
