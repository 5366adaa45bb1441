// kestrune-describe --check: the rules of an FMI 2.0 or 3.0 model
// description that its XML schema cannot express, checked as an importer or
// a validator would before loading the unit:
// - value references: unique among all variables (FMI 3.0; FMI 2.0 allows
//   aliases, variables of one type that share one);
// - causality and variability: an allowed pair, exactly one independent
//   variable (FMI 3.0; at most one in FMI 2.0) without start or initial,
//   continuous only for floating-point variables;
// - initial and start: initial allowed for the causality and variability
//   (FMI 2.0 allows none on inputs, FMI 3.0 only "exact"), start present
//   where initial is exact or approx or the variable is an input (FMI 2.0
//   and 3.0) or a parameter (FMI 3.0), absent where it is calculated;
// - clocks: every value reference in clocks= names a Clock, clocked
//   variables are discrete or tunable, an FMU with clocks offers event mode
//   in <CoSimulation>, input clocks of scheduled execution have a priority,
//   output clocks are triggered and have none, a constant clock has a
//   positive intervalDecimal;
// - ModelStructure: every output listed once among the Outputs and nothing
//   else; InitialUnknowns without duplicates, holding every unclocked output
//   whose initial is approx or calculated and every calculated parameter,
//   and nothing but those and state derivatives. Clocked variables stay out
//   of the InitialUnknowns: the standard leaves listing them to the FMU and
//   validators refuse it, and Kestrune sets them at their clock's first
//   activation.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace kestrune::describe {

// Every broken rule in the description text, one line each; none when it
// keeps them all. A text that is no model description gives one line that
// says so.
std::vector<std::string> checkDescription(const std::string &xml);

// Checks each file, printing "FILE: ok" to out or "FILE: LINE" to err for
// every broken rule. Returns 0 when every file keeps every rule, else 1.
int checkFiles(const std::vector<std::string> &paths, std::ostream &out, std::ostream &err);

} // namespace kestrune::describe
