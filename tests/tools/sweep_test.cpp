// kestrune-sweep's pieces: sweep files and their errors, the runs a sweep
// makes, the verdict on runs known to hold and known not to, and a run that
// fails becoming a row.
#include "run_pool.h"
#include "sweep.h"
#include "sweep_file.h"
#include "sweep_run.h"

#include "nested_json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace kestrune::sweep {
namespace {

SweepDefinition parse(const std::string &text, std::string *problem = nullptr) {
    SweepDefinition definition;
    const std::string p = parseSweep(text, "t.json", KESTRUNE_SCENARIO_DIR, definition);
    if (problem != nullptr)
        *problem = p;
    else
        EXPECT_EQ(p, "");
    return definition;
}

TEST(SweepFile, RefusesBadFilesNamingThePlace) {
    const std::string base = R"("name": "s", "scenario": "startup500", )";
    const std::pair<std::string, std::string> cases[] = {
        {"[1]", "t.json: the document must be a JSON object"},
        {"{", "t.json: not valid JSON"},
        {R"({"scenario": "startup500", "axes": [{"key": "loadPower", "values": [1]}]})",
         "\"name\" is missing"},
        {R"({"name": "a b", "scenario": "startup500", "axes": []})", "\"name\" 'a b' must be letters"},
        {"{" + base + R"("axes": [{"key": "loadPower", "values": [1]}], "montecarlo": {}})",
         "not both or neither"},
        {"{" + base + R"("frobnicate": 1, "axes": []})", "\"frobnicate\" is not a sweep key"},
        {R"({"name": "s", "scenario": "nosuch", "axes": [{"key": "loadPower", "values": [1]}]})",
         "\"scenario\" unknown scenario 'nosuch'"},
        {"{" + base + R"("axes": [{"key": "inductanse", "values": [1]}]})", "\"axes[0].key\""},
        {"{" + base + R"("axes": [{"key": "capacitance", "values": [0.05, -1]}]})",
         "\"axes[0].values[1]\" value -1: capacitance must be positive"},
        {"{" + base + R"("axes": [{"key": "loadPower", "from": 1, "to": 2, "count": 1.5}]})",
         "\"axes[0].count\" must be a whole number"},
        {"{" + base + R"("axes": [{"key": "loadPower", "from": 0, "to": 2, "count": 3, "spacing": "log"}]})",
         "spaced logarithmically needs from and to above 0"},
        {"{" + base + R"("axes": [{"key": "loadPower", "values": [1], "count": 3}]})",
         "\"axes[0].count\" does not go with \"values\""},
        {"{" + base +
             R"("axes": [{"key": "loadPower", "values": [1]}, {"key": "loadPower", "values": [2]}]})",
         "swept by an earlier axis"},
        {"{" + base + R"("set": {"grid.scr": -1}, "axes": [{"key": "loadPower", "values": [1]}]})",
         "\"set\""},
        {"{" + base + R"("duration": 1e-7, "axes": [{"key": "loadPower", "values": [1]}]})",
         "whole number of them"},
        {"{" + base + R"("montecarlo": {"count": 3, "seed": -1, "parameters": {}}})", "\"montecarlo.seed\""},
        {"{" + base +
             R"("montecarlo": {"count": 3, "seed": 1, "parameters": {"inductance": {"distribution": "normal", "min": 1e-4, "max": 3e-4}}}})",
         "\"montecarlo.parameters.inductance.mean\" is missing"},
        {"{" + base +
             R"("montecarlo": {"count": 3, "seed": 1, "parameters": {"grid.scr": {"distribution": "uniform", "min": -1, "max": 3}}}})",
         "\"montecarlo.parameters.grid.scr.min\" value -1"},
        {"{" + base + R"("figure": "s3_vdc_min", "axes": [{"key": "loadPower", "values": [1]}]})",
         "\"figure\" 's3_vdc_min' is no column"},
    };
    for (const auto &[text, expected] : cases) {
        std::string problem;
        parse(text, &problem);
        EXPECT_NE(problem.find(expected), std::string::npos) << text << "\n  gave: " << problem;
    }
}

TEST(SweepFile, RefusesNestingDeeperThan64LevelsWithItsPlace) {
    const std::string base = R"({"name": "s", "scenario": "startup500", )";
    const std::string axes = R"("axes": [{"key": "loadPower", "values": [1]}])";
    const struct {
        std::string text;
        const char *message; // nullptr: accepted as far as nesting goes
    } cases[] = {
        {base + R"("set": )" + nestedJson(100000, true) + ", " + axes + "}",
         "t.json: line 1, column 426: an object nested deeper than 64 levels"},
        {base + R"("axes": [{"key": "loadPower", "values": )" + nestedJson(100000, false) + "}]}",
         "t.json: line 1, column 142: an array nested deeper than 64 levels"},
        {base + R"("set": )" + nestedJson(63, true) + ", " + axes + "}", nullptr},
        {base + R"("set": )" + nestedJson(64, true) + ", " + axes + "}",
         "t.json: line 1, column 426: an object nested deeper than 64 levels"},
    };
    for (const auto &c : cases) {
        std::string problem;
        parse(c.text, &problem);
        if (c.message == nullptr)
            EXPECT_EQ(problem.find("nested"), std::string::npos) << problem;
        else
            EXPECT_EQ(problem, c.message);
    }
}

TEST(SweepFile, FiguresNameAConverterAndASegmentThatExist) {
    const std::string pair =
        R"({"name": "p", "scenario": "pair_scr5", "axes": [{"key": "loadPower", "values": [1e5]}], )";
    std::string problem;
    parse(pair + R"("figure": "c1_s1_vdc_min"})");
    for (const char *figure : {"s0_vdc_min", "c2_s0_vdc_min", "c0_s2_pf", "c0_s0_nothing", "c_s0_pf"}) {
        parse(pair + "\"figure\": \"" + figure + "\"}", &problem);
        EXPECT_NE(problem.find("is no column"), std::string::npos) << figure << ": " << problem;
    }
}

TEST(SweepFile, GridsAndSamplesAreTheSameFromTheIndexAlone) {
    const SweepDefinition grid = parse(R"({"name": "g", "scenario": "startup500",
        "axes": [{"key": "grid.scr", "from": 1, "to": 100, "count": 3, "spacing": "log"},
                 {"key": "loadPower", "values": [1e5, 2e5]}]})");
    ASSERT_EQ(grid.runCount(), 6u);
    EXPECT_EQ(grid.keys(), (std::vector<std::string>{"grid.scr", "loadPower"}));
    // The first axis varies fastest; log spacing hits its ends exactly.
    EXPECT_EQ(grid.values(0), (std::vector<double>{1.0, 1e5}));
    EXPECT_NEAR(grid.values(1)[0], 10.0, 1e-12);
    EXPECT_EQ(grid.values(5), (std::vector<double>{100.0, 2e5}));

    const std::string mc = R"({"name": "m", "scenario": "startup500", "montecarlo": {"count": 400, "seed": 7,
        "parameters": {"capacitance": {"distribution": "normal", "mean": 0.05, "sd": 0.01, "min": 0.045, "max": 0.06},
                       "loadPower": {"distribution": "uniform", "min": 1e5, "max": 3e5}}}})";
    const SweepDefinition a = parse(mc);
    const SweepDefinition b = parse(mc);
    std::set<double> distinct;
    double mean = 0.0;
    for (std::size_t r = 0; r < a.runCount(); ++r) {
        const std::vector<double> v = a.values(r);
        EXPECT_EQ(v, b.values(r));
        EXPECT_GE(v[0], 0.045);
        EXPECT_LE(v[0], 0.06);
        EXPECT_GE(v[1], 1e5);
        EXPECT_LT(v[1], 3e5);
        distinct.insert(v[1]);
        mean += v[1] / 400.0;
    }
    EXPECT_EQ(distinct.size(), 400u);
    EXPECT_NEAR(mean, 2e5, 1e4);
    // The text a value is set with reads back as the same double.
    for (const double v : {200e3, 0.1, 2.0149e-4, 1e-9, 3.0 / 7.0})
        EXPECT_EQ(std::stod(valueText(v)), v) << valueText(v);
    EXPECT_EQ(valueText(200e3), "200000");
}

// One-run sweeps of the closed loop with values known to hold or not.
std::string oneRow(const std::string &fmu, double duration, const std::string &axes, Verdict expected) {
    const SweepDefinition definition =
        parse(R"({"name": "v", "scenario": "startup500", "duration": )" + std::to_string(duration) +
              R"(, "set": {"grid.xOverR": 10}, "axes": )" + axes + "}");
    SweepPlan plan;
    planSweep(definition, fmu, plan);
    const std::string row = runRow(plan, 0);
    std::size_t run = 99;
    Verdict verdict{};
    EXPECT_TRUE(parseRow(row, definition.keys().size(), run, verdict)) << row;
    EXPECT_EQ(run, 0u);
    EXPECT_EQ(verdictName(verdict), std::string(verdictName(expected))) << row;
    const std::string header = csvHeader(plan);
    // Every column up to the reason, which is quoted and may hold commas.
    const std::string cells = row.substr(0, row.rfind(",\"") + 1);
    EXPECT_EQ(std::count(cells.begin(), cells.end(), ','), std::count(header.begin(), header.end(), ','))
        << row;
    return row;
}

TEST(SweepVerdict, HoldsDivergesOscillatesAndFails) {
    // The stiff grid and SCR 5 hold; SCR 3 loses the link within 0.21 s.
    oneRow(KESTRUNE_FMU3_PATH, 0.3, R"([{"key": "loadPower", "values": [200e3]}])", Verdict::Holds);
    oneRow(KESTRUNE_FMU3_PATH, 0.6, R"([{"key": "grid.scr", "values": [5]}])", Verdict::Holds);
    const std::string diverged =
        oneRow(KESTRUNE_FMU3_PATH, 0.6, R"([{"key": "grid.scr", "values": [3]}])", Verdict::Diverged);
    EXPECT_NE(diverged.find("\"stopped at t = 0.2"), std::string::npos) << diverged;
    // SCR 3.375 at 200 kW neither diverges nor holds: the link keeps
    // swinging by hundreds of volts.
    oneRow(KESTRUNE_FMU3_PATH, 1.0, R"([{"key": "grid.scr", "values": [3.375]}])", Verdict::Oscillating);
    // Two converters: a row of figures per converter and segment.
    const SweepDefinition pair = parse(R"({"name": "p", "scenario": "pair_scr5", "duration": 0.4,
        "axes": [{"key": "converters[1].loadPower", "values": [300e3]}]})");
    SweepPlan plan;
    planSweep(pair, KESTRUNE_FMU3_PATH, plan);
    ASSERT_EQ(plan.figureColumns.size(), 2u * 2u * figureNames().size());
    EXPECT_EQ(plan.figureColumns.back(), "c1_s1_direct");
    const std::string row = runRow(plan, 0);
    EXPECT_TRUE(row.starts_with("0,300000,holds,")) << row;
    const std::string header = csvHeader(plan);
    EXPECT_EQ(std::count(row.begin(), row.end(), ','), std::count(header.begin(), header.end(), ',')) << row;
    // A run that cannot be completed is a row with the reason.
    const std::string failed = oneRow("/nonexistent/Kestrune.fmu", 0.3,
                                      R"([{"key": "loadPower", "values": [1e5]}])", Verdict::Failed);
    EXPECT_NE(failed.find("/nonexistent/Kestrune.fmu"), std::string::npos) << failed;

    // The swing rule alone: wider than the band, or growing above the ripple.
    EXPECT_FALSE(oscillates(2.5, 2.0));
    EXPECT_FALSE(oscillates(3.9, 1.0));
    EXPECT_TRUE(oscillates(5.0, 3.9));
    EXPECT_FALSE(oscillates(5.0, 4.1));
    EXPECT_TRUE(oscillates(10.5, 40.0));
}

TEST(SweepTable, BoundaryNamesWhereTheVerdictChanges) {
    const SweepDefinition definition = parse(R"({"name": "b", "scenario": "startup500",
        "axes": [{"key": "grid.scr", "values": [4, 3, 2]}, {"key": "loadPower", "values": [1e5, 2e5]}]})");
    SweepPlan plan;
    planSweep(definition, "x.fmu", plan);
    Collector::Tally tally;
    tally.verdicts = {0, 2, 4, 0, 0, -1};
    const std::vector<std::string> lines = boundaryLines(plan, tally);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "loadPower = 100000: holds at grid.scr = 4, oscillating at 3; oscillating at grid.scr = 3, "
              "diverged at 2");
    EXPECT_EQ(lines[1], "loadPower = 200000: holds all along grid.scr");
}

TEST(SweepVerdict, TheWorstThatAppliesWins) {
    sim::ClosedLoopResult result;
    result.ok = true;
    plant::SegmentFigures unsettled;
    unsettled.settled = false;
    result.converterFigures = {{plant::SegmentFigures{}, unsettled}};
    SwingWatch watch({0.5}, 1.0, 1);
    std::string reason;
    EXPECT_EQ(judge(result, watch, reason), Verdict::Unsettled);
    EXPECT_NE(reason.find("segment 1"), std::string::npos) << reason;
    result.directChanges = 1;
    EXPECT_EQ(judge(result, watch, reason), Verdict::Illegal);
    result.stopped = true;
    result.stopReason = "the converter's DC link is at 40 V";
    EXPECT_EQ(judge(result, watch, reason), Verdict::Diverged);
    EXPECT_NE(reason.find("40 V"), std::string::npos) << reason;
    result.ok = false;
    result.error = "fmi3DoStep failed with fmi3Error";
    EXPECT_EQ(judge(result, watch, reason), Verdict::Failed);
    EXPECT_EQ(reason, result.error);
}

// A table as an interrupted sweep leaves it: whole rows out of order, a
// repeated row, one cut short.
TEST(SweepTable, ResumeKeepsWholeRowsAndFinishSortsThem) {
    const SweepDefinition definition = parse(R"({"name": "r", "scenario": "startup500",
        "axes": [{"key": "loadPower", "values": [1e5, 2e5, 3e5, 4e5]}]})");
    SweepPlan plan;
    planSweep(definition, "x.fmu", plan);
    const std::string figures(plan.figureColumns.size(), ',');
    auto row = [&](int run, const char *verdict) {
        return std::to_string(run) + "," + valueText(definition.values(static_cast<std::size_t>(run))[0]) +
               "," + verdict + figures + ",\"\"";
    };
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kestrune-sweep-resume-test";
    std::filesystem::create_directories(dir);
    const std::string csv = (dir / "r.csv").string();
    {
        std::ofstream out(csv, std::ios::trunc);
        out << csvHeader(plan) << '\n'
            << row(2, "diverged") << '\n'
            << row(0, "holds") << '\n'
            << row(2, "holds") << '\n'
            << row(3, "holds").substr(0, 9);
    }
    std::ostringstream err;
    Collector collector(plan, err, false);
    ASSERT_EQ(collector.open(csv, true), "");
    EXPECT_EQ(collector.resumed(), 2u);
    EXPECT_EQ(collector.pending(), (std::vector<std::size_t>{1, 3}));
    collector.add(row(3, "oscillating"));
    collector.add(row(1, "holds"));
    collector.add(row(1, "failed")); // a run already in: not twice
    ASSERT_EQ(collector.finish(), "");
    EXPECT_EQ(collector.tally().counts[static_cast<std::size_t>(Verdict::Holds)], 2u);
    EXPECT_EQ(collector.tally().counts[static_cast<std::size_t>(Verdict::Diverged)], 1u);
    std::ifstream in(csv);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), csvHeader(plan) + "\n" + row(0, "holds") + "\n" + row(1, "holds") + "\n" +
                              row(2, "diverged") + "\n" + row(3, "oscillating") + "\n");

    // A table of another sweep is not taken for this one's.
    Collector other(plan, err, false);
    {
        std::ofstream out(csv, std::ios::trunc);
        out << "run,grid.scr,verdict\n";
    }
    EXPECT_NE(other.open(csv, true).find("holds no table of this sweep"), std::string::npos);
    std::filesystem::remove_all(dir);
}

// Every shipped sweep reads; sag_depth's runs share their first 0.3 s.
TEST(SweepFile, ShippedSweepsRead) {
    for (const char *name : {"scr_load", "tolerances", "sag_depth"}) {
        SweepDefinition definition;
        EXPECT_EQ(loadSweep(name, KESTRUNE_SWEEP_DIR, KESTRUNE_SCENARIO_DIR, definition), "") << name;
    }
    SweepDefinition definition;
    ASSERT_EQ(loadSweep("sag_depth", KESTRUNE_SWEEP_DIR, KESTRUNE_SCENARIO_DIR, definition), "");
    SweepPlan plan;
    planSweep(definition, "x.fmu", plan);
    EXPECT_EQ(definition.runCount(), 76u);
    EXPECT_NEAR(plan.sharedSeconds, 0.3 - 5e-6, 1e-9);
}

// Runs share their past up to the step before the first event that differs,
// and never beyond the end of a segment that ends differently.
TEST(SweepPlan, RunsShareTheStepsBeforeTheirFirstDifference) {
    const struct {
        const char *axes;
        double shared; // [s]
    } cases[] = {
        {R"([{"key": "events[0].value", "values": [0.8, 0.5]}])", 0.3 - 5e-6},
        {R"([{"key": "events[1].time", "values": [0.4, 0.45]}])", 0.3 - 5e-6},
        {R"([{"key": "events[0].time", "values": [0.2, 0.3]}])", 0.0}, // the first segment ends apart
        {R"([{"key": "loadPower", "values": [1e5, 2e5]}])", 0.0},
        {R"([{"key": "events[0].value", "values": [0.8]}])", 0.0},
    };
    for (const auto &c : cases) {
        SweepPlan plan;
        planSweep(parse(std::string(R"({"name": "b", "scenario": "sag20", "axes": )") + c.axes + "}"),
                  "x.fmu", plan);
        EXPECT_NEAR(plan.sharedSeconds, c.shared, 1e-9) << c.axes;
        SweepPlan plain;
        planSweep(parse(std::string(R"({"name": "b", "scenario": "sag20", "axes": )") + c.axes + "}"),
                  "x.fmu", plain, false);
        EXPECT_EQ(plain.sharedSteps, 0) << c.axes;
    }
}

// A worker's rows, its units reused from run to run and its runs continued
// from their shared past, are those of runs each made from zero on units of
// their own.
TEST(SweepRunner, ReusedUnitsAndBranchedRunsGiveThePlainRows) {
    const struct {
        const char *sweep;
        std::size_t branched;
    } cases[] = {
        // A sag's depth by its end: everything before 0.3 s shared.
        {R"({"name": "s", "scenario": "sag20", "duration": 0.5, "axes": [
            {"key": "events[0].value", "values": [1, 0.5, 0.1]}, {"key": "events[1].time", "values": [0.32, 0.4]}]})",
         5},
        // The grid differs from the start: nothing shared, the units reused.
        {R"({"name": "g", "scenario": "startup500", "duration": 0.05, "set": {"grid.xOverR": 10}, "axes": [
            {"key": "grid.scr", "values": [5, 2]}, {"key": "loadPower", "values": [2e5, 4e5]}]})",
         0},
    };
    for (const auto &c : cases) {
        const SweepDefinition definition = parse(c.sweep);
        SweepPlan plan;
        SweepPlan plain;
        planSweep(definition, KESTRUNE_FMU3_PATH, plan);
        planSweep(definition, KESTRUNE_FMU3_PATH, plain, false);
        Runner runner(plan);
        for (std::size_t run = 0; run < definition.runCount(); ++run)
            EXPECT_EQ(runner.row(run), runRow(plain, run)) << c.sweep << " run " << run;
        EXPECT_EQ(runner.branched(), c.branched) << c.sweep;
    }
}

// A worker process that dies between two runs, before it is sent the next:
// that run is reported failed and every other run is still done, once.
TEST(SweepPool, AWorkerThatDiesBetweenRunsLosesNoRun) {
    const WorkerFactory worker = [] {
        return [](std::size_t run) {
            if (run == 0)
                ::ualarm(100000, 0); // SIGALRM ends this worker while it waits for its next run
            return std::to_string(run);
        };
    };
    std::vector<std::string> rows;
    const RowTaker take = [&](const std::string &row) {
        rows.push_back(row);
        if (row == "0")
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
    };
    const FailedRow failed = [](std::size_t run, const std::string &reason) {
        return std::to_string(run) + " failed: " + reason;
    };
    EXPECT_EQ(runPoolInProcesses({0, 1, 2, 3}, 1, worker, take, failed), "");
    const std::vector<std::string> expected{
        "0", "1 failed: the worker process running it ended by signal 14 (Alarm clock)", "2", "3"};
    EXPECT_EQ(rows, expected);
}

} // namespace
} // namespace kestrune::sweep
