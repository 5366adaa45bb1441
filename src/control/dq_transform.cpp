#include "control/dq_transform.h"

#include "model/numeric.h"
#include "model/records.h"

namespace kestrune {

namespace {

constexpr double DIRECT_FRAME = 1.0;  // first axis at the angle
constexpr double LAGGING_FRAME = 2.0; // first axis a quarter turn behind it

double rowTimes(const double row[3], const double abc[3]) {
    return row[0] * abc[0] + row[1] * abc[1] + row[2] * abc[2];
}

} // namespace

DqTransform currentTransform(Model &model) {
    return {&model.parameters.control.currentTransform, &model.signals.control.currentTransform};
}

DqTransform gridVoltageTransform(Model &model) {
    return {&model.parameters.control.gridVoltageTransform, &model.signals.control.gridVoltageTransform};
}

DqTransform agcTransform(Model &model) {
    return {&model.parameters.control.agcTransform, &model.signals.control.agcTransform};
}

DqTransform phaseDetectorTransform(Model &model) {
    return {&model.parameters.control.phaseDetectorTransform, &model.signals.control.phaseDetectorTransform};
}

AlphaBeta clarke(const DqTransform &transform, const double abc[3]) {
    const DqTransformParameters &p = *transform.parameters;
    return {p.clarkeGain * rowTimes(p.clarkeMatrix[0], abc), p.clarkeGain * rowTimes(p.clarkeMatrix[1], abc)};
}

Dq rotate(const DqTransform &transform, AlphaBeta in, double angle) {
    const DqTransformParameters &p = *transform.parameters;
    DqTransformSignals &s = *transform.signals;
    const double alphaBeta[2] = {in.alpha, in.beta};
    const bool direct = p.frameAlignment == DIRECT_FRAME;
    rotateToDq(direct, alphaBeta, angle, s.direct);
    rotateToDqLagging(p.frameAlignment == LAGGING_FRAME, alphaBeta, angle, s.lagging);
    const double *selected = direct ? s.direct : s.lagging;
    return {selected[0], selected[1]};
}

Dq dqTransform(const DqTransform &transform, const double abc[3], double angle) {
    return rotate(transform, clarke(transform, abc), angle);
}

} // namespace kestrune
