// kestrune-sim and .ssp files: the exported closed loop binds what differs
// from the plant's start values and runs as the scenario runs on the plant
// FMU, also with its plant under another component name;
// any other system goes through the generic runner; the shipped files are
// valid SSP; and what cannot be exported or found is refused.
#include "run.h"

#include "fmu_variables.h"
#include "ssp_reader.h"
#include "ssp_writer.h"
#include "zip_files.h"

#include "scratch_files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrune::sim {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct SimRun {
    int status = 0;
    std::string out, err;
};

// kestrune-sim with the build's archives, scenarios and shipped .ssp files.
SimRun sim(std::vector<std::string> args) {
    const std::vector<std::string_view> views(args.begin(), args.end());
    ParseResult parsed = parseOptions(views, KESTRUNE_FMU_PATH, KESTRUNE_SCENARIO_DIR);
    if (parsed.action != ParseResult::Action::Run)
        return {2, "", parsed.error};
    parsed.options.defaultPlantFmu = KESTRUNE_PLANT_FMU_PATH;
    if (parsed.options.plant.fmu && parsed.options.plant.plantFmu.empty())
        parsed.options.plant.plantFmu = KESTRUNE_PLANT_FMU_PATH;
    parsed.options.sspDir = KESTRUNE_SSP_DIR;
    std::ostringstream out, err;
    const int status = runSimulation(parsed.options, out, err, false);
    return {status, out.str(), err.str()};
}

using testing_files::text;

fs::path scratch(const std::string &name) {
    return testing_files::scratch("kestrune-ssp-sim-test", name);
}

// The plant FMU runs in the loop only where this build wires it in.
bool loopTakesThePlantFmu(const SimRun &run) {
    return run.err.find("the plant FMU is not available in this build") == std::string::npos;
}

// What a run found: its figures and counts, not its paths or timings.
json figures(const fs::path &jsonPath) {
    const json summary = json::parse(text(jsonPath));
    json kept{{"converters", summary["converters"]}, {"pcc", summary["pcc"]}};
    for (const char *key : {"steps", "illegalPatterns", "directChanges", "stopped"})
        kept[key] = summary["run"][key];
    for (const char *key : {"parameters", "grid", "events", "duration"})
        kept[key] = summary["scenario"][key];
    return kept;
}

TEST(SspSim, RunsTheExportedLoopAsTheScenarioOnThePlantFmu) {
    const fs::path folder = scratch("same");
    const SimRun exported =
        sim({"--scenario", "load_step", "--duration", "0.31", "--export-ssp", folder.string()});
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(exported.out, (folder / "load_step.ssp").string() + "\n");
    // Bound is only what differs from the plant archive's start values, so
    // no Boolean: the defaults give every split link.
    ssp::SspSystem system;
    ASSERT_EQ(ssp::readSsp((folder / "load_step.ssp").string(), system), "");
    ssp::FmuVariables plant;
    ASSERT_EQ(ssp::readFmuVariables(KESTRUNE_PLANT_FMU_PATH, plant), "");
    EXPECT_FALSE(system.parameters.empty());
    for (const ssp::SspParameter &parameter : system.parameters) {
        const ssp::FmuVariable *variable = plant.find(parameter.name.substr(parameter.name.find('.') + 1));
        ASSERT_NE(variable, nullptr) << parameter.name;
        EXPECT_NE(variable->start, parameter.value) << parameter.name;
        EXPECT_NE(parameter.type, ssp::SspType::Boolean) << parameter.name;
    }
    for (const char *coupling : {"sequential", "jacobi"}) {
        SCOPED_TRACE(coupling);
        const fs::path scenarioOut = folder / (std::string("scenario-") + coupling);
        const fs::path sspOut = folder / (std::string("ssp-") + coupling);
        const SimRun scenario =
            sim({"--scenario", "load_step", "--duration", "0.31", "--plant", "fmu", "--coupling", coupling,
                 "--no-plot", "--output-dir", scenarioOut.string()});
        if (!loopTakesThePlantFmu(scenario))
            GTEST_SKIP() << "the loop of this build runs no plant FMU";
        ASSERT_EQ(scenario.status, 0) << scenario.err;
        const SimRun ssp = sim({(folder / "load_step.ssp").string(), "--coupling", coupling, "--no-plot",
                                "--output-dir", sspOut.string()});
        ASSERT_EQ(ssp.status, 0) << ssp.err;
        EXPECT_EQ(text(sspOut / "load_step.csv"), text(scenarioOut / "load_step.csv"));
        EXPECT_EQ(figures(sspOut / "load_step.json"), figures(scenarioOut / "load_step.json"));
    }
}

// The loop is recognised by its connectors, not by the plant's name: the
// same file with the plant renamed everywhere gets the same figures.
TEST(SspSim, RunsTheLoopWithItsPlantUnderAnotherName) {
    const fs::path folder = scratch("renamed");
    ASSERT_EQ(sim({"--scenario", "pair_scr5", "--duration", "0.02", "--export-ssp", folder.string()}).status,
              0);
    ssp::SspSystem system;
    ASSERT_EQ(ssp::readSsp((folder / "pair_scr5.ssp").string(), system), "");
    for (ssp::SspComponent &component : system.components)
        if (component.name == "plant")
            component.name = "grid_side";
    for (ssp::SspConnection &connection : system.connections) {
        for (std::string *element : {&connection.startElement, &connection.endElement})
            if (*element == "plant")
                *element = "grid_side";
    }
    for (ssp::SspParameter &parameter : system.parameters)
        parameter.name = "grid_side" + parameter.name.substr(parameter.name.find('.'));
    ASSERT_EQ(ssp::writeSsp(system, (folder / "renamed.ssp").string()), "");

    const SimRun original = sim(
        {(folder / "pair_scr5.ssp").string(), "--no-plot", "--output-dir", (folder / "original").string()});
    if (!loopTakesThePlantFmu(original))
        GTEST_SKIP() << "the loop of this build runs no plant FMU";
    ASSERT_EQ(original.status, 0) << original.err;
    const SimRun renamed =
        sim({(folder / "renamed.ssp").string(), "--no-plot", "--output-dir", (folder / "renamed").string()});
    ASSERT_EQ(renamed.status, 0) << renamed.err;
    EXPECT_EQ(renamed.err.find("generic runner"), std::string::npos) << renamed.err;
    EXPECT_EQ(figures(folder / "renamed/pair_scr5.json"), figures(folder / "original/pair_scr5.json"));
}

TEST(SspSim, RunsAnyOtherSystemThroughTheGenericRunner) {
    // Two units, each one's first gate the other's first measurement.
    const fs::path folder = scratch("generic");
    ssp::FmuVariables variables;
    ASSERT_EQ(ssp::readFmuVariables(KESTRUNE_FMU_PATH, variables), "");
    ssp::SspSystem system;
    system.name = "pair";
    system.stopTime = 0.002;
    system.step = 5e-6;
    for (const char *name : {"left", "right"})
        system.components.push_back({name,
                                     KESTRUNE_FMU_PATH,
                                     "resources/Kestrune.fmu",
                                     variables.fmiVersion,
                                     ssp::connectorsOf(variables),
                                     {}});
    system.connections = {{"left", "gateA1", "right", "gridVoltageA"},
                          {"right", "gateA1", "left", "gridVoltageA"}};
    ASSERT_EQ(ssp::writeSsp(system, (folder / "pair.ssp").string()), "");

    const SimRun run = sim({(folder / "pair.ssp").string(), "--output-dir", folder.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("pair: 2 components (left, right), 2 connections"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("400 steps of 5e-06 s, from 0 s to 0.002 s"), std::string::npos) << run.out;

    std::istringstream csv(text(folder / "pair.csv"));
    std::string header, line;
    std::getline(csv, header);
    std::string expected = "time";
    for (const char *component : {"left", "right"})
        for (const ssp::SspConnector &connector : ssp::connectorsOf(variables))
            if (connector.kind != ssp::ConnectorKind::Parameter)
                expected += std::string(",") + component + "." + connector.name;
    EXPECT_EQ(header, expected);
    int rows = 0;
    while (std::getline(csv, line))
        ++rows;
    EXPECT_EQ(rows, 21); // after initialization, then every 1e-4 s
}

TEST(SspSim, ShippedFilesValidateAgainstTheSchemas) {
    const std::string schemas = std::string(KESTRUNE_SOURCE_DIR) + "/../shared/ssp-schema";
    if (!fs::exists(schemas + "/SystemStructureDescription.xsd"))
        GTEST_SKIP() << "no SSP schemas at " << schemas;
    if (std::system("xmllint --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "xmllint is not installed";
    const fs::path folder = scratch("schemas");
    for (const char *name : {"load_step", "pair_scr5"}) {
        SCOPED_TRACE(name);
        const fs::path unpacked = folder / name;
        ASSERT_EQ(ssp::unpackZip(std::string(KESTRUNE_SSP_DIR) + "/" + name + ".ssp", unpacked.string()), "");
        for (const auto &[file, schema] :
             {std::pair{std::string("SystemStructure.ssd"), "SystemStructureDescription.xsd"},
              std::pair{"resources/" + std::string(name) + ".ssv", "SystemStructureParameterValues.xsd"}}) {
            const std::string command = "xmllint --noout --schema '" + schemas + "/" + schema + "' '" +
                                        (unpacked / file).string() + "' 2>'" +
                                        (folder / "xmllint.log").string() + "'";
            EXPECT_EQ(std::system(command.c_str()), 0) << file << ": " << text(folder / "xmllint.log");
        }
    }
}

TEST(SspSim, RefusesWhatItCannotExportOrFind) {
    const fs::path folder = scratch("refusals");
    std::ofstream(folder / "five.json")
        << R"({"name": "five", "duration": 0.01, "converters": [{}, {}, {}, {}, {}]})";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message;
    } cases[] = {
        {{"--scenario", (folder / "five.json").string(), "--export-ssp", folder.string()},
         2,
         "five cannot be exported as an .ssp: the scenario has 5 converters, more than the plant FMU takes "
         "(4)"},
        {{"--scenario", "load_step", "--plant", (folder / "none.fmu").string(), "--export-ssp",
          folder.string()},
         1,
         "no archive at " + (folder / "none.fmu").string()},
        {{"absent.ssp"}, 2, "no such file: absent.ssp (nor among the shipped ones in " KESTRUNE_SSP_DIR ")"},
        {{(folder / "five.json").string() + ".ssp"}, 2, "no such file"},
        {{"--export-ssp", "a.ssp"},
         2,
         "--export-ssp writes a scenario's closed loop; a.ssp is an .ssp already"},
        {{"--fmu", KESTRUNE_FMU_PATH, "a.ssp"}, 2, "a.ssp runs the unit archives it holds"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.back());
        const SimRun run = sim(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(folder / "five.ssp"));
}

} // namespace
} // namespace kestrune::sim
