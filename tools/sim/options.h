// Command-line options of kestrune-sim, their validation, and the run they
// describe once the scenario is read.
#pragma once

#include "scenario.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrune::sim {

// The order in which the participants exchange values at a communication
// point. Sequential: the units step on the plant's latest outputs, then the
// plant steps and takes the units' new gates at its step's end. Jacobi: every
// participant steps on the values of the previous exchange, then all outputs
// are read, then all inputs set (every input 0 until the first exchange).
enum class Coupling { Sequential, Jacobi };
const char *couplingName(Coupling coupling);

// The plant the units close the loop with: the native one linked in, or a
// plant archive (plantFmu names it; empty: the default archive).
struct PlantChoice {
    bool fmu = false;
    std::string plantFmu;
    // How the summary and the JSON name the plant archive; empty: plantFmu.
    // A plant inside an .ssp is unpacked to a temporary folder, and named
    // by the .ssp and its place in it instead.
    std::string plantName;
    const std::string &name() const { return plantName.empty() ? plantFmu : plantName; }
};

struct Options {
    std::string fmu;                     // the unit's .fmu archive
    bool fmuPositional = false;          // fmu came from an argument without an option
    std::string scenario = "startup500"; // a name in scenarioDir, or a .json path
    std::string scenarioDir;             // where names are looked up

    std::optional<double> duration; // [s] replaces the scenario's
    // --set KEY=VALUE in the order given; keys and value forms are checked
    // while parsing, ranges once applied to the scenario.
    std::vector<std::pair<std::string, std::string>> overrides;

    // Drives the FMI 3.0 edition through scheduled execution (its two
    // partitions activated by the runner's scheduler) instead of co-simulation.
    bool scheduled = false;

    double step = 5e-6;                   // [s] communication step
    bool stepGiven = false;               // --step was given (it then replaces an .ssp's step)
    std::int32_t baseStepsPerStep = 1;    // step / 5e-6, derived by the parser
    std::optional<double> outputInterval; // [s] unset: 1e-4, or every step when longer

    Coupling coupling = Coupling::Sequential;
    PlantChoice plant;
    // Paces the loop to the wall clock at this factor of real time; 0: as
    // fast as it goes.
    double realTime = 0.0;

    std::string outputDir = "out";
    bool plot = true;
    bool verbose = false;
    bool listScenarios = false;

    // --export-ssp [DIR]: write the scenario's closed loop as DIR/NAME.ssp
    // (DIR empty: outputDir) instead of running it.
    bool exportSsp = false;
    std::string exportDir;
    // An .ssp to run instead of a scenario (an argument ending in .ssp), and
    // the folder of the shipped ones, where a bare file name is looked up.
    std::string ssp;
    std::string sspDir;
    // The plant archive an export embeds unless --plant names one.
    std::string defaultPlantFmu;
};

struct ParseResult {
    enum class Action { Run, Help, Error };
    Action action = Action::Error;
    Options options;
    std::string error; // set when action is Error: one line, without the program name
};

// Parses the arguments that follow the program name. Each option takes its
// value as the next argument or after '=' (--step=1e-4); one argument that is
// no option names the .fmu. Later occurrences of an option replace earlier
// ones, except --set, which adds up. Without an archive named, the unit is
// defaultFmu, or with --interface scheduled defaultScheduledFmu when given.
ParseResult parseOptions(const std::vector<std::string_view> &args, std::string_view defaultFmu,
                         std::string_view defaultScenarioDir, std::string_view defaultScheduledFmu = {});

// The --help text.
std::string usage(std::string_view program, std::string_view defaultFmu, std::string_view defaultScenarioDir,
                  std::string_view defaultScheduledFmu = {});

// The run the options describe: the scenario with the overrides applied and
// the step counts.
struct RunPlan {
    Scenario scenario;
    std::vector<ScenarioEvent> droppedEvents; // at or after a shortened --duration
    std::int32_t baseStepsPerStep = 1;
    std::int64_t stepCount = 0;   // communication steps
    std::int64_t stepsPerRow = 1; // communication steps per CSV row
    double step = 5e-6;           // [s]
    bool scheduled = false;       // --interface scheduled
    Coupling coupling = Coupling::Sequential;
    PlantChoice plant;
    double realTime = 0.0; // pacing factor; 0: none
};

// Reads the scenario and applies --duration and --set. Returns "" and fills
// plan, or one line saying what is wrong.
std::string planRun(const Options &options, RunPlan &plan);
// The same for a scenario already read.
std::string planRun(const Options &options, Scenario scenario, RunPlan &plan);

} // namespace kestrune::sim
