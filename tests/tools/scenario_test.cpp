// Reading scenario files: the format, its validation, and finding scenarios
// by name.
#include "scenario.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>

namespace kestrune::sim {
namespace {

std::string parse(const std::string &text, Scenario &scenario) {
    return parseScenario(text, "test.json", scenario);
}

TEST(Scenario, ReadsEveryKeyAndConvertsPhaseJumpsToRadians) {
    Scenario s;
    const std::string problem = parse(R"({
        "name": "mixed_1", "description": "all keys", "duration": 0.5,
        "parameters": {"loadPower": 3e5, "gridAngle": 90, "splitLink": true, "precharge": 0},
        "events": [{"time": 0.1, "kind": "frequency", "value": 59.5},
                   {"time": 0.2, "kind": "phase_jump", "value": -30},
                   {"time": 0.2, "kind": "sag", "value": 0},
                   {"value": 1e5, "kind": "load", "time": 0.3}]})",
                                      s);
    ASSERT_EQ(problem, "");
    EXPECT_EQ(s.name, "mixed_1");
    EXPECT_EQ(s.description, "all keys");
    EXPECT_EQ(s.duration, 0.5);
    EXPECT_EQ(s.parameters.loadPower, 3e5);
    EXPECT_DOUBLE_EQ(s.parameters.gridAngle, std::numbers::pi / 2.0);
    EXPECT_DOUBLE_EQ(parameterValue(s.parameters, "gridAngle"), 90.0);
    EXPECT_TRUE(s.parameters.splitLink);
    EXPECT_EQ(s.parameters.capacitance, plant::PlantParameters{}.capacitance); // untouched keys keep defaults
    ASSERT_EQ(s.events.size(), 4u);
    EXPECT_EQ(s.events[1].kind, plant::EventKind::PhaseJump);
    EXPECT_EQ(s.events[1].value, -30.0); // degrees as written
    const std::vector<plant::GridEvent> events = plantEvents(s);
    EXPECT_DOUBLE_EQ(events[1].value, -std::numbers::pi / 6.0);
    EXPECT_EQ(events[0].value, 59.5);
    EXPECT_EQ(events[3].kind, plant::EventKind::Load);
    EXPECT_EQ(events[3].time, 0.3);
}

TEST(Scenario, RejectsBadDocumentsWithTheirPlace) {
    struct Case {
        const char *text;
        const char *fragment;
    };
    const Case cases[] = {
        {R"({"name": "a", "duration": 0.6)", "not valid JSON"},
        {R"([1, 2])", "must be a JSON object"},
        {R"({"duration": 0.6})", "\"name\" is missing"},
        {R"({"name": "a"})", "\"duration\" is missing"},
        {R"({"name": "a", "duration": 0.6, "durration": 1})", "\"durration\" is not a scenario key"},
        {R"({"name": "../evil", "duration": 0.6})", "only letters, digits"},
        {R"({"name": "", "duration": 0.6})", "must not be empty"},
        {R"({"name": 5, "duration": 0.6})", "\"name\" must be a string"},
        {R"({"name": "a", "duration": -0.6})", "\"duration\" must be positive"},
        {R"({"name": "a", "duration": 0})", "\"duration\" must be positive"},
        {R"({"name": "a", "duration": "0.6"})", "\"duration\" must be a number"},
        {R"({"name": "a", "duration": 1e999})", "not valid JSON: number overflow"},
        {R"({"name": "a", "duration": 0.6, "parameters": {"loadpower": 1}})",
         "\"parameters.loadpower\" is not a plant parameter"},
        {R"({"name": "a", "duration": 0.6, "parameters": {"capacitance": 0}})",
         "\"parameters.capacitance\" must be positive"},
        {R"({"name": "a", "duration": 0.6, "parameters": {"loadPower": -1}})", "must not be negative"},
        {R"({"name": "a", "duration": 0.6, "parameters": {"splitLink": 1}})", "must be true or false"},
        {R"({"name": "a", "duration": 0.6, "parameters": [1]})", "must be an object"},
        {R"({"name": "a", "duration": 0.6, "events": {}})", "\"events\" must be an array"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "surge", "value": 1}]})",
         "\"events[0].kind\" \"surge\" is not an event kind"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "load"}]})",
         "\"events[0]\" lacks its value"},
        {R"({"name": "a", "duration": 0.6, "events": [{"kind": "load", "value": 1}]})", "lacks its time"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "load", "value": 1, "x": 0}]})",
         "\"events[0].x\" is not an event key"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.2, "kind": "sag", "value": 0.8},
                                                      {"time": 0.1, "kind": "sag", "value": 1}]})",
         "\"events[1].time\" is 0.1 s, before the event ahead of it"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.6, "kind": "sag", "value": 0.8}]})",
         "not before the end of the run"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": -0.1, "kind": "sag", "value": 0.8}]})",
         "\"events[0].time\" must not be negative"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "frequency", "value": 0}]})",
         "\"events[0].value\" must be positive"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "sag", "value": -0.5}]})",
         "must not be negative"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "load", "value": null}]})",
         "\"events[0].value\" must be a number"},
        // The grid, the converters and the events that name one.
        {R"({"name": "a", "duration": 0.6, "grid": {"scr": 0}})", "\"grid.scr\" must be positive"},
        {R"({"name": "a", "duration": 0.6, "grid": {"scr": -2}})", "\"grid.scr\" must be positive"},
        {R"({"name": "a", "duration": 0.6, "grid": {"scr": 3, "xr": 10}})", "\"grid.xr\" is not a grid key"},
        {R"({"name": "a", "duration": 0.6, "converters": []})", "\"converters\" must be a non-empty array"},
        {R"({"name": "a", "duration": 0.6, "converters": [{}, {"capacitance": -1}]})",
         "\"converters[1].capacitance\" must be positive"},
        {R"({"name": "a", "duration": 0.6, "converters": [{"gridFrequency": 50}]})",
         "\"converters[0].gridFrequency\" is the grid's"},
        {R"({"name": "a", "duration": 0.6, "converters": [{}, {}],
             "events": [{"time": 0.1, "kind": "load", "value": 1, "converter": 2}]})",
         "\"events[0].converter\" is 2, but the scenario has 2 converters"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "load", "value": 1, "converter": 1}]})",
         "\"events[0].converter\" is 1, but the scenario has 1 converter"},
        {R"({"name": "a", "duration": 0.6, "converters": [{}, {}],
             "events": [{"time": 0.1, "kind": "load", "value": 1}]})",
         "\"events[0]\" is a load event of a scenario with several converters"},
        {R"({"name": "a", "duration": 0.6, "converters": [{}, {}],
             "events": [{"time": 0.1, "kind": "sag", "value": 0.5, "converter": 0}]})",
         "\"events[0].converter\" names a converter, but a sag event concerns the whole grid"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "load", "value": 1, "converter": -1}]})",
         "\"events[0].converter\" must be a converter's index"},
    };
    for (const Case &c : cases) {
        Scenario s;
        const std::string problem = parse(c.text, s);
        EXPECT_NE(problem, "") << "accepted: " << c.text;
        EXPECT_NE(problem.find(c.fragment), std::string::npos) << c.text << "\n-> " << problem;
        EXPECT_EQ(problem.rfind("test.json: ", 0), 0u) << problem;
    }
}

TEST(Scenario, ConvertersStartFromTheParametersAndOverridesReachOneOrAll) {
    Scenario s;
    ASSERT_EQ(parse(R"({"name": "pair", "duration": 0.6, "grid": {"scr": 5},
        "converters": [{"precharge": 400}, {"loadPower": 1e5}],
        "parameters": {"loadPower": 3e5, "gridFrequency": 50},
        "events": [{"time": 0.3, "kind": "load", "value": 4e5, "converter": 1}]})",
                    s),
              "");
    ASSERT_EQ(converterCount(s), 2u);
    std::vector<plant::PlantParameters> c = converterParameters(s);
    EXPECT_EQ(c[0].precharge, 400.0);
    EXPECT_EQ(c[0].loadPower, 3e5); // from "parameters", whatever the keys' order
    EXPECT_EQ(c[1].loadPower, 1e5);
    EXPECT_EQ(c[1].gridFrequency, 50.0);
    EXPECT_EQ(s.grid.xOverR, 10.0);
    EXPECT_EQ(plantEvents(s)[0].converter, 1);

    // SCR 5 of two 500 kVA converters: |Z| = 0.072 ohm at X/R 10.
    const plant::GridImpedance z = scenarioImpedance(s);
    EXPECT_NEAR(std::hypot(z.resistance, z.inductance * 2.0 * std::numbers::pi * 60.0), 0.072, 1e-15);
    EXPECT_NEAR(z.inductance * 2.0 * std::numbers::pi * 60.0 / z.resistance, 10.0, 1e-12);
    EXPECT_TRUE(scenarioImpedance(Scenario{}).stiff());

    EXPECT_EQ(applyOverride(s, "converters[1].capacitance", "0.1"), "");
    EXPECT_EQ(applyOverride(s, "precharge", "450"), ""); // every converter
    EXPECT_EQ(applyOverride(s, "grid.scr", "2"), "");
    c = converterParameters(s);
    EXPECT_EQ(c[0].capacitance, 0.05);
    EXPECT_EQ(c[1].capacitance, 0.1);
    EXPECT_EQ(c[0].precharge, 450.0);
    EXPECT_EQ(c[1].precharge, 450.0);
    EXPECT_EQ(*s.grid.scr, 2.0);
    EXPECT_EQ(validateScenario(s), "");

    EXPECT_NE(applyOverride(s, "converters[2].loadPower", "1").find("has 2 converters"), std::string::npos);
    EXPECT_NE(checkOverrideKey("converters[0].gridAngle").find("the grid's"), std::string::npos);
    EXPECT_NE(checkOverrideKey("converters[x].loadPower"), "");
    EXPECT_NE(checkOverrideKey("grid.bogus").find("not a grid key"), std::string::npos);
    EXPECT_EQ(applyOverride(s, "grid.scr", "0"), "");
    EXPECT_NE(validateScenario(s).find("grid.scr must be positive"), std::string::npos);
    EXPECT_EQ(applyOverride(s, "grid.scr", "3"), "");
    EXPECT_EQ(applyOverride(s, "converters[1].loadPower", "-5"), "");
    EXPECT_NE(validateScenario(s).find("converters[1].loadPower must not be negative"), std::string::npos);
}

// An event's time and value set like a parameter, and refused where the
// scenario would no longer be valid.
TEST(Scenario, EventOverridesKeepTheEventsValid) {
    Scenario s;
    ASSERT_EQ(loadScenario("sag20", KESTRUNE_SCENARIO_DIR, s), "");
    EXPECT_EQ(applyOverride(s, "events[0].value", "0.5"), "");
    EXPECT_EQ(applyOverride(s, "events[1].time", "0.55"), "");
    EXPECT_EQ(s.events[0].value, 0.5);
    EXPECT_EQ(s.events[1].time, 0.55);
    EXPECT_EQ(validateScenario(s), "");
    const struct {
        const char *key;
        const char *value;
        const char *problem; // from applyOverride, or else validateScenario
    } bad[] = {
        {"events[2].time", "0.5", "the scenario has 2 events"},
        {"events[0].kind", "sag", "is not of the form events[I].time"},
        {"events[0].time", "x", "takes a finite number"},
        {"events[1].time", "0.2", "events[1].time is 0.2 s, before the event ahead of it"},
        {"events[1].time", "0.6", "not before the end of the run"},
        {"events[0].value", "-0.1", "events[0].value must not be negative"},
    };
    for (const auto &b : bad) {
        Scenario t = s;
        std::string problem = applyOverride(t, b.key, b.value);
        if (problem.empty())
            problem = validateScenario(t);
        EXPECT_NE(problem.find(b.problem), std::string::npos) << b.key << "=" << b.value << ": " << problem;
    }
}

TEST(Scenario, OverridesTakeCommandLineTextAndRangesAreChecked) {
    plant::PlantParameters p;
    EXPECT_EQ(setParameter(p, "loadPower", "300e3"), "");
    EXPECT_EQ(p.loadPower, 300e3);
    EXPECT_EQ(setParameter(p, "gridAngle", "-45"), "");
    EXPECT_DOUBLE_EQ(p.gridAngle, -std::numbers::pi / 4.0);
    EXPECT_EQ(setParameter(p, "splitLink", "true"), "");
    EXPECT_TRUE(p.splitLink);
    EXPECT_EQ(setParameter(p, "splitLink", "0"), "");
    EXPECT_FALSE(p.splitLink);
    EXPECT_NE(setParameter(p, "splitLink", "yes"), "");
    EXPECT_NE(setParameter(p, "loadPower", "nan"), "");
    EXPECT_NE(setParameter(p, "loadPower", "3e5W"), "");
    EXPECT_NE(setParameter(p, "nothing", "1"), "");
    EXPECT_EQ(validateParameters(p), "");
    p.inductance = 0.0;
    EXPECT_NE(validateParameters(p).find("inductance must be positive"), std::string::npos);
    p.inductance = 1e-4;
    p.resistance = -1e-3;
    EXPECT_NE(validateParameters(p).find("resistance must not be negative"), std::string::npos);
}

TEST(Scenario, FindsShippedScenariosByNameAndFilesByPath) {
    Scenario s;
    ASSERT_EQ(loadScenario("load_step", KESTRUNE_SCENARIO_DIR, s), "");
    EXPECT_EQ(s.name, "load_step");
    ASSERT_EQ(s.events.size(), 1u);
    EXPECT_EQ(s.events[0].value, 400e3);

    const std::string unknown = loadScenario("startup999", KESTRUNE_SCENARIO_DIR, s);
    EXPECT_NE(unknown.find("unknown scenario 'startup999'"), std::string::npos) << unknown;
    EXPECT_NE(unknown.find("startup500_unsync"), std::string::npos) << unknown; // lists the known ones

    const std::filesystem::path dir = std::filesystem::path(testing::TempDir()) / "scenario_test";
    std::filesystem::create_directories(dir);
    const std::filesystem::path file = dir / "mine.json";
    std::ofstream(file) << R"({"name": "mine", "duration": 0.01, "parameters": {"precharge": 400}})";
    ASSERT_EQ(loadScenario(file.string(), "/nonexistent", s), "");
    EXPECT_EQ(s.name, "mine");
    EXPECT_EQ(s.parameters.precharge, 400.0);
    EXPECT_NE(loadScenario((dir / "absent.json").string(), "", s).find("no such scenario file"),
              std::string::npos);
    std::ofstream(dir / "broken.json") << "{";
    EXPECT_NE(loadScenario((dir / "broken.json").string(), "", s).find("not valid JSON"), std::string::npos);
}

} // namespace
} // namespace kestrune::sim
