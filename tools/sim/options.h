// Command-line options of kestrune-sim and their validation.
#pragma once

#include "master/session.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::sim {

struct Options {
    std::string fmu; // the unit's .fmu archive

    double duration = 1.0; // simulated time, s
    double step = 1e-4;    // communication step, s

    // Balanced three-phase grid on vr 0..2, given as line-to-line rms volts.
    std::optional<double> gridVoltage;
    double gridFrequency = 60.0;   // Hz
    double gridAngleDegrees = 0.0; // added to every phase angle

    std::optional<double> dcVoltage; // vr 6
    // Constant values per input vr 0..6; they override the sources above.
    std::array<std::optional<double>, master::INPUT_COUNT> constants{};

    std::string output = "kestrune-sim.csv";
    std::optional<double> outputInterval; // s; unset: every communication step

    bool verbose = false;

    // Derived by the parser from the values above once they are valid.
    std::int32_t baseStepsPerStep = 20; // step / 5e-6
    std::int64_t stepCount = 10000;     // duration / step
    std::int64_t stepsPerOutputRow = 1; // outputInterval / step
};

struct ParseResult {
    enum class Action { Run, Help, Error };
    Action action = Action::Error;
    Options options;
    std::string error; // set when action is Error: one line, without the program name
};

// Parses the arguments that follow the program name. Each option takes its
// value as the next argument or after '=' (--step=1e-4); one argument that is
// no option names the .fmu. Later occurrences
// of an option replace earlier ones.
ParseResult parseOptions(const std::vector<std::string_view> &args, std::string_view defaultFmu);

// The --help text.
std::string usage(std::string_view program, std::string_view defaultFmu);

// A finite real number that fills the whole text (an optional leading '+'
// is allowed); nullopt for anything else, NaN and infinities included.
std::optional<double> parseReal(std::string_view text);

} // namespace kestrune::sim
