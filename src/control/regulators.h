// The regulating core: the DC-voltage regulator sets the d-axis current
// reference, two current regulators hold the converter's d and q currents
// (measured in the frame of pllAngle) at their references, and their
// outputs, with grid-voltage feed-forward and cross-coupling, divided by the
// mean DC-link voltage, give the dq voltage reference. That reference,
// limited in magnitude, becomes the three-phase modulation reference.
#pragma once

namespace kestrune {

struct Model;

// Output phase, before the angle is known: per-unit currents to alpha, beta.
void currentsToAlphaBeta(Model &model);

// Output phase, after the angle output: Id, Iq.
void currentsToDq(Model &model);

// Output phase: idReference from the DC-voltage error, then the terms of
// both current regulators and the integrator inputs.
void currentRegulation(Model &model);

// Output phase: "Mean" of the clamped DC-link voltage.
void dcVoltageMeanOutput(Model &model, double slowTime);

// Output phase: "Mean1" of the grid voltage's d component.
void gridVoltageMeanOutput(Model &model, double slowTime);

// Output phase: the limited regulator outputs into the dq voltage reference.
void voltageReferences(Model &model);

// Output phase, last: modulationReferenceAbc from the dq voltage reference
// and pllAngle, at most amplitude modulationMagnitudeMax.
void modulationReference(Model &model);

// Update phase: the DC-voltage and current regulators' states.
void regulatorUpdate(Model &model);

// Update phase: "Mean" and "Mean1". Each returns false when its delay line
// left an error.
bool dcVoltageMeanUpdate(Model &model);
bool gridVoltageMeanUpdate(Model &model);

} // namespace kestrune
