// Running systems of units: the CSV's columns and rows, the order of the
// exchanges in each coupling, parameters reaching the unit, and a run that
// cannot start.
#include "ssp_test_files.h"

#include "fmu_variables.h"
#include "ssp_reader.h"
#include "ssp_run.h"
#include "ssp_writer.h"

#include <fstream>
#include <map>
#include <sstream>

namespace kestrune::ssp {
namespace {

struct Csv {
    std::vector<std::string> header;
    std::vector<std::vector<double>> rows;
    std::size_t column(const std::string &name) const {
        for (std::size_t i = 0; i < header.size(); ++i) {
            if (header[i] == name)
                return i;
        }
        ADD_FAILURE() << "no column " << name;
        return 0;
    }
};

Csv readCsv(const std::string &path) {
    Csv csv;
    std::ifstream in(path);
    std::string line;
    for (bool first = true; std::getline(in, line); first = false) {
        std::stringstream fields(line);
        std::string field;
        std::vector<double> row;
        while (std::getline(fields, field, ',')) {
            if (first)
                csv.header.push_back(field);
            else
                row.push_back(std::stod(field));
        }
        if (!first)
            csv.rows.push_back(row);
    }
    return csv;
}

// Two units, each one's gateA1 feeding the other's gridVoltageA: the input
// columns show which exchange each unit stepped on.
SspSystem crossWired(const std::string &archive) {
    SspSystem system;
    system.name = "pair";
    system.stopTime = 0.02;
    system.step = 5e-6;
    FmuVariables variables;
    EXPECT_EQ(readFmuVariables(archive, variables), "");
    for (const char *name : {"unit0", "unit1"})
        system.components.push_back(
            {name, archive, "resources/x.fmu", variables.fmiVersion, connectorsOf(variables), {}});
    system.connections.push_back({"unit0", "gateA1", "unit1", "gridVoltageA"});
    system.connections.push_back({"unit1", "gateA1", "unit0", "gridVoltageA"});
    return system;
}

TEST(SspRun, ExchangesInTheOrderOfEachCoupling) {
    // Sequential: unit0 steps first, on unit1's gate of the exchange before;
    // unit1 then takes unit0's new gate. Jacobi: both step, then both take
    // the other's new gate.
    struct Case {
        const char *archive;
        Coupling coupling;
        int unit0Lag;
    };
    const Case cases[] = {{KESTRUNE_FMU_PATH, Coupling::Sequential, 1},
                          {KESTRUNE_FMU_PATH, Coupling::Jacobi, 0},
                          {KESTRUNE_FMU3_PATH, Coupling::Sequential, 1},
                          {KESTRUNE_FMU3_PATH, Coupling::Jacobi, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.archive) + (c.coupling == Coupling::Jacobi ? " jacobi" : " sequential"));
        const std::string folder = test::scratchFolder("exchange");
        SspRunOptions options;
        options.coupling = c.coupling;
        options.csvPath = folder + "/pair.csv";
        const SspRunResult result = runSsp(crossWired(c.archive), options);
        ASSERT_EQ(result.error, "");
        EXPECT_EQ(result.stopped, "");
        EXPECT_EQ(result.steps, 4000);
        const Csv csv = readCsv(options.csvPath);
        ASSERT_EQ(csv.header.size(), 1u + 2u * 19u);
        EXPECT_EQ(csv.header[0], "time");
        EXPECT_EQ(csv.header[1], "unit0.gridVoltageA");
        EXPECT_EQ(csv.header[20], "unit1.gridVoltageA");
        EXPECT_EQ(csv.header[38], "unit1.gateC4");
        ASSERT_EQ(csv.rows.size(), 4001u);
        EXPECT_EQ(csv.rows[0][0], 0.0);
        EXPECT_EQ(csv.rows[4000][0], 0.02);
        const std::size_t in0 = csv.column("unit0.gridVoltageA"), in1 = csv.column("unit1.gridVoltageA");
        const std::size_t gate0 = csv.column("unit0.gateA1"), gate1 = csv.column("unit1.gateA1");
        EXPECT_EQ(csv.rows[0][in0], 0.0);
        EXPECT_EQ(csv.rows[0][in1], 0.0);
        int switched = 0;
        for (std::size_t k = 1; k < csv.rows.size(); ++k) {
            ASSERT_EQ(csv.rows[k][in1], csv.rows[k][gate0]) << "row " << k;
            ASSERT_EQ(csv.rows[k][in0], csv.rows[k - static_cast<std::size_t>(c.unit0Lag)][gate1])
                << "row " << k;
            switched += csv.rows[k][gate1] != csv.rows[k - 1][gate1];
        }
        EXPECT_GT(switched, 10); // else the lag would go unseen
    }
}

TEST(SspRun, EndsTheRunWhereAUnitStops) {
    // Two relays in a ring (y = u + 1 each step); a stops at its third step.
    // Sequential: a steps on b's start value, b on a's new output. Jacobi:
    // both step on the previous exchange.
    struct Case {
        Coupling coupling;
        std::vector<std::vector<double>> rows; // time, a.u, a.y, a.steps, b.u, b.y, b.steps
    };
    const Case cases[] = {
        {Coupling::Sequential,
         {{0, 0, -1, 0, 0, -1, 0}, {1e-3, -1, 0, 1, 0, 1, 1}, {2e-3, 1, 2, 2, 2, 3, 2}}},
        {Coupling::Jacobi, {{0, 0, -1, 0, 0, -1, 0}, {1e-3, 1, 1, 1, 1, 1, 1}, {2e-3, 2, 2, 2, 2, 2, 2}}},
    };
    FmuVariables variables;
    ASSERT_EQ(readFmuVariables(KESTRUNE_RELAY_FMU_PATH, variables), "");
    SspSystem system;
    system.name = "ring";
    system.stopTime = 0.01;
    system.step = 1e-3;
    for (const char *name : {"a", "b"})
        system.components.push_back(
            {name, KESTRUNE_RELAY_FMU_PATH, "resources/relay.fmu", "2.0", connectorsOf(variables), {}});
    system.connections = {{"a", "y", "b", "u"}, {"b", "y", "a", "u"}};
    system.parameters = {{"a.stopAt", SspType::Real, 0.0025}, {"b.stopAfter", SspType::Real, 0.001}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.coupling == Coupling::Jacobi ? "jacobi" : "sequential");
        SspRunOptions options;
        options.coupling = c.coupling;
        options.csvPath = test::scratchFolder("stop") + "/ring.csv";
        const SspRunResult result = runSsp(system, options);
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.stopped, "component a ended the run: stopped at t = 0.002");
        EXPECT_EQ(result.endTime, 2e-3);
        EXPECT_EQ(result.steps, 2);
        EXPECT_EQ(result.warnings,
                  std::vector<std::string>{
                      "the parameter b.stopAfter names no variable of any component; ignored"});
        const Csv csv = readCsv(options.csvPath);
        EXPECT_EQ(csv.header,
                  (std::vector<std::string>{"time", "a.u", "a.y", "a.steps", "b.u", "b.y", "b.steps"}));
        EXPECT_EQ(csv.rows, c.rows);
    }
}

TEST(SspRun, WritesRowsAtTheOutputIntervalAndTheEnd) {
    const std::string folder = test::scratchFolder("interval");
    SspSystem system = crossWired(KESTRUNE_FMU_PATH);
    system.stopTime = 0.0105;
    SspRunOptions options;
    options.csvPath = folder + "/pair.csv";
    options.outputInterval = 1e-3;
    ASSERT_EQ(runSsp(system, options).error, "");
    const Csv csv = readCsv(options.csvPath);
    ASSERT_EQ(csv.rows.size(), 12u);
    EXPECT_DOUBLE_EQ(csv.rows[1][0], 1e-3);
    EXPECT_DOUBLE_EQ(csv.rows[10][0], 1e-2);
    EXPECT_DOUBLE_EQ(csv.rows[11][0], 0.0105);
}

TEST(SspRun, RefusesARunItCannotSetUp) {
    struct Case {
        const char *what;
        void (*change)(SspSystem &, SspRunOptions &);
        const char *message;
        const char *archive = KESTRUNE_FMU_PATH;
    };
    const Case cases[] = {
        {"no step", [](SspSystem &s, SspRunOptions &) { s.step = 0.0; }, "no communication step"},
        {"a stop before the start", [](SspSystem &, SspRunOptions &o) { o.stopTime = 0.0; },
         "the stop time 0 s is not after the start time 0 s"},
        {"a run of no whole number of steps", [](SspSystem &s, SspRunOptions &) { s.stopTime = 0.0200012; },
         "is no whole number of 5e-06 s steps"},
        {"a parameter of the wrong type",
         [](SspSystem &s, SspRunOptions &) {
             s.parameters = {{"unit1.meanSampleTime", SspType::Boolean, 1.0}};
         },
         "component unit1: parameter meanSampleTime is given as Boolean but the variable is Real"},
        {"a parameter value the unit refuses",
         [](SspSystem &s, SspRunOptions &) {
             s.parameters = {{"unit0.meanSampleTime", SspType::Real, -1.0}};
         },
         "component unit0: fmi3SetFloat64 returned Error (", KESTRUNE_FMU3_PATH},
        {"a missing archive",
         [](SspSystem &s, SspRunOptions &) { s.components[1].archive = "/nonexistent.fmu"; },
         "component unit1: /nonexistent.fmu: no such file"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SspSystem system = crossWired(c.archive);
        SspRunOptions options;
        c.change(system, options);
        const SspRunResult result = runSsp(system, options);
        EXPECT_NE(result.error.find(c.message), std::string::npos) << result.error;
    }
}

} // namespace
} // namespace kestrune::ssp
