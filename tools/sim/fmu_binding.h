// How kestrune-sim ties a unit's model description to what it drives: the
// variables are found by name, and the loaded library must agree with the
// description before a run starts.
#pragma once

#include "master/fmu_archive.h"
#include "master/session.h"

#include <string>

namespace kestrune::sim {

// The seven input names in the order of master::Inputs, and the twelve gates.
extern const std::array<const char *, INPUT_COUNT> INPUT_NAMES;
extern const std::array<const char *, GATE_COUNT> GATE_NAMES;

// Checks that the description is Kestrune's (its GUID, or the FMI 3.0
// edition's instantiation token) and finds the inputs,
// gates and time by name, with the causality each must have. Returns "" and
// fills bindings on success, else what is wrong.
std::string bindVariables(const master::ModelDescription &description, master::VariableBindings &bindings);

// Right after a successful instantiation of a freshly loaded library: every
// real variable of the description can be read, and every input and
// parameter holds its described start value. Returns "" when the library
// agrees with the description, else the first disagreement.
std::string checkAgainstUnit(const master::ModelDescription &description, master::UnitSession &session);

} // namespace kestrune::sim
