// Writing and reading .ssp files: the closed loop's system read back as
// written, its files valid against the SSP schemas, and what the reader
// refuses.
#include "ssp_test_files.h"

#include "fmu_variables.h"
#include "ssp_reader.h"
#include "ssp_writer.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kestrune::ssp {
namespace {

using test::scratchFolder;

const std::vector<SspParameter> PLANT_PARAMETERS{{"gridPhasePeak", SspType::Real, 330.25},
                                                 {"converters", SspType::Integer, 2},
                                                 {"converter0.splitLink", SspType::Boolean, 1}};

// The closed loop of count converters around a stand-in plant, written to
// folder/loop.ssp.
SspSystem writeLoop(const std::string &folder, const std::string &unitArchive, int count) {
    const std::string plant = folder + "/Kestrune-plant.fmu";
    test::writePlantArchive(plant, 4);
    std::vector<SspParameter> parameters = PLANT_PARAMETERS;
    parameters[1].value = count;
    SspSystem system;
    EXPECT_EQ(closedLoopSystem("loop", "two lines\nof text", 0.25, count, unitArchive, plant, parameters,
                               5e-6, system),
              "");
    system.components[0].parameters = {{"meanSampleTime", SspType::Real, 1e-4}};
    EXPECT_EQ(writeSsp(system, folder + "/loop.ssp"), "");
    return system;
}

TEST(SspFiles, ReadsBackTheClosedLoopAsWritten) {
    struct Case {
        const char *unitArchive;
        int count;
        std::vector<std::string> unitSources;
    };
    const Case cases[] = {
        {KESTRUNE_FMU_PATH, 1, {"resources/Kestrune.fmu"}},
        {KESTRUNE_FMU_PATH,
         3,
         {"resources/Kestrune_0.fmu", "resources/Kestrune_1.fmu", "resources/Kestrune_2.fmu"}},
        {KESTRUNE_FMU3_PATH, 2, {"resources/Kestrune-fmi3.fmu", "resources/Kestrune-fmi3.fmu"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.unitArchive) + " x" + std::to_string(c.count));
        const std::string folder = scratchFolder("round-trip");
        const SspSystem written = writeLoop(folder, c.unitArchive, c.count);
        SspSystem read;
        ASSERT_EQ(readSsp(folder + "/loop.ssp", read), "");
        EXPECT_EQ(read.name, "loop");
        EXPECT_EQ(read.description, written.description);
        EXPECT_EQ(read.stopTime, 0.25);
        EXPECT_EQ(read.step, 5e-6);
        ASSERT_EQ(read.components.size(), written.components.size());
        for (std::size_t i = 0; i < read.components.size(); ++i) {
            const SspComponent &a = written.components[i];
            const SspComponent &b = read.components[i];
            EXPECT_EQ(b.name, a.name);
            EXPECT_EQ(b.source, i < c.unitSources.size() ? c.unitSources[i] : "resources/Kestrune-plant.fmu");
            FmuVariables variables;
            ASSERT_EQ(readFmuVariables(a.archive, variables), "");
            EXPECT_EQ(b.fmiVersion, variables.fmiVersion);
            // The connectors are the embedded archive's, and it is the same archive.
            const std::vector<SspConnector> expected = connectorsOf(variables);
            ASSERT_EQ(b.connectors.size(), expected.size());
            for (std::size_t k = 0; k < expected.size(); ++k) {
                EXPECT_EQ(b.connectors[k].name, expected[k].name);
                EXPECT_EQ(b.connectors[k].kind, expected[k].kind);
                EXPECT_EQ(b.connectors[k].type, expected[k].type);
            }
            std::string original, embedded;
            ASSERT_EQ(readZipEntry(a.archive, "modelDescription.xml", original), "");
            ASSERT_EQ(readZipEntry(b.archive, "modelDescription.xml", embedded), "");
            EXPECT_EQ(embedded, original);
            ASSERT_EQ(b.parameters.size(), a.parameters.size());
        }
        ASSERT_EQ(read.connections.size(), 19u * static_cast<unsigned>(c.count));
        for (std::size_t i = 0; i < read.connections.size(); ++i) {
            const SspConnection &a = written.connections[i];
            const SspConnection &b = read.connections[i];
            EXPECT_EQ(std::tie(b.startElement, b.startConnector, b.endElement, b.endConnector),
                      std::tie(a.startElement, a.startConnector, a.endElement, a.endConnector));
        }
        EXPECT_EQ(read.connections[0].startConnector, "converter0.gridVoltageA");
        EXPECT_EQ(read.connections[18].endConnector, "converter0.gateC4");
        ASSERT_EQ(read.parameters.size(), written.parameters.size());
        for (std::size_t i = 0; i < read.parameters.size(); ++i) {
            EXPECT_EQ(read.parameters[i].name, "plant." + PLANT_PARAMETERS[i].name);
            EXPECT_EQ(read.parameters[i].type, written.parameters[i].type);
            EXPECT_EQ(read.parameters[i].value, written.parameters[i].value);
        }
        EXPECT_EQ(read.components[0].parameters[0].value, 1e-4);
    }
}

TEST(SspFiles, SystemStructureAndParameterSetValidateAgainstTheSchemas) {
    const std::string schemas = std::string(KESTRUNE_SOURCE_DIR) + "/../shared/ssp-schema";
    if (!std::filesystem::exists(schemas + "/SystemStructureDescription.xsd"))
        GTEST_SKIP() << "no SSP schemas at " << schemas;
    if (std::system("xmllint --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "xmllint is not installed";
    const std::string folder = scratchFolder("schema");
    writeLoop(folder, KESTRUNE_FMU_PATH, 2);
    ASSERT_EQ(unpackZip(folder + "/loop.ssp", folder + "/unpacked"), "");
    for (const auto &[file, schema] :
         {std::pair{"SystemStructure.ssd", "SystemStructureDescription.xsd"},
          std::pair{"resources/loop.ssv", "SystemStructureParameterValues.xsd"}}) {
        const std::string command = "xmllint --noout --schema '" + schemas + "/" + schema + "' '" + folder +
                                    "/unpacked/" + file + "' 2>" + folder + "/xmllint.log";
        EXPECT_EQ(std::system(command.c_str()), 0) << file << ": " << [&] {
            std::ifstream log(folder + "/xmllint.log");
            std::stringstream text;
            text << log.rdbuf();
            return text.str();
        }();
    }
}

TEST(SspFiles, RefusesWhatItCannotRun) {
    const std::string folder = scratchFolder("refusals");
    writeLoop(folder, KESTRUNE_FMU_PATH, 2);
    ASSERT_EQ(unpackZip(folder + "/loop.ssp", folder + "/unpacked"), "");
    std::string good;
    ASSERT_EQ(readZipEntry(folder + "/loop.ssp", "SystemStructure.ssd", good), "");
    SspSystem system;
    ASSERT_EQ(readSystemStructure(good, folder + "/unpacked", system), "");

    struct Case {
        const char *what;
        std::string from, to;
        const char *message;
    };
    const Case cases[] = {
        {"a missing resource", "source=\"resources/Kestrune-plant.fmu\"", "source=\"resources/absent.fmu\"",
         "component plant: the .ssp holds no resources/absent.fmu"},
        {"a connection to an unknown connector", "endElement=\"unit1\" endConnector=\"gridVoltageA\"",
         "endElement=\"unit1\" endConnector=\"gridVoltageX\"",
         "connection plant.converter1.gridVoltageA -> unit1.gridVoltageX: component unit1 has no connector "
         "gridVoltageX"},
        {"a connector no variable carries", "<ssd:Connector name=\"converter0.gateA1\"",
         "<ssd:Connector name=\"converter0.gate1A\"",
         "component plant: connector converter0.gate1A names no variable"},
        {"a connector of the wrong kind", "name=\"converter0.levelA\" kind=\"output\"",
         "name=\"converter0.levelA\" kind=\"input\"",
         "component plant: connector converter0.levelA is declared input but its variable is output"},
        {"a nested system", "<ssd:Elements>", "<ssd:Elements><ssd:System name=\"inner\"/>",
         "the system holds a System element (inner); only components are supported"},
        {"a signal dictionary", "<ssd:Connections>",
         "<ssd:Connections/><ssd:SignalDictionaries><ssd:SignalDictionary "
         "name=\"d\"/></ssd:SignalDictionaries><ssd:"
         "Connections>",
         "the system's SignalDictionaries are not supported"},
        {"a parameter mapping", "source=\"resources/loop.ssv\" />",
         "source=\"resources/loop.ssv\"><ssd:ParameterMapping source=\"m.ssm\"/></ssd:ParameterBinding>",
         "the system: parameter mappings are not supported"},
        {"an Integer connection", "startConnector=\"converter1.gridVoltageA\"",
         "startConnector=\"converter1.levelA\"",
         "joins Integer to Real; only Real connections are supported"},
        {"a gate driving a gate", "endElement=\"plant\" endConnector=\"converter0.gateA1\"",
         "endElement=\"unit1\" endConnector=\"gateA1\"", "joins output to output"},
        {"a model-exchange unit", "implementation=\"CoSimulation\"", "implementation=\"ModelExchange\"",
         "component unit0 asks for the implementation ModelExchange"},
        {"a source outside the .ssp", "source=\"resources/Kestrune_1.fmu\"", "source=\"../Kestrune_1.fmu\"",
         "is no file inside the .ssp"},
        {"a broken step annotation", "size=\"5e-06\"", "size=\"fast\"",
         "annotation's step \"fast\" is no positive"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string text = good;
        const std::size_t at = text.find(c.from);
        ASSERT_NE(at, std::string::npos) << c.from;
        text.replace(at, c.from.size(), c.to);
        SspSystem refused;
        const std::string message = readSystemStructure(text, folder + "/unpacked", refused);
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
    }
    EXPECT_EQ(readSsp(folder + "/absent.ssp", system), folder + "/absent.ssp: no such file");
}

} // namespace
} // namespace kestrune::ssp
