#include "options.h"
#include "common/number_text.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace kestrune::sim {

namespace {

// How far a step may be from a whole number of base steps: a millionth of a
// base step, the same tolerance the unit applies to fmi2DoStep.
constexpr double STEP_TOLERANCE = BASE_STEP * 1e-6;
// How far a duration or output interval may be from a whole number of
// communication steps, in steps.
constexpr double STEP_COUNT_TOLERANCE = 1e-6;
constexpr double DEFAULT_OUTPUT_INTERVAL = 1e-4; // [s]

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

// Whole number of `unit` in `value`, or nullopt when value is not one
// within tolerance (in units).
std::optional<std::int64_t> wholeMultiple(double value, double unit, double tolerance) {
    const double ratio = value / unit;
    if (!(ratio < 9.0e15))
        return std::nullopt;
    const double rounded = std::round(ratio);
    if (std::fabs(ratio - rounded) > tolerance)
        return std::nullopt;
    return static_cast<std::int64_t>(rounded);
}

class Parser {
  public:
    Parser(const std::vector<std::string_view> &args, std::string_view defaultFmu,
           std::string_view defaultScenarioDir, std::string_view defaultScheduledFmu)
        : args_(args), defaultScheduledFmu_(defaultScheduledFmu) {
        result_.options.fmu = std::string(defaultFmu);
        result_.options.scenarioDir = std::string(defaultScenarioDir);
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

    std::optional<std::string> takeText(const OptionWord &word, std::string_view what) {
        const std::optional<std::string_view> text = takeValue(word);
        if (!text)
            return std::nullopt;
        if (text->empty()) {
            fail(std::string(word.name) + " needs a non-empty " + std::string(what));
            return std::nullopt;
        }
        return std::string(*text);
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

    void flag(const OptionWord &word, bool &target) {
        if (word.value)
            fail(std::string(word.name) + " takes no value");
        target = true;
    }

    void parseOne() {
        const std::string_view arg = args_[index_++];
        const OptionWord word = splitOption(arg);
        Options &o = result_.options;

        if (word.name == "-h" || word.name == "--help") {
            help_ = true;
        } else if (word.name == "--verbose") {
            flag(word, o.verbose);
        } else if (word.name == "--no-plot") {
            bool noPlot = false;
            flag(word, noPlot);
            o.plot = false;
        } else if (word.name == "--list-scenarios") {
            flag(word, o.listScenarios);
        } else if (word.name == "--fmu") {
            if (auto text = takeText(word, "path")) {
                o.fmu = *text;
                fmuChosen_ = true;
            }
        } else if (word.name == "--scenario") {
            if (auto text = takeText(word, "name or path"))
                o.scenario = *text;
        } else if (word.name == "--scenario-dir") {
            if (auto text = takeText(word, "path"))
                o.scenarioDir = *text;
        } else if (word.name == "--output-dir") {
            if (auto text = takeText(word, "path"))
                o.outputDir = *text;
        } else if (word.name == "--duration") {
            if (auto v = takeReal(word, "seconds"))
                o.duration = *v;
        } else if (word.name == "--step") {
            if (auto v = takeReal(word, "seconds")) {
                o.step = *v;
                o.stepGiven = true;
            }
        } else if (word.name == "--output-interval") {
            if (auto v = takeReal(word, "seconds"))
                o.outputInterval = *v;
        } else if (word.name == "--interface") {
            if (auto text = takeText(word, "co-simulation or scheduled")) {
                if (*text == "scheduled" || *text == "co-simulation")
                    o.scheduled = *text == "scheduled";
                else
                    fail("--interface is co-simulation or scheduled, not '" + std::string(*text) + "'");
            }
        } else if (word.name == "--coupling") {
            if (auto text = takeText(word, "sequential or jacobi")) {
                if (*text == "sequential" || *text == "jacobi")
                    o.coupling = *text == "jacobi" ? Coupling::Jacobi : Coupling::Sequential;
                else
                    fail("--coupling is sequential or jacobi, not '" + std::string(*text) + "'");
            }
        } else if (word.name == "--plant") {
            if (auto text = takeText(word, "native, fmu or a .fmu path")) {
                o.plant = PlantChoice{};
                if (*text == "fmu")
                    o.plant.fmu = true;
                else if (text->ends_with(".fmu"))
                    o.plant = PlantChoice{.fmu = true, .plantFmu = *text, .plantName = {}};
                else if (*text != "native")
                    fail("--plant is native, fmu or the path of a plant .fmu, not '" + *text + "'");
            }
        } else if (word.name == "--export-ssp") {
            parseExportSsp(word);
        } else if (word.name == "--real-time") {
            parseRealTime(word);
        } else if (word.name == "--set") {
            if (auto text = takeValue(word))
                parseOverride(*text);
        } else if (word.name.starts_with("-")) {
            fail("unknown option " + std::string(word.name));
        } else if (arg.ends_with(".ssp")) {
            if (!o.ssp.empty())
                fail("unexpected argument '" + std::string(arg) + "' (one .ssp only)");
            o.ssp = std::string(arg);
        } else if (!fmuGivenAsArgument_) {
            fmuGivenAsArgument_ = true;
            if (arg.empty())
                fail("the .fmu path must not be empty");
            o.fmu = std::string(arg);
            o.fmuPositional = true;
            fmuChosen_ = true;
        } else {
            fail("unexpected argument '" + std::string(arg) + "' (one .fmu only; options start with --)");
        }
    }

    // --export-ssp alone writes into the output folder; a folder after it
    // (or after '=') is where the .ssp goes.
    void parseExportSsp(const OptionWord &word) {
        Options &o = result_.options;
        o.exportSsp = true;
        if (word.value) {
            o.exportDir = std::string(*word.value);
        } else if (index_ < args_.size() && !args_[index_].starts_with("-") &&
                   !args_[index_].ends_with(".fmu") && !args_[index_].ends_with(".ssp")) {
            o.exportDir = std::string(args_[index_++]);
        }
    }

    // --real-time alone paces at real time; a number after it (or after
    // '=') is the factor.
    void parseRealTime(const OptionWord &word) {
        Options &o = result_.options;
        std::optional<std::string_view> text = word.value;
        if (!text && index_ < args_.size() && parseReal(args_[index_]))
            text = args_[index_++];
        if (!text) {
            o.realTime = 1.0;
            return;
        }
        const std::optional<double> factor = parseReal(*text);
        if (!factor || !(*factor > 0.0))
            fail("--real-time expects a factor of real time above 0 (0.5 is half speed), not '" +
                 std::string(*text) + "'");
        else
            o.realTime = *factor;
    }

    void parseOverride(std::string_view text) {
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) {
            fail("--set expects KEY=VALUE with KEY a plant parameter, not '" + std::string(text) + "'");
            return;
        }
        const std::string_view key = text.substr(0, equals);
        const std::string_view value = text.substr(equals + 1);
        if (std::string problem = checkOverrideKey(key); !problem.empty()) {
            fail("--set: " + problem);
            return;
        }
        // The value's form, on a scratch scenario; the converter and event
        // indices are checked against the scenario once it is read.
        Scenario scratch;
        const std::string_view plainKey =
            key.starts_with("converters[") ? key.substr(key.find("].") + 2) : key;
        std::string problem;
        if (key.starts_with("grid."))
            problem = applyOverride(scratch, key, value);
        else if (key.starts_with("events["))
            problem = parseReal(value)
                          ? ""
                          : std::string(key) + " takes a finite number, not '" + std::string(value) + "'";
        else
            problem = setParameter(scratch.parameters, plainKey, value);
        if (!problem.empty()) {
            fail("--set: " + problem);
            return;
        }
        result_.options.overrides.emplace_back(std::string(key), std::string(value));
    }

    bool validate() {
        Options &o = result_.options;
        if (o.scheduled && !fmuChosen_ && !defaultScheduledFmu_.empty())
            o.fmu = std::string(defaultScheduledFmu_);

        if (!(o.step > 0.0))
            return fail("--step must be positive (got " + numberText(o.step) + ")");
        const double baseSteps = o.step / BASE_STEP;
        constexpr double MAX_BASE_STEPS = std::numeric_limits<std::int32_t>::max();
        if (baseSteps > MAX_BASE_STEPS)
            return fail("--step " + numberText(o.step) + " s is too long for one fmi2DoStep (at most " +
                        numberText(MAX_BASE_STEPS * BASE_STEP) + " s)");
        const double rounded = std::round(baseSteps);
        if (rounded < 1.0 || std::fabs(o.step - rounded * BASE_STEP) > STEP_TOLERANCE) {
            const double below = std::floor(baseSteps);
            const std::string nearest = below < 1.0 ? "the shortest is 5e-06"
                                                    : "nearest: " + numberText(below * BASE_STEP) + " or " +
                                                          numberText((below + 1.0) * BASE_STEP);
            return fail(
                "--step " + numberText(o.step) + " s is " + numberText(baseSteps) +
                " base steps; the unit advances in base steps of 5e-06 s, so the communication step must "
                "be a whole number of them (" +
                nearest + ")");
        }
        o.baseStepsPerStep = static_cast<std::int32_t>(rounded);

        if (o.exportSsp && !o.ssp.empty())
            return fail("--export-ssp writes a scenario's closed loop; " + o.ssp + " is an .ssp already");
        if (!o.ssp.empty() && fmuChosen_)
            return fail(o.ssp + " runs the unit archives it holds; a unit archive (" + o.fmu +
                        ") does not apply to it");
        if (o.duration && !(*o.duration > 0.0))
            return fail("--duration must be positive (got " + numberText(*o.duration) + ")");
        if (o.outputInterval && !(*o.outputInterval > 0.0))
            return fail("--output-interval must be positive (got " + numberText(*o.outputInterval) + ")");
        return true;
    }

    const std::vector<std::string_view> &args_;
    std::string_view defaultScheduledFmu_;
    std::size_t index_ = 0;
    ParseResult result_;
    bool failed_ = false;
    bool help_ = false;
    bool fmuGivenAsArgument_ = false;
    bool fmuChosen_ = false; // by --fmu or as an argument
};

} // namespace

ParseResult parseOptions(const std::vector<std::string_view> &args, std::string_view defaultFmu,
                         std::string_view defaultScenarioDir, std::string_view defaultScheduledFmu) {
    return Parser(args, defaultFmu, defaultScenarioDir, defaultScheduledFmu).run();
}

std::string planRun(const Options &options, RunPlan &plan) {
    Scenario scenario;
    if (std::string problem = loadScenario(options.scenario, options.scenarioDir, scenario); !problem.empty())
        return problem;
    return planRun(options, std::move(scenario), plan);
}

const char *couplingName(Coupling coupling) {
    return coupling == Coupling::Jacobi ? "jacobi" : "sequential";
}

std::string planRun(const Options &options, Scenario scenario, RunPlan &plan) {
    RunPlan result;
    for (const auto &[key, value] : options.overrides)
        if (std::string problem = applyOverride(scenario, key, value); !problem.empty())
            return "--set: " + problem;
    if (std::string problem = validateScenario(scenario); !problem.empty())
        return (options.overrides.empty() ? scenario.source + ": " : std::string("--set: ")) + problem;

    if (options.duration) {
        scenario.duration = *options.duration;
        std::vector<ScenarioEvent> kept;
        for (const ScenarioEvent &event : scenario.events)
            (event.time < scenario.duration ? kept : result.droppedEvents).push_back(event);
        scenario.events = std::move(kept);
    }

    result.step = options.step;
    result.baseStepsPerStep = options.baseStepsPerStep;
    result.scheduled = options.scheduled;
    result.coupling = options.coupling;
    result.plant = options.plant;
    result.realTime = options.realTime;
    const std::optional<std::int64_t> steps =
        wholeMultiple(scenario.duration, options.step, STEP_COUNT_TOLERANCE);
    if (!steps || *steps < 1)
        return "the duration " + numberText(scenario.duration) + " s is " +
               numberText(scenario.duration / options.step) + " communication steps of " +
               numberText(options.step) + " s; it must be a whole number of them (at least one)";
    result.stepCount = *steps;

    if (options.outputInterval) {
        const std::optional<std::int64_t> perRow =
            wholeMultiple(*options.outputInterval, options.step, STEP_COUNT_TOLERANCE);
        if (!perRow || *perRow < 1)
            return "--output-interval " + numberText(*options.outputInterval) + " s is " +
                   numberText(*options.outputInterval / options.step) + " communication steps of " +
                   numberText(options.step) + " s; it must be a whole number of them (at least one)";
        result.stepsPerRow = *perRow;
    } else {
        result.stepsPerRow = std::max<std::int64_t>(1, std::llround(DEFAULT_OUTPUT_INTERVAL / options.step));
    }
    result.scenario = std::move(scenario);
    plan = std::move(result);
    return "";
}

std::string usage(std::string_view program, std::string_view defaultFmu, std::string_view defaultScenarioDir,
                  std::string_view defaultScheduledFmu) {
    std::string text;
    text += "Usage: ";
    text += program;
    text += " [options] [UNIT.fmu]\n       ";
    text += program;
    text += " [options] FILE.ssp\n";
    text += R"(
Closes the loop between the Kestrune co-simulation unit and a plant: a grid
with scheduled events, a series R-L, a transformer, the three-level converter
its gates drive, the DC link and a DC load. It unpacks the .fmu, reads its
modelDescription.xml, loads the library for this platform, finds the
variables by name and drives the unit through the fmi2 functions only. It
writes a CSV of the plant's signals, the figures of each segment (on the
terminal and as JSON) and a plot drawn by gnuplot.

Unit:
  UNIT.fmu, --fmu PATH      the unit's .fmu archive
                            (default: )";
    text += defaultFmu;
    if (!defaultScheduledFmu.empty()) {
        text += ";\n                            with --interface scheduled: ";
        text += defaultScheduledFmu;
    }
    text += R"()

Scenario:
  --scenario NAME|FILE.json a shipped scenario by name, or a scenario file
                            (default: startup500)
  --scenario-dir DIR        where names are looked up
                            (default: )";
    text += defaultScenarioDir;
    text += R"()
  --list-scenarios          list the scenarios there and exit
  --duration SECONDS        replaces the scenario's duration; events at or
                            after the new end are left out
  --set KEY=VALUE           replaces a plant parameter; repeatable. KEY sets
                            it for every converter, converters[J].KEY for
                            converter J only (from 0); grid.scr=R and
                            grid.xOverR=X put the grid behind an impedance;
                            events[I].time=T and events[I].value=V change
                            the scenario's event I (from 0). Keys:
)";
    for (const ParameterKey &key : parameterKeys()) {
        std::string line = "                              ";
        line += key.key;
        if (*key.unit != '\0')
            line += std::string(" [") + key.unit + "]";
        line.resize(std::max<std::size_t>(line.size() + 1, 50), ' ');
        text += line + key.meaning + "\n";
    }
    text += R"(
SSP:
  --export-ssp [DIR]        write the scenario's closed loop as DIR/NAME.ssp
                            (default DIR: the output folder) with the unit
                            archive (--fmu) and the plant archive (--plant
                            PATH, else Kestrune-plant.fmu), and do not run it
  FILE.ssp                  run an .ssp (a bare name is also looked up among
                            the shipped ones: load_step.ssp, pair_scr5.ssp).
                            The closed loop (a plant wired to a unit per
                            converter) runs as a scenario, with its figures,
                            plot and JSON, on the plant archive the file
                            holds; any other system runs through a generic
                            fixed-step runner that writes every connector to
                            NAME.csv. The step is the file's, unless --step.

Interface:
  --interface NAME          co-simulation (default) or scheduled: an FMI 3.0
                            archive that offers scheduled execution
                            (Kestrune-fmi3-scheduled.fmu), its 5e-6 s and
                            1e-4 s partitions activated by the runner in
                            time and priority order; the figures equal
                            co-simulation's

Loop:
  --coupling NAME           sequential (default): the units step on the
                            plant's latest measurements, the plant steps and
                            takes their new gates at its step's end; jacobi:
                            every participant steps on the values of the
                            previous exchange, then all outputs are read and
                            all inputs set, every input 0 until the first
                            exchange (as generic masters and SSP runners do)
  --plant native|fmu|PATH   the plant: native (default, linked in), or a
                            plant archive (fmu: Kestrune-plant.fmu, found
                            like the unit's) driven through its fmi2
                            functions, the figures then sampled at the
                            communication points
  --real-time [FACTOR]      pace the loop to the wall clock at FACTOR times
                            real time (default 1; 0.5 is half speed); the
                            summary counts the steps that finished late

Time:
  --step SECONDS            communication step, the size of each fmi2DoStep
                            (default 5e-6, the unit's base step). A longer
                            step holds the gates over it while the plant
                            still advances per 5e-6 s: it samples the
                            modulation and distorts the run several-fold
                            (a warning says so). It must be a whole number
                            of base steps, and the duration a whole number
                            of steps.

Output:
  --output-dir DIR          where NAME.csv, NAME.json, NAME.gp, NAME.png and
                            NAME.svg go, NAME being the scenario's name
                            (default: out)
  --output-interval SECONDS time between CSV rows, a whole number of
                            communication steps (default 1e-4)
  --no-plot                 do not run gnuplot
  --verbose                 print every log message of the unit to stderr
                            (the unit is instantiated with logging on).
                            Without it, warnings and errors are printed.
  -h, --help                show this help and exit

Options take their value as the next argument or after '=' (--step=1e-4).

Each communication step k, at t_k = k * step, writes the plant's seven
measurements, calls fmi2DoStep(t_k, step), reads the 12 gates and advances
the plant over the step with the gates read one step earlier; the first
gates come from initialization mode, where the measurements at t = 0 are
written.

A run that diverges (a converter current above 10 pu, 6804 A, or a DC link
outside 50-1500 V) stops there; its figures cover the time up to the stop,
and the summary says when and why it stopped. That is a result about the
controller: the run counts as completed.

Exit status: 0 for a completed run (also one that stopped as diverged, and
without gnuplot); 1 when the archive, the unit, the plant or an output
fails, or when the gates were illegal on more than a tenth of a converter's
base steps; 2 for invalid options, scenarios or overrides; 130 or 143 when
interrupted by SIGINT or SIGTERM and 70 when out of memory, in both cases
with its temporary folders and partial files removed.
)";
    return text;
}

} // namespace kestrune::sim
