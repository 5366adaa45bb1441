// A scenario's plant as the plant FMU's parameters and back: the scenario
// an .ssp's bound values rebuild runs the same plant as the one exported,
// and values that describe no plant are refused by name.
#include "plant_fmu_parameters.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

namespace kestrune::sim {
namespace {

using plant::EventKind;

// Three converters behind a weak grid, one with a split link, and an event
// of every kind with every field the plant FMU carries.
Scenario eventfulScenario() {
    Scenario s;
    s.name = "eventful";
    s.description = "every kind of event";
    s.duration = 0.05;
    s.parameters.gridAngle = 0.5;
    s.grid.scr = 3.0;
    s.grid.xOverR = 8.0;
    s.converters = {s.parameters, s.parameters, s.parameters};
    s.converters[1].loadPower = 150e3;
    s.converters[2].splitLink = true;
    s.converters[2].capacitance = 0.04;
    auto event = [&s](double time, EventKind kind, double value) -> ScenarioEvent & {
        s.events.push_back({.time = time, .kind = kind, .value = value});
        return s.events.back();
    };
    event(0.002, EventKind::Frequency, 59.9);
    event(0.004, EventKind::Load, 300e3).converter = 1;
    event(0.006, EventKind::Sag, 0.8);
    ScenarioEvent &dip = event(0.008, EventKind::Dip, 0.6);
    dip.dip = plant::DipType::G;
    dip.special = 2;
    event(0.014, EventKind::Profile, 0.0).profile = {{0.0, 0.5}, {0.004, 0.8}, {0.008, 1.0}};
    event(0.020, EventKind::Harmonics, 0.0).harmonics = {{5, 0.04, 30.0}, {7, 0.02, -12.5}};
    event(0.024, EventKind::FrequencyRamp, 5.0).target = 59.95;
    event(0.028, EventKind::PhaseJump, 20.0);
    return s;
}

std::vector<PlantFmuParameter> parametersOf(const Scenario &scenario) {
    std::vector<PlantFmuParameter> parameters;
    EXPECT_EQ(plantFmuParameters(scenario, parameters), "");
    return parameters;
}

TEST(PlantFmuParameters, RebuildTheScenarioOfEveryShippedOneAndAnEventfulOne) {
    std::vector<Scenario> scenarios{eventfulScenario()};
    for (const std::string &name : scenarioNames(KESTRUNE_SCENARIO_DIR)) {
        scenarios.emplace_back();
        ASSERT_EQ(loadScenario(name, KESTRUNE_SCENARIO_DIR, scenarios.back()), "");
    }
    for (const Scenario &original : scenarios) {
        SCOPED_TRACE(original.name);
        const std::vector<PlantFmuParameter> parameters = parametersOf(original);
        Scenario rebuilt;
        std::vector<std::string> unknown{"left over"};
        ASSERT_EQ(scenarioFromPlantFmuParameters(original.name, original.description, original.duration,
                                                 parameters, rebuilt, &unknown),
                  "");
        EXPECT_TRUE(unknown.empty());
        EXPECT_EQ(std::tie(rebuilt.name, rebuilt.description, rebuilt.duration),
                  std::tie(original.name, original.description, original.duration));
        EXPECT_EQ(rebuilt.grid.scr, original.grid.scr);
        EXPECT_EQ(rebuilt.grid.xOverR, original.grid.xOverR);
        EXPECT_EQ(converterParameters(rebuilt), converterParameters(original));
        EXPECT_EQ(plantEvents(rebuilt), plantEvents(original));
        EXPECT_EQ(validateScenario(rebuilt), "");
    }
}

TEST(PlantFmuParameters, RefuseValuesThatDescribeNoPlantAndNameTheUnknown) {
    using Type = PlantFmuParameter::Type;
    const struct {
        std::vector<PlantFmuParameter> parameters;
        const char *problem;
    } cases[] = {
        {{{"converters", Type::Integer, 5}}, "converters is 5; the plant takes a whole number from 1 to 4"},
        {{{"events", Type::Integer, 1}, {"event1.kind", Type::Integer, 9}},
         "event1.kind is 9; the plant takes a whole number from 1 to 8"},
        {{{"converters", Type::Integer, 2},
          {"events", Type::Integer, 1},
          {"event1.converter", Type::Integer, 2}},
         "event1.converter is 2; the plant takes a whole number from -1 to 1"},
        {{{"events", Type::Integer, 2}, {"event1.time", Type::Real, 0.2}, {"event2.time", Type::Real, 0.1}},
         "event2.time 0.1 s is before the event before it (0.2 s): the events must be in time order"},
        {{{"gridFrequency", Type::Real, std::numeric_limits<double>::infinity()}},
         "gridFrequency is inf, not a finite number"},
    };
    for (const auto &c : cases) {
        Scenario scenario;
        EXPECT_EQ(scenarioFromPlantFmuParameters("x", "", 0.1, c.parameters, scenario), c.problem);
    }
    // Names the plant has no parameter of are reported; those of converters
    // and events not in force are the plant's and are not.
    Scenario scenario;
    std::vector<std::string> unknown;
    ASSERT_EQ(scenarioFromPlantFmuParameters("x", "", 0.1,
                                             {{"converter3.inductance", Type::Real, 1e-3},
                                              {"event16.harmonic8.phase", Type::Real, 1.0},
                                              {"gridFrequncy", Type::Real, 50.0},
                                              {"event17.time", Type::Real, 1.0}},
                                             scenario, &unknown),
              "");
    EXPECT_EQ(unknown, (std::vector<std::string>{"gridFrequncy", "event17.time"}));
}

} // namespace
} // namespace kestrune::sim
