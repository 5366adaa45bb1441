// A closed-loop scenario: the plant's parameters, the grid and load events
// and the duration, read from a small JSON file (format in
// the README), with the command line's overrides on top.
#pragma once

#include "plant/plant.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::sim {

// An event as the user writes it: a phase jump's value is in degrees here and
// turned into radians only for the plant.
struct Scenario;

// A harmonic's phase is in degrees here too.
struct ScenarioEvent {
    double time = 0.0; // [s]
    plant::EventKind kind = plant::EventKind::Frequency;
    // [Hz], [deg], factor of the nominal amplitude, [W], a dip's depth h, or
    // a frequency ramp's rate [Hz/s]
    double value = 0.0;
    int converter = -1;                     // the converter a load event concerns; -1: every converter
    plant::DipType dip = plant::DipType::A; // dip and profile
    int special = 0;                        // dip and profile: the special phase, 0 a, 1 b, 2 c
    double target = 0.0;                    // frequency ramp: "to" [Hz]
    std::vector<plant::ProfilePoint> profile{};
    std::vector<plant::Harmonic> harmonics{};
};

// "A" to "G".
const char *dipTypeName(plant::DipType type);

// A frequency ramp whose rate points away from its "to", given the
// frequency the events before it leave at its time: the first such event's
// index and what is wrong, or nullopt.
struct EventProblem {
    std::size_t index;
    std::string where; // "rate"
    std::string what;
};
std::optional<EventProblem> rampProblem(const Scenario &scenario);

// The grid behind the PCC: stiff without a short-circuit ratio.
struct GridSection {
    std::optional<double> scr; // short-circuit ratio against the converters' rating, > 0
    double xOverR = 10.0;      // X/R of the grid impedance, >= 0
};

struct Scenario {
    std::string name;        // names the output files: letters, digits, '_' and '-'
    std::string description; // one line for the summary
    std::string source;      // the file it was read from
    double duration = 0.0;   // [s]
    // The grid's values (gridPhasePeak, gridFrequency, gridAngle) and every
    // converter's defaults.
    plant::PlantParameters parameters;
    GridSection grid;
    // Each converter's parameters, the grid's values aside; empty: one
    // converter with `parameters`.
    std::vector<plant::PlantParameters> converters;
    std::vector<ScenarioEvent> events; // in time order
};

// The converters a scenario runs: `converters`, or one from `parameters`.
std::vector<plant::PlantParameters> converterParameters(const Scenario &scenario);
std::size_t converterCount(const Scenario &scenario);
// The grid impedance the scenario's grid section gives for its converters.
plant::GridImpedance scenarioImpedance(const Scenario &scenario);

// Applies one --set: KEY (every converter, or the grid for its own keys),
// converters[J].KEY (converter J only), grid.scr or grid.xOverR. Returns ""
// or what is wrong (a key that does not exist, a converter index beyond the
// list, a value that is no number); ranges are checked by validateScenario.
std::string applyOverride(Scenario &scenario, std::string_view key, std::string_view text);
// Whether a --set key has a form applyOverride can take, before any
// scenario is read; "" or what is wrong.
std::string checkOverrideKey(std::string_view key);

// "" when every parameter of every converter and the grid is in its range,
// else the first that is not, by its place ("converters[1].capacitance
// must be positive ...").
std::string validateScenario(const Scenario &scenario);

// "frequency", "phase_jump", "sag", "load", "dip", "profile", "harmonics",
// "frequency_ramp".
const char *eventKindName(plant::EventKind kind);

// Whether a parameter key is the grid's (the same for every converter).
bool isGridKey(std::string_view key);

// The plant parameters a scenario or --set may name, with the units they are
// written in: the keys of plant::PlantParameters, gridAngle in degrees.
struct ParameterKey {
    const char *key;
    const char *unit;
    const char *meaning;
};
const std::vector<ParameterKey> &parameterKeys();
bool isParameterKey(std::string_view key);

// A finite real number that fills the whole text (an optional leading '+'
// is allowed); nullopt for anything else, NaN and infinities included.
std::optional<double> parseReal(std::string_view text);

// Sets one parameter from its text form as on the command line ("300e3";
// "true"/"false"/"1"/"0" for splitLink). Returns "" or what is wrong; the
// range is checked by validateParameters.
std::string setParameter(plant::PlantParameters &parameters, std::string_view key, std::string_view text);

// A parameter's value in the units it is written in (gridAngle in degrees,
// splitLink as 0 or 1).
double parameterValue(const plant::PlantParameters &parameters, std::string_view key);

// "" when every parameter is finite and within its range, else the first
// that is not.
std::string validateParameters(const plant::PlantParameters &parameters);

// Reads a scenario from JSON text; source names it in messages. Returns ""
// and fills scenario, or one line saying what is wrong.
std::string parseScenario(const std::string &text, const std::string &source, Scenario &scenario);

// Finds and reads a scenario: a name without '/' and without ".json" is
// looked up as directory/NAME.json, anything else is read as a file path.
std::string loadScenario(const std::string &nameOrPath, const std::string &directory, Scenario &scenario);

// The names of the scenarios in a directory (its *.json files), sorted.
std::vector<std::string> scenarioNames(const std::string &directory);

// The events as the plant takes them (phase jumps in radians).
std::vector<plant::GridEvent> plantEvents(const Scenario &scenario);

} // namespace kestrune::sim
