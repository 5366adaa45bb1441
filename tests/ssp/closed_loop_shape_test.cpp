// Recognising the closed loop: ours as exported, with a substituted plant,
// and the systems that are not it.
#include "ssp_test_files.h"

#include "closed_loop_shape.h"
#include "fmu_variables.h"
#include "ssp_reader.h"
#include "ssp_writer.h"

namespace kestrune::ssp {
namespace {

// The loop of count units around the stand-in plant at plantArchive, its
// connectors filled in from the archives as the .ssd carries them.
SspSystem loop(int count, const std::string &plantArchive) {
    SspSystem system;
    EXPECT_EQ(closedLoopSystem("loop", "", 0.5, count, KESTRUNE_FMU_PATH, plantArchive,
                               {{"converters", SspType::Integer, static_cast<double>(count)},
                                {"gridPhasePeak", SspType::Real, 300.0}},
                               5e-6, system),
              "");
    for (SspComponent &component : system.components) {
        FmuVariables variables;
        EXPECT_EQ(readFmuVariables(component.archive, variables), "");
        component.connectors = connectorsOf(variables);
    }
    return system;
}

void renameConnector(SspSystem &system, const std::string &component, const std::string &from,
                     const std::string &to) {
    for (SspComponent &candidate : system.components) {
        for (SspConnector &connector : candidate.connectors) {
            if (candidate.name == component && connector.name == from)
                connector.name = to;
        }
    }
    for (SspConnection &connection : system.connections) {
        if (connection.startElement == component && connection.startConnector == from)
            connection.startConnector = to;
        if (connection.endElement == component && connection.endConnector == from)
            connection.endConnector = to;
    }
}

TEST(ClosedLoopShape, RecognisesOursAsExportedAndWithASubstitutedPlant) {
    const std::string folder = test::scratchFolder("shape");
    test::writePlantArchive(folder + "/Kestrune-plant.fmu", 4);
    ASSERT_EQ(writeSsp(loop(2, folder + "/Kestrune-plant.fmu"), folder + "/loop.ssp"), "");
    SspSystem read;
    ASSERT_EQ(readSsp(folder + "/loop.ssp", read), "");
    ClosedLoopShape shape;
    ASSERT_EQ(recogniseClosedLoop(read, shape), "");
    EXPECT_EQ(shape.converters, 2);
    EXPECT_EQ(shape.unitComponents, (std::vector<std::string>{"unit0", "unit1"}));
    EXPECT_EQ(shape.unitArchives,
              (std::vector<std::string>{read.components[0].archive, read.components[1].archive}));
    EXPECT_NE(shape.unitArchives[0], shape.unitArchives[1]);
    EXPECT_EQ(shape.plantComponent, "plant");
    EXPECT_EQ(shape.plantArchive, read.components[2].archive);
    ASSERT_EQ(shape.plantParameters.size(), 2u);
    EXPECT_EQ(shape.plantParameters[1].name, "gridPhasePeak");
    EXPECT_EQ(shape.plantParameters[1].value, 300.0);
    EXPECT_EQ(shape.stopTime, 0.5);
    EXPECT_EQ(shape.step, 5e-6);

    // Another plant archive, under another component name, with its own
    // binding overridden by the system's.
    test::writePlantArchive(folder + "/rig.fmu", 2, "test rig");
    SspSystem substituted = loop(1, folder + "/rig.fmu");
    substituted.components[1].name = "rig";
    for (SspConnection &connection : substituted.connections)
        (connection.startElement == "plant" ? connection.startElement : connection.endElement) = "rig";
    substituted.components[1].parameters = {{"gridPhasePeak", SspType::Real, 100.0}};
    substituted.parameters[1].name = "rig.gridPhasePeak";
    ASSERT_EQ(recogniseClosedLoop(substituted, shape), "");
    EXPECT_EQ(shape.converters, 1);
    EXPECT_EQ(shape.unitComponents, std::vector<std::string>{"unit"});
    EXPECT_EQ(shape.plantComponent, "rig");
    EXPECT_EQ(shape.plantArchive, folder + "/rig.fmu");
    ASSERT_EQ(shape.plantParameters.size(), 2u);
    EXPECT_EQ(shape.plantParameters.back().name, "gridPhasePeak");
    EXPECT_EQ(shape.plantParameters.back().value, 300.0);
}

TEST(ClosedLoopShape, DoesNotRecogniseOtherSystems) {
    const std::string folder = test::scratchFolder("not-shape");
    test::writePlantArchive(folder + "/Kestrune-plant.fmu", 4);
    struct Case {
        const char *what;
        void (*change)(SspSystem &);
        const char *reason;
    };
    const Case cases[] = {
        {"a renamed plant connector",
         [](SspSystem &s) {
             renameConnector(s, "plant", "converter0.gridVoltageB", "converter0.gridVoltage_B");
         },
         "no component carries the plant's connectors"},
        {"a renamed unit connector", [](SspSystem &s) { renameConnector(s, "unit1", "gateB3", "gate_B3"); },
         "converter 1's unit unit1 lacks the unit's connectors"},
        {"a gate left unconnected", [](SspSystem &s) { s.connections.pop_back(); },
         "converter 1's unit unit1's gateC4 does not drive plant.converter1.gateC4"},
        {"a measurement crossed",
         [](SspSystem &s) { s.connections[1].startConnector = "converter1.gridVoltageB"; },
         "converter 0's unit unit0 is not fed plant.converter0.gridVoltageB"},
        {"one unit for two converters",
         [](SspSystem &s) {
             for (SspConnection &c : s.connections) {
                 for (std::string *element : {&c.startElement, &c.endElement})
                     *element = *element == "unit1" ? "unit0" : *element;
             }
         },
         "converter 1's unit unit0 serves two converters"},
        {"an extra component",
         [](SspSystem &s) {
             s.components.push_back(s.components[0]);
             s.components.back().name = "spare";
         },
         "components beyond the plant and its 2 unit(s)"},
        {"a converter count that disagrees", [](SspSystem &s) { s.parameters[0].value = 3; },
         "the plant is bound to 3 converters but 2 units are connected to it"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SspSystem system = loop(2, folder + "/Kestrune-plant.fmu");
        c.change(system);
        ClosedLoopShape shape;
        const std::string reason = recogniseClosedLoop(system, shape);
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
}

} // namespace
} // namespace kestrune::ssp
