// Whether a communication step fits a fixed-step instance: a whole number of
// 5 us base steps, from a point that matches the instance's time up to the
// rounding a master's arithmetic leaves. Both editions of the unit check
// their steps with it, and so does the plant FMU.
#pragma once

namespace kestrune {

// How far a communication point or step size may lie from the instance's
// time or from a whole number of base steps: a millionth of a base step, or,
// once the time is so large that its rounding exceeds that, a few units in
// the last place of the time plus half a unit for each of the base steps
// whose additions built it.
double stepTolerance(double time, int stepsAccumulated);

enum class StepCheck { Accepted, BadStepSize, BadCommunicationPoint };

// A communication step from point t of size h, checked against the
// instance's time (built by stepsAccumulated base steps since it last took
// the master's point): the number of base steps it stands for, or why it is
// refused. Every comparison fails for a NaN.
struct StepPlan {
    StepCheck check;
    int baseSteps;
};
StepPlan planCommunicationStep(double instanceTime, int stepsAccumulated, double t, double h);

} // namespace kestrune
