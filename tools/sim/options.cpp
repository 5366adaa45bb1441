#include "options.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <sstream>

namespace kestrune::sim {

namespace {

using master::BASE_STEP;

// How far a step may be from a whole number of base steps: a millionth of a
// base step, the same tolerance the unit applies to fmi2DoStep.
constexpr double STEP_TOLERANCE = BASE_STEP * 1e-6;
// How far a duration or output interval may be from a whole number of
// communication steps, in steps.
constexpr double STEP_COUNT_TOLERANCE = 1e-6;

std::string number(double value) {
    std::ostringstream text;
    text.precision(12);
    text << value;
    return text.str();
}

// Splits "--name=value" into its parts; value is nullopt without '='.
struct OptionWord {
    std::string_view name;
    std::optional<std::string_view> value;
};

OptionWord splitOption(std::string_view word) {
    const std::size_t equals = word.find('=');
    if (equals == std::string_view::npos || !word.starts_with("--"))
        return {word, std::nullopt};
    return {word.substr(0, equals), word.substr(equals + 1)};
}

class Parser {
  public:
    Parser(const std::vector<std::string_view> &args, std::string_view defaultFmu) : args_(args) {
        result_.options.fmu = std::string(defaultFmu);
    }

    ParseResult run() {
        while (index_ < args_.size() && !failed_ && !help_)
            parseOne();
        if (help_) {
            result_.action = ParseResult::Action::Help;
            result_.error.clear();
        } else if (!failed_ && validate()) {
            result_.action = ParseResult::Action::Run;
        } else {
            result_.action = ParseResult::Action::Error;
        }
        return result_;
    }

  private:
    bool fail(std::string message) {
        if (!failed_) {
            failed_ = true;
            result_.error = std::move(message);
        }
        return false;
    }

    // The value of the option just read: after '=' or the next argument.
    std::optional<std::string_view> takeValue(const OptionWord &word) {
        if (word.value)
            return word.value;
        if (index_ >= args_.size()) {
            fail(std::string(word.name) + " needs a value");
            return std::nullopt;
        }
        return args_[index_++];
    }

    std::optional<double> takeReal(const OptionWord &word, std::string_view unitName) {
        const std::optional<std::string_view> text = takeValue(word);
        if (!text)
            return std::nullopt;
        const std::optional<double> value = parseReal(*text);
        if (!value)
            fail(std::string(word.name) + " expects a finite number of " + std::string(unitName) + ", not '" +
                 std::string(*text) + "'");
        return value;
    }

    void parseOne() {
        const std::string_view arg = args_[index_++];
        const OptionWord word = splitOption(arg);
        Options &o = result_.options;

        if (word.name == "-h" || word.name == "--help") {
            help_ = true;
        } else if (word.name == "--verbose") {
            if (word.value)
                fail("--verbose takes no value");
            o.verbose = true;
        } else if (word.name == "--fmu") {
            if (auto text = takeValue(word))
                setFmu(*text);
        } else if (word.name == "--output") {
            if (auto text = takeValue(word)) {
                if (text->empty())
                    fail("--output needs a non-empty path");
                o.output = std::string(*text);
            }
        } else if (word.name == "--duration") {
            if (auto v = takeReal(word, "seconds"))
                o.duration = *v;
        } else if (word.name == "--step") {
            if (auto v = takeReal(word, "seconds"))
                o.step = *v;
        } else if (word.name == "--output-interval") {
            if (auto v = takeReal(word, "seconds"))
                o.outputInterval = *v;
        } else if (word.name == "--grid-voltage") {
            if (auto v = takeReal(word, "volts"))
                o.gridVoltage = *v;
        } else if (word.name == "--grid-frequency") {
            if (auto v = takeReal(word, "hertz")) {
                o.gridFrequency = *v;
                gridDetailGiven_ = "--grid-frequency";
            }
        } else if (word.name == "--grid-angle") {
            if (auto v = takeReal(word, "degrees")) {
                o.gridAngleDegrees = *v;
                gridDetailGiven_ = "--grid-angle";
            }
        } else if (word.name == "--dc-voltage") {
            if (auto v = takeReal(word, "volts"))
                o.dcVoltage = *v;
        } else if (word.name == "--constant") {
            if (auto text = takeValue(word))
                parseConstant(*text);
        } else if (word.name.starts_with("-")) {
            fail("unknown option " + std::string(word.name) + "");
        } else if (!fmuGivenAsArgument_) {
            fmuGivenAsArgument_ = true;
            setFmu(arg);
        } else {
            fail("unexpected argument '" + std::string(arg) + "' (one .fmu only; options start with --)");
        }
    }

    void setFmu(std::string_view path) {
        if (path.empty())
            fail("the .fmu path must not be empty");
        result_.options.fmu = std::string(path);
    }

    void parseConstant(std::string_view text) {
        const std::string bad =
            "--constant expects VR=VALUE with VR an input value reference 0..6 and VALUE a "
            "finite number, not '" +
            std::string(text) + "'";
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) {
            fail(bad);
            return;
        }
        const std::string_view vrText = text.substr(0, equals);
        unsigned vr = 0;
        const auto [end, ec] = std::from_chars(vrText.data(), vrText.data() + vrText.size(), vr);
        const std::optional<double> value = parseReal(text.substr(equals + 1));
        if (vrText.empty() || ec != std::errc{} || end != vrText.data() + vrText.size() || !value) {
            fail(bad);
            return;
        }
        if (vr >= static_cast<unsigned>(master::INPUT_COUNT)) {
            fail("--constant: value reference " + std::string(vrText) +
                 " is not an input; inputs are 0..2 grid voltages, 3..5 converter currents, 6 DC voltage");
            return;
        }
        result_.options.constants[vr] = *value;
    }

    // Whole number of `unit` in `value`, or nullopt when value is not one
    // within tolerance (tolerance in the same units as value / unit).
    static std::optional<std::int64_t> wholeMultiple(double value, double unit, double tolerance) {
        const double ratio = value / unit;
        if (!(ratio < 9.0e15))
            return std::nullopt;
        const double rounded = std::round(ratio);
        if (std::fabs(ratio - rounded) > tolerance)
            return std::nullopt;
        return static_cast<std::int64_t>(rounded);
    }

    bool validate() {
        Options &o = result_.options;

        if (!(o.step > 0.0))
            return fail("--step must be positive (got " + number(o.step) + ")");
        const double baseSteps = o.step / BASE_STEP;
        constexpr double MAX_BASE_STEPS = std::numeric_limits<std::int32_t>::max();
        if (baseSteps > MAX_BASE_STEPS)
            return fail("--step " + number(o.step) + " s is too long for one fmi2DoStep (at most " +
                        number(MAX_BASE_STEPS * BASE_STEP) + " s)");
        const double rounded = std::round(baseSteps);
        if (rounded < 1.0 || std::fabs(o.step - rounded * BASE_STEP) > STEP_TOLERANCE) {
            const double below = std::floor(baseSteps);
            const std::string nearest = below < 1.0 ? "the shortest is 5e-06"
                                                    : "nearest: " + number(below * BASE_STEP) + " or " +
                                                          number((below + 1.0) * BASE_STEP);
            return fail(
                "--step " + number(o.step) + " s is " + number(baseSteps) +
                " base steps; the unit advances in base steps of 5e-06 s, so the communication step must "
                "be a whole number of them (" +
                nearest + ")");
        }
        o.baseStepsPerStep = static_cast<std::int32_t>(rounded);

        if (!(o.duration > 0.0))
            return fail("--duration must be positive (got " + number(o.duration) + ")");
        const std::optional<std::int64_t> steps = wholeMultiple(o.duration, o.step, STEP_COUNT_TOLERANCE);
        if (!steps || *steps < 1)
            return fail("--duration " + number(o.duration) + " s is " + number(o.duration / o.step) +
                        " communication steps of " + number(o.step) +
                        " s; it must be a whole number of them (at least one)");
        o.stepCount = *steps;

        o.stepsPerOutputRow = 1;
        if (o.outputInterval) {
            if (!(*o.outputInterval > 0.0))
                return fail("--output-interval must be positive (got " + number(*o.outputInterval) + ")");
            const std::optional<std::int64_t> perRow =
                wholeMultiple(*o.outputInterval, o.step, STEP_COUNT_TOLERANCE);
            if (!perRow || *perRow < 1)
                return fail("--output-interval " + number(*o.outputInterval) + " s is " +
                            number(*o.outputInterval / o.step) + " communication steps of " + number(o.step) +
                            " s; it must be a whole number of them (at least one)");
            o.stepsPerOutputRow = *perRow;
        }

        if (o.gridVoltage) {
            if (*o.gridVoltage < 0.0)
                return fail("--grid-voltage is a line-to-line rms value and must not be negative (got " +
                            number(*o.gridVoltage) + ")");
            if (o.gridFrequency < 0.0)
                return fail("--grid-frequency must not be negative (got " + number(o.gridFrequency) + ")");
        } else if (gridDetailGiven_) {
            return fail(std::string(gridDetailGiven_) + " has no effect without --grid-voltage");
        }
        return true;
    }

    const std::vector<std::string_view> &args_;
    std::size_t index_ = 0;
    ParseResult result_;
    bool failed_ = false;
    bool help_ = false;
    bool fmuGivenAsArgument_ = false;
    const char *gridDetailGiven_ = nullptr;
};

} // namespace

std::optional<double> parseReal(std::string_view text) {
    if (text.starts_with('+'))
        text.remove_prefix(1);
    if (text.empty() || text.front() == '+')
        return std::nullopt;
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

ParseResult parseOptions(const std::vector<std::string_view> &args, std::string_view defaultFmu) {
    return Parser(args, defaultFmu).run();
}

std::string usage(std::string_view program, std::string_view defaultFmu) {
    std::string text;
    text += "Usage: ";
    text += program;
    text += " [options] [UNIT.fmu]\n";
    text += R"(
Runs the Kestrune co-simulation unit on its own, as an FMI 2.0 master does:
unpacks the .fmu, reads its modelDescription.xml, loads the library for this
platform from binaries/, finds the variables by name, feeds the unit
synthetic measurements, advances it with fmi2DoStep and writes its 12 gate
signals to a CSV file.

Unit:
  UNIT.fmu, --fmu PATH      the unit's .fmu archive
                            (default: )";
    text += defaultFmu;
    text += R"()

Time:
  --duration SECONDS        simulated time (default 1.0); must be a whole
                            number of communication steps
  --step SECONDS            communication step, the size of each fmi2DoStep
                            (default 1e-4); must be a positive whole number of
                            the unit's 5e-6 s base steps: 5e-6, 1e-5, ..., 1e-4

Inputs (each input is 0 unless one of these sets it):
  --grid-voltage VOLTS      balanced three-phase grid on vr 0..2 (grid
                            voltages A, B, C), given as line-to-line rms volts V:
                              phase k = V*sqrt(2/3) * sin(2*pi*f*t + phi_k + theta0)
                              phi = 0, -120, +120 degrees for A, B, C
  --grid-frequency HZ       f (default 60; needs --grid-voltage)
  --grid-angle DEGREES      theta0 (default 0; needs --grid-voltage)
  --dc-voltage VOLTS        constant DC-link voltage on vr 6
  --constant VR=VALUE       constant value on input vr 0..6; repeatable;
                            overrides the options above for that vr.
                            0..2 grid voltages A, B, C (V); 3..5 converter
                            currents A, B, C (A); 6 DC voltage (V)

Output:
  --output PATH             CSV file (default: kestrune-sim.csv in the
                            current directory)
  --output-interval SECONDS time between CSV rows; a whole number of
                            communication steps (default: every step)
  --verbose                 print every log message of the unit to stderr;
                            the unit is then instantiated with logging on, so
                            each value access is logged too. Without it, only
                            messages with status fmi2Error are printed.
  -h, --help                show this help and exit

Options take their value as the next argument or after '=' (--step=1e-4).

The inputs for step k are evaluated at t_k = k * step and written before
fmi2DoStep(t_k, step); those for t = 0 are written in initialization mode.
The CSV has the header time,gateA1,...,gateA4,gateB1,...,gateC4 and one row
per output interval: the time at the end of the step and the 12 gates read
after it. The closing summary gives, per gate, the fraction of communication
points at which it was on and the number of changes between them.

Exit status: 0 on success, 1 when unpacking, loading, writing or the unit fails
(a missing or broken archive, no library for this platform, a description that
disagrees with the library),
2 for invalid options.
)";
    return text;
}

} // namespace kestrune::sim
