// What the SSP tests share: the built unit archives, a stand-in plant
// archive (a description with the plant's connectors and no library, enough
// to write, read and recognise a system), and a scratch folder.
#pragma once

#include "closed_loop_system.h"
#include "zip_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace kestrune::ssp::test {

// A stand-in plant's modelDescription.xml: converters 0..count-1 with the
// plant's measurement outputs, gate inputs and an Integer level output, and
// three parameters of the three types. modelName tells two stand-ins apart.
inline std::string plantDescription(int count, const std::string &modelName = "Kestrune plant") {
    std::string xml = "<?xml version=\"1.0\"?>\n<fmiModelDescription fmiVersion=\"2.0\" modelName=\"" +
                      modelName +
                      "\" guid=\"{a96b6c46-cb40-4088-aef1-c441f0bc3cd9}\">\n"
                      "<CoSimulation modelIdentifier=\"Kestrune_plant\"/>\n<ModelVariables>\n";
    int vr = 0;
    auto variable = [&](const std::string &name, const char *causality, const char *type, const char *start) {
        xml += "<ScalarVariable name=\"" + name + "\" valueReference=\"" + std::to_string(vr++) +
               "\" causality=\"" + causality + "\"" +
               (std::string(causality) == "parameter" ? " variability=\"fixed\" initial=\"exact\"" : "") +
               "><" + type + (start != nullptr ? std::string(" start=\"") + start + "\"" : "") +
               "/></ScalarVariable>\n";
    };
    variable("gridPhasePeak", "parameter", "Real", "325");
    variable("converters", "parameter", "Integer", "1");
    variable("converter0.splitLink", "parameter", "Boolean", "false");
    for (int j = 0; j < count; ++j) {
        for (const char *name : MEASUREMENT_NAMES)
            variable(plantConnectorName(j, name), "output", "Real", nullptr);
        for (const char *name : GATE_NAMES)
            variable(plantConnectorName(j, name), "input", "Real", "0");
        variable(plantConnectorName(j, "levelA"), "output", "Integer", nullptr);
    }
    return xml + "</ModelVariables>\n<ModelStructure/>\n</fmiModelDescription>\n";
}

// A folder of its own under the build's temporary folder, emptied first.
inline std::string scratchFolder(const std::string &name) {
    const auto folder = std::filesystem::temp_directory_path() / ("kestrune-ssp-test-" + name);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder.string();
}

// Writes a stand-in plant archive at path.
inline void writePlantArchive(const std::string &path, int count,
                              const std::string &modelName = "Kestrune plant") {
    ASSERT_EQ(writeZip(path, {{"modelDescription.xml", "", plantDescription(count, modelName)}}), "");
}

} // namespace kestrune::ssp::test
