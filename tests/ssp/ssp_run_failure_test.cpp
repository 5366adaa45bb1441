// A system whose run fails (a unit refusing a 7 µs step) leaves no CSV of
// its own: an earlier complete CSV of the name stays as it was, and no
// partial file is left beside it.
#include "ssp_test_files.h"

#include "fmu_variables.h"
#include "ssp_run.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrune::ssp {
namespace {

TEST(SspRunFailure, KeepsTheEarlierCsvAndLeavesNoPartialFile) {
    const std::string folder = test::scratchFolder("failure");
    SspSystem system;
    system.name = "pair";
    system.stopTime = 0.0105;
    system.step = 5e-6;
    FmuVariables variables;
    ASSERT_EQ(readFmuVariables(KESTRUNE_FMU_PATH, variables), "");
    for (const char *name : {"unit0", "unit1"})
        system.components.push_back(
            {name, KESTRUNE_FMU_PATH, "resources/x.fmu", variables.fmiVersion, connectorsOf(variables), {}});
    system.connections.push_back({"unit0", "gateA1", "unit1", "gridVoltageA"});
    SspRunOptions options;
    options.csvPath = folder + "/pair.csv";
    ASSERT_EQ(runSsp(system, options).error, "");
    auto text = [&] {
        std::stringstream content;
        content << std::ifstream(options.csvPath).rdbuf();
        return content.str();
    };
    const std::string complete = text();

    options.step = 7e-6;
    EXPECT_NE(runSsp(system, options).error, "");
    EXPECT_EQ(text(), complete);
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        EXPECT_EQ(entry.path().filename(), "pair.csv");
}

} // namespace
} // namespace kestrune::ssp
