// kestrune-sim's option parser and the run the options make of a scenario.
#include "options.h"

#include <gtest/gtest.h>

namespace kestrune::sim {
namespace {

using Action = ParseResult::Action;

ParseResult parse(std::vector<std::string_view> args) {
    return parseOptions(args, "/default/unit.fmu", "/default/scenarios");
}

// Parses and expects an error whose text contains `fragment`.
void expectError(std::vector<std::string_view> args, std::string_view fragment) {
    const ParseResult result = parse(args);
    ASSERT_EQ(result.action, Action::Error) << "accepted: " << args.back();
    EXPECT_NE(result.error.find(fragment), std::string::npos) << result.error;
}

Scenario scenarioWithLoadStep() {
    Scenario s;
    s.name = "s";
    s.source = "s.json";
    s.duration = 0.6;
    s.events = {{0.1, plant::EventKind::Sag, 0.9}, {0.3, plant::EventKind::Load, 4e5}};
    return s;
}

TEST(SimOptions, DefaultsAndCustomValues) {
    const ParseResult result = parse({});
    ASSERT_EQ(result.action, Action::Run) << result.error;
    const Options &o = result.options;
    EXPECT_EQ(o.fmu, "/default/unit.fmu");
    EXPECT_EQ(o.scenario, "startup500");
    EXPECT_EQ(o.scenarioDir, "/default/scenarios");
    EXPECT_EQ(o.outputDir, "out");
    EXPECT_EQ(o.baseStepsPerStep, 1);
    EXPECT_FALSE(o.duration);
    EXPECT_TRUE(o.plot);
    EXPECT_FALSE(o.verbose);

    const ParseResult custom =
        parse({"--step=5e-5", "--duration", "0.002", "--output-interval", "2e-4", "--fmu", "x.fmu",
               "--output-dir=o", "--verbose", "--no-plot", "--scenario", "load_step", "--scenario-dir", "d",
               "--set", "loadPower=300e3", "--set=precharge=400", "--set", "loadPower=250e3"});
    ASSERT_EQ(custom.action, Action::Run) << custom.error;
    const Options &c = custom.options;
    EXPECT_EQ(c.baseStepsPerStep, 10);
    EXPECT_EQ(c.duration, 0.002);
    EXPECT_EQ(c.fmu, "x.fmu");
    EXPECT_EQ(c.outputDir, "o");
    EXPECT_EQ(c.scenario, "load_step");
    EXPECT_EQ(c.scenarioDir, "d");
    EXPECT_TRUE(c.verbose);
    EXPECT_FALSE(c.plot);
    // --set adds up, in order: the later loadPower wins when applied.
    ASSERT_EQ(c.overrides.size(), 3u);
    RunPlan plan;
    ASSERT_EQ(planRun(c, scenarioWithLoadStep(), plan), "");
    EXPECT_EQ(plan.scenario.parameters.loadPower, 250e3);
    EXPECT_EQ(plan.scenario.parameters.precharge, 400.0);
    EXPECT_EQ(plan.stepCount, 40);
    EXPECT_EQ(plan.stepsPerRow, 4);
}

// --interface scheduled takes the scheduled-execution archive unless an
// archive is named, before or after it.
TEST(SimOptions, ScheduledInterfaceDefaultsToItsOwnArchive) {
    const std::pair<std::vector<std::string_view>, const char *> cases[] = {
        {{"--interface", "scheduled"}, "/default/scheduled.fmu"},
        {{"--interface", "co-simulation"}, "/default/unit.fmu"},
        {{"x.fmu", "--interface", "scheduled"}, "x.fmu"},
        {{"--interface", "scheduled", "--fmu", "y.fmu"}, "y.fmu"},
    };
    for (const auto &[args, fmu] : cases) {
        const ParseResult result =
            parseOptions(args, "/default/unit.fmu", "/default/scenarios", "/default/scheduled.fmu");
        ASSERT_EQ(result.action, Action::Run) << result.error;
        EXPECT_EQ(result.options.fmu, fmu) << args.size();
    }
}

// The loop's options: the coupling, the plant and the pacing, each carried
// into the plan; a bare --real-time paces at real time and leaves a
// following option or archive alone.
TEST(SimOptions, CouplingPlantAndPacing) {
    struct Case {
        std::vector<std::string_view> args;
        Coupling coupling;
        bool plantFmu;
        const char *plantPath;
        double realTime;
        const char *fmu;
    };
    const Case cases[] = {
        {{}, Coupling::Sequential, false, "", 0.0, "/default/unit.fmu"},
        {{"--coupling", "jacobi"}, Coupling::Jacobi, false, "", 0.0, "/default/unit.fmu"},
        {{"--coupling=jacobi", "--coupling", "sequential"},
         Coupling::Sequential,
         false,
         "",
         0.0,
         "/default/unit.fmu"},
        {{"--plant", "fmu"}, Coupling::Sequential, true, "", 0.0, "/default/unit.fmu"},
        {{"--plant=p/Plant.fmu", "--plant", "native"},
         Coupling::Sequential,
         false,
         "",
         0.0,
         "/default/unit.fmu"},
        {{"--plant", "p/Plant.fmu"}, Coupling::Sequential, true, "p/Plant.fmu", 0.0, "/default/unit.fmu"},
        {{"--real-time"}, Coupling::Sequential, false, "", 1.0, "/default/unit.fmu"},
        {{"--real-time", "0.5"}, Coupling::Sequential, false, "", 0.5, "/default/unit.fmu"},
        {{"--real-time=2"}, Coupling::Sequential, false, "", 2.0, "/default/unit.fmu"},
        {{"--real-time", "--coupling", "jacobi"}, Coupling::Jacobi, false, "", 1.0, "/default/unit.fmu"},
        {{"--real-time", "x.fmu"}, Coupling::Sequential, false, "", 1.0, "x.fmu"},
    };
    for (const Case &c : cases) {
        const ParseResult result = parse(c.args);
        ASSERT_EQ(result.action, Action::Run) << result.error;
        RunPlan plan;
        ASSERT_EQ(planRun(result.options, scenarioWithLoadStep(), plan), "");
        EXPECT_EQ(plan.coupling, c.coupling) << c.args.size();
        EXPECT_EQ(plan.plant.fmu, c.plantFmu);
        EXPECT_EQ(plan.plant.plantFmu, c.plantPath);
        EXPECT_EQ(plan.realTime, c.realTime);
        EXPECT_EQ(result.options.fmu, c.fmu);
    }
    const std::pair<std::vector<std::string_view>, const char *> bad[] = {
        {{"--coupling", "gauss"}, "--coupling is sequential or jacobi, not 'gauss'"},
        {{"--plant", "plant.so"}, "--plant is native, fmu or the path of a plant .fmu, not 'plant.so'"},
        {{"--real-time=0"}, "--real-time expects a factor of real time above 0 (0.5 is half speed), not '0'"},
        {{"--real-time", "-1"},
         "--real-time expects a factor of real time above 0 (0.5 is half speed), not '-1'"},
    };
    for (const auto &[args, error] : bad) {
        const ParseResult result = parse(args);
        EXPECT_EQ(result.action, Action::Error);
        EXPECT_EQ(result.error, error);
    }
}

TEST(SimOptions, StepMustBeWholeBaseSteps) {
    expectError({"--step", "7.5e-6"}, "1.5 base steps");
    expectError({"--step", "1e-6"}, "whole number");
    expectError({"--step", "0"}, "positive");
    expectError({"--step", "-1e-4"}, "positive");
    expectError({"--step", "20000"}, "too long");
    // Within a millionth of a base step counts as whole, as in the unit.
    const ParseResult nearly = parse({"--step", "5.0000005e-6"});
    ASSERT_EQ(nearly.action, Action::Run) << nearly.error;
    EXPECT_EQ(nearly.options.baseStepsPerStep, 1);
}

TEST(SimOptions, NumbersAndOverridesAreValidatedFully) {
    for (std::string_view bad : {"1e-4x", "", "nan", "inf", "-inf", "1e", "0x10", " 1", "1 ", "++1", "1,5"})
        expectError({"--duration", bad}, "finite number");
    EXPECT_EQ(parseReal("+0.5"), 0.5);
    EXPECT_EQ(parseReal("-2.5e3"), -2500.0);
    expectError({"--duration", "-1"}, "positive");
    expectError({"--output-interval", "0"}, "positive");
    expectError({"--set", "loadPower"}, "KEY=VALUE");
    expectError({"--set", "loadpower=1"}, "'loadpower' is not a plant parameter");
    expectError({"--set", "loadPower=inf"}, "finite number");
    expectError({"--set", "splitLink=maybe"}, "true or false");
    expectError({"--set", "converters[0].gridAngle=3"}, "the grid's");
    expectError({"--set", "converters[1].loadPower=x"}, "finite number");
    expectError({"--set", "grid.scr=soft"}, "finite number");
    expectError({"--set", "events[0].value=deep"}, "finite number");
    expectError({"--set", "events[0].kind=sag"}, "events[I].time or events[I].value");
    EXPECT_EQ(parse({"--set", "converters[1].loadPower=300e3", "--set", "grid.scr=2"}).action, Action::Run);
    EXPECT_EQ(parse({"--set", "events[1].time=0.5"}).action, Action::Run);
}

TEST(SimOptions, MalformedCommandLines) {
    expectError({"--step"}, "needs a value");
    expectError({"--bogus"}, "unknown option --bogus");
    expectError({"--grid-voltage", "600"}, "unknown option"); // the open-loop inputs are gone
    expectError({"a.fmu", "stray"}, "unexpected argument");
    expectError({"--verbose=yes"}, "takes no value");
    expectError({"--fmu="}, "non-empty");
    expectError({"--output-dir", ""}, "non-empty");
    const ParseResult positional = parse({"--step", "1e-4", "unit.fmu"});
    ASSERT_EQ(positional.action, Action::Run) << positional.error;
    EXPECT_EQ(positional.options.fmu, "unit.fmu");
    // Help wins over anything after it, even an invalid option.
    EXPECT_EQ(parse({"--step", "1e-4", "--help", "--bogus"}).action, Action::Help);
    EXPECT_EQ(parse({"-h"}).action, Action::Help);
}

TEST(SimPlan, DurationStepAndOutputIntervalAgree) {
    struct Case {
        std::vector<std::string_view> args;
        const char *fragment; // "" when the plan is valid
        std::int64_t steps;
        std::int64_t perRow;
    };
    const Case cases[] = {
        {{}, "", 120000, 20},                                           // 5 us steps, rows every 1e-4 s
        {{"--step", "1e-4"}, "", 6000, 1},                              // rows every step
        {{"--step", "2e-4"}, "", 3000, 1},                              // a step longer than the default row
        {{"--step", "1e-4", "--output-interval", "5e-4"}, "", 6000, 5}, //
        {{"--duration", "0.00015", "--step", "1e-4"}, "1.5 communication steps", 0, 0},
        {{"--output-interval", "1.5e-4", "--step", "1e-4"}, "1.5 communication steps", 0, 0},
        {{"--set", "capacitance=0"}, "--set: capacitance must be positive", 0, 0},
        {{"--set", "gridFrequency=-60"}, "gridFrequency must be positive", 0, 0},
    };
    for (const Case &c : cases) {
        const ParseResult parsed = parse(c.args);
        ASSERT_EQ(parsed.action, Action::Run) << parsed.error;
        RunPlan plan;
        const std::string problem = planRun(parsed.options, scenarioWithLoadStep(), plan);
        if (*c.fragment == '\0') {
            ASSERT_EQ(problem, "");
            EXPECT_EQ(plan.stepCount, c.steps);
            EXPECT_EQ(plan.stepsPerRow, c.perRow);
        } else {
            EXPECT_NE(problem.find(c.fragment), std::string::npos) << problem;
        }
    }
}

TEST(SimPlan, AShorterDurationLeavesLaterEventsOut) {
    const ParseResult parsed = parse({"--duration", "0.3"});
    ASSERT_EQ(parsed.action, Action::Run);
    RunPlan plan;
    ASSERT_EQ(planRun(parsed.options, scenarioWithLoadStep(), plan), "");
    EXPECT_EQ(plan.scenario.duration, 0.3);
    ASSERT_EQ(plan.scenario.events.size(), 1u);
    EXPECT_EQ(plan.scenario.events[0].kind, plant::EventKind::Sag);
    ASSERT_EQ(plan.droppedEvents.size(), 1u); // the load step at 0.3 s is at the end, not before it
    EXPECT_EQ(plan.droppedEvents[0].kind, plant::EventKind::Load);
}

} // namespace
} // namespace kestrune::sim
