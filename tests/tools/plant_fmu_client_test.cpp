// The packed plant FMU driven through kestrune-sim's client against the
// native plant, output for output and bit for bit, and what of a scenario
// does not fit the FMU.
#include "plant_fmu_client.h"
#include "plant_fmu_parameters.h"

#include "counting_new.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <numbers>

#ifndef KESTRUNE_PLANT_FMU_PATH
#error "KESTRUNE_PLANT_FMU_PATH must name the packed plant FMU"
#endif

using kestrune::testing_heap::heapAllocations;

namespace kestrune::sim {
namespace {

using plant::EventKind;

// Two converters (the second with a split link) behind a weak grid, with a
// load step, an unbalanced dip, a profile, harmonics, a ramp and a jump.
Scenario eventfulScenario() {
    Scenario s;
    s.name = "plant_fmu";
    s.duration = 0.035;
    s.grid.scr = 3.0;
    s.grid.xOverR = 8.0;
    s.converters = {s.parameters, s.parameters};
    s.converters[1].loadPower = 150e3;
    s.converters[1].splitLink = true;
    s.converters[1].capacitance = 0.04;
    auto event = [&s](double time, EventKind kind, double value) -> ScenarioEvent & {
        s.events.push_back({});
        ScenarioEvent &e = s.events.back();
        e.time = time;
        e.kind = kind;
        e.value = value;
        return e;
    };
    event(0.004, EventKind::Load, 300e3).converter = 1;
    ScenarioEvent &dip = event(0.008, EventKind::Dip, 0.6);
    dip.dip = plant::DipType::C;
    dip.special = 1;
    event(0.014, EventKind::Profile, 0.0).profile = {{0.0, 0.5}, {0.004, 0.8}, {0.008, 1.0}};
    event(0.020, EventKind::Harmonics, 0.0).harmonics = {{5, 0.04, 30.0}, {7, 0.02, 0.0}};
    event(0.024, EventKind::FrequencyRamp, -5.0).target = 59.95;
    event(0.028, EventKind::PhaseJump, 20.0);
    return s;
}

// Gates that follow the grid with a coarse staircase, one leg of one
// converter now and then in an illegal pattern.
master::Gates gatesAt(std::int64_t step, std::size_t converter) {
    master::Gates g{};
    const double theta = 2.0 * std::numbers::pi * 60.0 * static_cast<double>(step) * BASE_STEP -
                         std::numbers::pi / 4.0 - 0.1 * static_cast<double>(converter);
    for (std::size_t leg = 0; leg < 3; ++leg) {
        const double s = std::sin(theta - 2.0 * std::numbers::pi / 3.0 * static_cast<double>(leg));
        const int level = s > 0.6 ? 1 : s < -0.6 ? -1 : 0;
        g[4 * leg] = level > 0 ? 1.0 : 0.0;
        g[4 * leg + 1] = level >= 0 ? 1.0 : 0.0;
        g[4 * leg + 2] = level <= 0 ? 1.0 : 0.0;
        g[4 * leg + 3] = level < 0 ? 1.0 : 0.0;
    }
    if (step % 1000 == 500)
        g[4 * converter] = g[4 * converter + 3] = 1.0;
    return g;
}

// The outputs of the native plant in the FMU's form.
PlantOutputs nativeOutputs(const plant::Plant &p) {
    PlantOutputs out{};
    for (std::size_t j = 0; j < p.converterCount(); ++j)
        out.converters.push_back({p.measurements(j), p.activePower(j), p.reactivePower(j), p.state(j).upper,
                                  p.state(j).lower, p.levels(j), p.illegalPatterns(j), p.directChanges(j)});
    out.source = p.gridVoltages();
    out.pcc = p.pccVoltages();
    out.frequency = p.gridFrequency();
    return out;
}

// Every value as bits, so that -0.0 and NaN compare as the bits they are.
std::vector<std::uint64_t> bits(const PlantOutputs &o) {
    std::vector<std::uint64_t> b;
    auto add = [&b](double v) { b.push_back(std::bit_cast<std::uint64_t>(v)); };
    for (const PlantOutputs::Converter &c : o.converters) {
        for (double v : c.measured)
            add(v);
        for (double v : {c.activePower, c.reactivePower, c.upper, c.lower})
            add(v);
        for (int level : c.levels)
            b.push_back(static_cast<std::uint64_t>(level));
        b.push_back(static_cast<std::uint64_t>(c.illegalPatterns));
        b.push_back(static_cast<std::uint64_t>(c.directChanges));
    }
    for (double v : o.source)
        add(v);
    for (double v : o.pcc)
        add(v);
    add(o.frequency);
    return b;
}

TEST(PlantFmuTest, MatchesTheNativePlantBitForBit) {
    const Scenario scenario = eventfulScenario();
    ASSERT_EQ(validateScenario(scenario), "");
    std::vector<PlantFmuParameter> parameters;
    ASSERT_EQ(plantFmuParameters(scenario, parameters), "");
    master::RecordingLogger logger;
    PlantFmu fmu;
    ASSERT_EQ(fmu.open(KESTRUNE_PLANT_FMU_PATH, 2, logger), "");
    ASSERT_EQ(fmu.instantiate("plant", false), "");
    for (const int perStep : {1, 20}) {
        SCOPED_TRACE(perStep);
        const std::vector<plant::PlantParameters> list = converterParameters(scenario);
        plant::Plant native(scenario.parameters, scenarioImpedance(scenario),
                            std::vector<plant::ConverterParameters>(list.begin(), list.end()),
                            plantEvents(scenario));
        ASSERT_TRUE(fmu.reset()) << fmu.failure();
        ASSERT_EQ(fmu.initialize(parameters), "");
        const double h = perStep * BASE_STEP;
        const auto steps = static_cast<std::int64_t>(scenario.duration / h);
        PlantOutputs fromFmu{};
        double t = 0.0;
        std::int64_t illegal = 0;
        for (std::int64_t k = 0; k <= steps; ++k) {
            if (k > 0) {
                ASSERT_EQ(fmu.doStep(t, h), PlantFmu::Step::Ok) << fmu.failure();
                t += h;
                for (int i = 0; i < perStep; ++i)
                    native.step();
                ASSERT_FALSE(native.diverged()) << "at step " << k << ": choose gates that keep the plant";
            }
            // The native loop's order: the step, the new gates held, then the
            // measurements.
            for (std::size_t j = 0; j < 2; ++j) {
                const master::Gates g = gatesAt(k * perStep, j);
                native.hold(j, g);
                ASSERT_TRUE(fmu.setGates(j, g)) << fmu.failure();
            }
            ASSERT_TRUE(fmu.read(fromFmu)) << fmu.failure();
            ASSERT_EQ(bits(fromFmu), bits(nativeOutputs(native))) << "at step " << k;
            illegal = fromFmu.converters[1].illegalPatterns;
        }
        EXPECT_GT(illegal, 0) << "the gates never held an illegal pattern";
        EXPECT_NE(fromFmu.frequency, 60.0) << "the ramp never ran";
    }
}

// Writing the gates, stepping and reading every output take nothing from
// the client's heap once the first read sized its vectors.
TEST(PlantFmuTest, StepsWithoutHeapUseInTheClient) {
    std::vector<PlantFmuParameter> parameters;
    ASSERT_EQ(plantFmuParameters(eventfulScenario(), parameters), "");
    master::RecordingLogger logger;
    PlantFmu fmu;
    ASSERT_EQ(fmu.open(KESTRUNE_PLANT_FMU_PATH, 2, logger), "");
    ASSERT_EQ(fmu.instantiate("plant", false), "");
    ASSERT_EQ(fmu.initialize(parameters), "");
    PlantOutputs out{};
    ASSERT_TRUE(fmu.read(out));
    const long before = heapAllocations.load();
    ASSERT_GT(before, 0) << "the counter does not see the client's heap use";
    bool ok = true;
    for (std::int64_t k = 0; k < 2000; ++k) {
        for (std::size_t j = 0; j < 2; ++j)
            ok = fmu.setGates(j, gatesAt(k, j)) && ok;
        ok = fmu.doStep(static_cast<double>(k) * BASE_STEP, BASE_STEP) == PlantFmu::Step::Ok && ok;
        ok = fmu.read(out) && ok;
    }
    EXPECT_TRUE(ok) << fmu.failure();
    EXPECT_EQ(heapAllocations.load(), before);
}

struct MisfitCase {
    const char *label;
    void (*change)(Scenario &);
    const char *message;
};

TEST(PlantFmuTest, SaysWhatOfAScenarioDoesNotFitTheFmu) {
    const std::vector<MisfitCase> cases = {
        {"converters", [](Scenario &s) { s.converters.assign(5, s.parameters); },
         "the scenario has 5 converters, more than the plant FMU takes (4)"},
        {"events", [](Scenario &s) { s.events.resize(17); },
         "the scenario has 17 events, more than the plant FMU takes (16)"},
        {"points", [](Scenario &s) { s.events[2].profile.resize(9); },
         "events[2] has 9 profile points, more than the plant FMU takes (8)"},
        {"harmonics", [](Scenario &s) { s.events[3].harmonics.resize(9); },
         "events[3] has 9 harmonics, more than the plant FMU takes (8)"},
    };
    for (const MisfitCase &k : cases) {
        Scenario s = eventfulScenario();
        k.change(s);
        std::vector<PlantFmuParameter> parameters;
        EXPECT_EQ(plantFmuParameters(s, parameters), k.message) << k.label;
    }
    master::RecordingLogger logger;
    PlantFmu fmu;
    EXPECT_EQ(fmu.open(KESTRUNE_PLANT_FMU_PATH, 5, logger), "the plant FMU takes 1 to 4 converters, not 5");
}

// A parameter the FMU refuses comes back with its message.
TEST(PlantFmuTest, ReportsTheFmusRefusalOfAParameter) {
    Scenario s = eventfulScenario();
    std::vector<PlantFmuParameter> parameters;
    ASSERT_EQ(plantFmuParameters(s, parameters), "");
    for (PlantFmuParameter &p : parameters)
        if (p.name == "converter1.turnsRatio")
            p.value = -2.5;
    master::RecordingLogger logger;
    PlantFmu fmu;
    ASSERT_EQ(fmu.open(KESTRUNE_PLANT_FMU_PATH, 2, logger), "");
    ASSERT_EQ(fmu.instantiate("plant", false), "");
    EXPECT_EQ(fmu.initialize(parameters), "initializing the plant FMU: fmi2ExitInitializationMode: "
                                          "converter1.turnsRatio must be positive (got -2.5)");
}

} // namespace
} // namespace kestrune::sim
