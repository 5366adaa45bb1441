// The closed loop allocates nothing per step: a run four times as long makes
// as many heap allocations as a short one. Its own executable, since it
// replaces the global operator new to count.
#include "closed_loop.h"
#include "outputs.h"

#include "counting_new.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <sstream>

using kestrune::testing_heap::heapAllocations;

namespace kestrune::sim {
namespace {

long allocationsOfARun(double duration, CsvRows::Writer writer, const PlantChoice &plant) {
    Scenario scenario;
    scenario.name = "allocations";
    scenario.duration = duration;
    scenario.parameters.splitLink = true;
    scenario.events = {{0.005, plant::EventKind::Load, 3e5}, {0.006, plant::EventKind::PhaseJump, 10.0}};
    const ParseResult parsed = parseOptions({}, KESTRUNE_FMU_PATH, "");
    RunPlan plan;
    EXPECT_EQ(planRun(parsed.options, scenario, plan), "");
    plan.plant = plant;
    const std::string csvPath = (std::filesystem::path(testing::TempDir()) / "allocations.csv").string();
    std::ostringstream err;

    const long before = heapAllocations.load();
    {
        CsvRows csv(csvPath, true, writer);
        const ClosedLoopResult result = runClosedLoop(parsed.options.fmu, plan, false, &csv, nullptr, err);
        EXPECT_TRUE(result.ok) << result.error;
        csv.close();
    }
    return heapAllocations.load() - before;
}

// With either plant, the rows written on the loop's thread and on the CSV's own.
TEST(ClosedLoop, AllocatesNothingPerStep) {
    // A first run makes what lives as long as the process (the tool's hold
    // against interruption), so that the runs compared make only their own.
    allocationsOfARun(0.01, CsvRows::Writer::Direct, PlantChoice{});
    for (const PlantChoice &plant :
         {PlantChoice{}, PlantChoice{.fmu = true, .plantFmu = KESTRUNE_PLANT_FMU_PATH, .plantName = {}}})
        for (const CsvRows::Writer writer : {CsvRows::Writer::Direct, CsvRows::Writer::Background}) {
            SCOPED_TRACE(plant.fmu ? "the plant archive" : "the native plant");
            SCOPED_TRACE(writer == CsvRows::Writer::Direct ? "rows on the loop's thread"
                                                           : "rows on their own");
            const long shortRun = allocationsOfARun(0.01, writer, plant); // 2000 steps, 100 CSV rows
            const long longRun = allocationsOfARun(0.04, writer, plant);  // 8000 steps, 400 CSV rows
            EXPECT_GT(shortRun, 0);                                       // the counting works
            EXPECT_EQ(longRun, shortRun);
        }
}

} // namespace
} // namespace kestrune::sim
