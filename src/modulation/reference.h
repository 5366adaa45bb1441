// The modulator's leg references: the slow rate's modulation reference,
// carried into the base rate one slow period late, or the internal 60 Hz
// three-phase sine source.
#pragma once

namespace kestrune {

struct Model;

// Per-unit references of legs a, b, c for the present base step only.
struct LegReferences {
    double abc[3];
};

// Entry of a slow-rate hit: heldReferenceAbc takes over the reference the
// previous slow step stored.
void transferReferenceIn(Model &model);

// Update phase of a slow-rate hit: stores modulationReferenceAbc for the
// next slow period.
void transferReferenceOut(Model &model);

// Output phase of every base step at base time t: seeds the sine source on
// its first step (whatever the source), then gives the leg references from
// heldReferenceAbc when referenceSource truncates to 1, else from the sine
// source.
LegReferences selectLegReferences(Model &model, double t);

// Update phase of every base step: rotates the sine source's states by one
// base step, whichever source is selected.
void advanceSineGenerator(Model &model);

} // namespace kestrune
