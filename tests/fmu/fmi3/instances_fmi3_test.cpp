// Every instance owns its model: instances in one process, stepped in turn
// or on their own threads at once, each give exactly the gates they give
// alone.
#include "fmi3_fixture.h"

#include <thread>

namespace kestrune::fmi3test {
namespace {

using InstancesFmi3Test = Fmi3Test;

// A grid per instance: phase, load and DC link differ.
Inputs gridOf(int which, double t) {
    master::BalancedGrid grid;
    grid.angle = 0.7 * which;
    grid.currentPeak = 10.0 * which;
    grid.dcVoltage = 500.0 - 10.0 * which;
    return master::gridInputs(grid, t);
}
template <int Which> Inputs gridFor(double t) {
    return gridOf(Which, t);
}
constexpr InputSource GRIDS[] = {gridFor<0>, gridFor<1>, gridFor<2>, gridFor<3>};
constexpr int INSTANCES = 4;

// A tenth of a second of grid which, on an instance of its own.
std::vector<Gates> alone(Fmi3Driver &driver, int which, int steps) {
    fmi3Instance i = driver.instantiate(TOKEN, false);
    std::vector<Gates> gates;
    if (i != nullptr && driver.initialize(i)) {
        gates = driver.run(i, 0, steps, GRIDS[which]);
    }
    driver.fmi().fmi3FreeInstance(i);
    return gates;
}

constexpr int STEPS = BASE_STEPS_PER_SECOND / 10;

TEST_F(InstancesFmi3Test, TwoInstancesSteppedInTurnGiveTheirLoneResults) {
    const std::vector<Gates> expected[2] = {alone(*this, 1, STEPS), alone(*this, 2, STEPS)};
    ASSERT_EQ(expected[0].size(), static_cast<std::size_t>(STEPS));
    ASSERT_NE(firstDifference(expected[0], expected[1]), -1) << "the grids must lead to different gates";
    fmi3Instance pair[2] = {initialized(false), initialized(false)};
    std::vector<Gates> gates[2];
    // In turns of uneven length, so that neither instance keeps pace.
    for (int k = 0; k < STEPS;) {
        const int chunk = 1 + k % 7;
        for (int n = 0; n < 2; ++n) {
            const std::vector<Gates> part = run(pair[n], k, std::min(chunk, STEPS - k), GRIDS[n + 1]);
            gates[n].insert(gates[n].end(), part.begin(), part.end());
        }
        k += chunk;
    }
    EXPECT_EQ(firstDifference(gates[0], expected[0]), -1);
    EXPECT_EQ(firstDifference(gates[1], expected[1]), -1);
}

TEST_F(InstancesFmi3Test, InstancesOnTheirOwnThreadsGiveTheirLoneResults) {
    std::vector<Gates> expected[INSTANCES];
    for (int n = 0; n < INSTANCES; ++n) {
        expected[n] = alone(*this, n, STEPS);
        ASSERT_EQ(expected[n].size(), static_cast<std::size_t>(STEPS));
    }
    std::vector<Gates> gates[INSTANCES];
    std::vector<std::thread> threads;
    for (int n = 0; n < INSTANCES; ++n) {
        threads.emplace_back([this, n, &gates] { gates[n] = alone(*this, n, STEPS); });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    for (int n = 0; n < INSTANCES; ++n) {
        EXPECT_EQ(firstDifference(gates[n], expected[n]), -1) << "instance " << n;
    }
}

} // namespace
} // namespace kestrune::fmi3test
