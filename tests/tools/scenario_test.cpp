// Reading scenario files: the format, its validation, and finding scenarios
// by name.
#include "scenario.h"

#include "nested_json.h"

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

// The grid source's events: dips with their special phase, profiles,
// harmonics (phases in degrees as written, radians for the plant) and ramps.
TEST(Scenario, ReadsTheSourceEventsAndHandsThemToThePlant) {
    Scenario s;
    ASSERT_EQ(parse(R"({"name": "grid", "duration": 2, "parameters": {"gridFrequency": 60},
        "events": [{"time": 0.1, "kind": "dip", "type": "E", "depth": 0.25, "phase": "c"},
                   {"time": 0.2, "kind": "profile", "points": [[0, 0], [0.15, 0], [1.5, 0.85]]},
                   {"time": 0.3, "kind": "harmonics", "components": [{"order": 5, "magnitude": 0.06, "phase": 90},
                                                                     {"order": 7, "magnitude": 0.05}]},
                   {"time": 0.4, "kind": "frequency_ramp", "rate": -2, "to": 59.5},
                   {"time": 0.5, "kind": "frequency_ramp", "rate": -2, "to": 57.5},
                   {"time": 0.6, "kind": "harmonics", "components": []}]})",
                    s),
              "");
    const std::vector<plant::GridEvent> events = plantEvents(s);
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0].kind, plant::EventKind::Dip);
    EXPECT_EQ(events[0].dip, plant::DipType::E);
    EXPECT_EQ(events[0].special, 2);
    EXPECT_EQ(events[0].value, 0.25);
    EXPECT_EQ(events[1].dip, plant::DipType::A); // the profile's default type and phase
    EXPECT_EQ(events[1].special, 0);
    ASSERT_EQ(events[1].profile.size(), 3u);
    EXPECT_EQ(events[1].profile[2].time, 1.5);
    EXPECT_EQ(events[1].profile[2].depth, 0.85);
    ASSERT_EQ(events[2].harmonics.size(), 2u);
    EXPECT_EQ(events[2].harmonics[0].order, 5);
    EXPECT_DOUBLE_EQ(events[2].harmonics[0].phase, std::numbers::pi / 2.0);
    EXPECT_EQ(events[2].harmonics[1].phase, 0.0);
    EXPECT_EQ(s.events[2].harmonics[0].phase, 90.0); // degrees as written
    EXPECT_EQ(events[4].value, -2.0);
    EXPECT_EQ(events[4].target, 57.5);
    EXPECT_TRUE(events[5].harmonics.empty());
    EXPECT_EQ(validateScenario(s), "");
    // A faster start turns the first ramp away from its target.
    ASSERT_EQ(applyOverride(s, "gridFrequency", "59"), "");
    EXPECT_EQ(validateScenario(s).rfind("events[3].rate is -2 Hz/s, away from \"to\" (59.5 Hz)", 0), 0u)
        << validateScenario(s);
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
        // The grid source's events.
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "dip", "type": "H", "depth": 0.5}]})",
         "\"events[0].type\" must be a dip type: \"A\", \"B\""},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "dip", "type": "C", "depth": 2.5}]})",
         "\"events[0].depth\" must lie within 0-2 (got 2.5)"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "dip", "depth": 0.5}]})",
         "\"events[0]\" lacks its type"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "dip", "type": "C", "depth": 0.5, "phase": "d"}]})",
         "\"events[0].phase\" must be \"a\", \"b\" or \"c\""},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "dip", "type": "C", "value": 0.5}]})",
         "\"events[0].value\" is not a key of a dip event (time, kind, type, depth, phase)"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "profile", "points": [[0.1, 0]]}]})",
         "\"events[0].points[0][0]\" is 0.1 s: the first point is at 0"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "profile", "points": [[0, 0], [0.2, 0.5], [0.2, 1]]}]})",
         "\"events[0].points[2][0]\" is 0.2 s, not after the point ahead of it (0.2 s)"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "profile", "points": [[0, 0], [0.2, 3]]}]})",
         "\"events[0].points[1][1]\" must lie within 0-2"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "profile", "points": [[0, 0], 0.2]}]})",
         "\"events[0].points[1]\" must be a point [time, depth]"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "harmonics", "components": [{"order": 1, "magnitude": 0.1}]}]})",
         "\"events[0].components[0].order\" must be an integer from 2 to 100"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "harmonics", "components": [{"order": 5, "magnitude": -0.1}]}]})",
         "\"events[0].components[0].magnitude\" must not be negative"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "harmonics", "components": [{"order": 5, "magnitude": 0.1, "sequence": 2}]}]})",
         "\"events[0].components[0].sequence\" is not a key of a harmonic"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "frequency_ramp", "rate": 0, "to": 61}]})",
         "\"events[0].rate\" must not be 0"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "frequency_ramp", "rate": 2}]})",
         "\"events[0]\" lacks its to"},
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "frequency_ramp", "rate": 2, "to": 57.5}]})",
         "\"events[0].rate\" is 2 Hz/s, away from \"to\" (57.5 Hz) from the 60 Hz the grid has at 0.1 s"},
        // The frequency an earlier ramp leaves: 60 - 2 * 0.2 = 59.6 Hz at 0.3 s.
        {R"({"name": "a", "duration": 0.6, "events": [{"time": 0.1, "kind": "frequency_ramp", "rate": -2, "to": 57.5},
                                                      {"time": 0.3, "kind": "frequency_ramp", "rate": -1, "to": 59.8}]})",
         "\"events[1].rate\" is -1 Hz/s, away from \"to\" (59.8 Hz) from the 59.6 Hz the grid has at 0.3 s"},
    };
    for (const Case &c : cases) {
        Scenario s;
        const std::string problem = parse(c.text, s);
        EXPECT_NE(problem, "") << "accepted: " << c.text;
        EXPECT_NE(problem.find(c.fragment), std::string::npos) << c.text << "\n-> " << problem;
        EXPECT_EQ(problem.rfind("test.json: ", 0), 0u) << problem;
    }
}

TEST(Scenario, RefusesNestingDeeperThan64LevelsWithItsPlace) {
    const std::string base = R"({"name": "a", "duration": 0.6, )";
    const struct {
        std::string text;
        const char *message; // nullptr: accepted as far as nesting goes
    } cases[] = {
        {base + R"("parameters": )" + nestedJson(100000, true) + "}",
         "test.json: line 1, column 424: an object nested deeper than 64 levels"},
        {base + R"("events": )" + nestedJson(100000, false) + "}",
         "test.json: line 1, column 105: an array nested deeper than 64 levels"},
        {base + "\n\"events\": " + nestedJson(100000, false) + "}",
         "test.json: line 2, column 74: an array nested deeper than 64 levels"},
        {base + R"("description": "\"[)" + std::string(100, '{') + R"(", "events": [])" + "}", nullptr},
        {base + R"("events": )" + nestedJson(63, false) + "}", nullptr},
        {base + R"("events": )" + nestedJson(64, false) + "}",
         "test.json: line 1, column 105: an array nested deeper than 64 levels"},
    };
    for (const auto &c : cases) {
        Scenario s;
        const std::string problem = parse(c.text, s);
        if (c.message == nullptr)
            EXPECT_EQ(problem.find("nested"), std::string::npos) << problem;
        else
            EXPECT_EQ(problem, c.message);
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
