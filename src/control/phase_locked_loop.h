// The phase-locked loop "PLL (3ph)": an angle locked to the grid voltage and
// the measured grid frequency. The phase error is the one-cycle mean of the
// grid voltage's q component in the frame of the angle, optionally divided by
// the voltage magnitude (automatic gain control); a regulator turns it into
// an angular speed, integrated into the angle and, through a rate limiter
// and a low-pass filter, into the frequency.
#pragma once

namespace kestrune {

struct Model;

// Output phase, before any rotation: resets the angle integrator once it has
// passed angleWrap (the first time, to angleInitial) and gives pllAngle.
void pllAngleOutput(Model &model);

// Output phase: the sampled grid voltages in per unit, read by the loop and
// by the regulators.
void pllGridVoltagePu(Model &model);

// Output phase: while agcEnable > 0, the means of the grid voltage's d and q
// components and the gain 1 / magnitude (the two means are re-armed when the
// control becomes active); otherwise the control is inactive and the gain
// keeps its value.
void pllAutomaticGainControl(Model &model, double slowTime);

// Output phase: phase detection, regulator, rate limiter and the frequency
// filter's output and next state.
void pllRegulation(Model &model, double slowTime);

// Update phase pieces, in the places the slow update phase gives them. The
// ones that update means return false when a delay line left an error.
void pllAngleUpdate(Model &model);
void pllFrequencyUpdate(Model &model);
bool pllAgcMeansUpdate(Model &model);
void pllRegulatorUpdate(Model &model);
bool pllPhaseDetectorUpdate(Model &model);
void pllFrequencyFilterUpdate(Model &model);

} // namespace kestrune
