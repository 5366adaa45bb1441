// Every instance owns its model: instances in one process, stepped in turn
// or on their own threads at once, each give exactly the gates they give
// alone.
#include "fmi3_fixture.h"

#include <cstdlib>
#include <functional>
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

// Handles that name no live instance of this copy of the library: refused
// with fmi3Error and no message, output arguments untouched, never
// dereferenced (the sanitizers' builds would stop on a read of freed or
// foreign memory), and the live instance steps on as if nothing happened.
TEST_F(InstancesFmi3Test, HandlesOfNoLiveInstanceAreRefusedWithoutTouchingAnything) {
    fmi3Instance freed = instance();
    freeInstance(freed);
    fmi3Instance freedLater = instance();
    freeInstance(freedLater);
    fmi3Instance survivor = initialized();
    fmi3Instance afterLive = instance();
    freeInstance(afterLive);
    Fmi3Driver otherCopy;
    ASSERT_TRUE(otherCopy.library.loadFreshCopy(KESTRUNE_FMI3_LIBRARY_PATH, master::FmiEdition::Fmi3));
    fmi3Instance ofOtherCopy = otherCopy.instantiate();
    ASSERT_NE(ofOtherCopy, nullptr);
    ASSERT_TRUE(otherCopy.initialize(ofOtherCopy));
    // Kept through a volatile so that the compiler does not follow the
    // address past its release.
    void *block = std::malloc(4096);
    const volatile std::uintptr_t blockAddress = reinterpret_cast<std::uintptr_t>(block);
    std::free(block);
    const std::uintptr_t freedMemory = blockAddress;
    double onStack[64] = {};
    const std::pair<const char *, fmi3Instance> handles[] = {
        {"null", nullptr},
        {"freed, its slot reused twice since", freed},
        {"freed, its slot reused since", freedLater},
        {"freed, its slot free", afterLive},
        {"of another loaded copy", ofOtherCopy},
        {"into freed memory", reinterpret_cast<fmi3Instance>(freedMemory)},
        {"into the stack", onStack},
        {"the master's logger", &logger},
        {"all ones", reinterpret_cast<fmi3Instance>(~std::uintptr_t{0})},
    };
    const master::Fmi3Functions &f = fmi();
    const Gates before = gates(survivor);
    logger.clear();
    for (const auto &[what, handle] : handles) {
        SCOPED_TRACE(what);
        StepResult r = step(handle, 0.0, BASE_STEP);
        EXPECT_EQ(r.status, fmi3Error);
        EXPECT_EQ(r.lastSuccessfulTime, -1.0);
        EXPECT_TRUE(r.eventHandlingNeeded);
        fmi3ValueReference vr = 0;
        double value = 7.0;
        EXPECT_EQ(f.fmi3GetFloat64(handle, &vr, 1, &value, 1), fmi3Error);
        EXPECT_EQ(value, 7.0);
        EXPECT_EQ(f.fmi3SetFloat64(handle, &vr, 1, &value, 1), fmi3Error);
        fmi3FMUState state = nullptr;
        EXPECT_EQ(f.fmi3GetFMUState(handle, &state), fmi3Error);
        EXPECT_EQ(state, nullptr);
        EXPECT_EQ(f.fmi3Terminate(handle), fmi3Error);
        EXPECT_EQ(f.fmi3Reset(handle), fmi3Error);
        EXPECT_EQ(f.fmi3EnterEventMode(handle), fmi3Error);
        f.fmi3FreeInstance(handle);
    }
    EXPECT_TRUE(logger.messages.empty());
    EXPECT_EQ(gates(survivor), before);
    EXPECT_EQ(run(survivor, 0, 100, runningGrid).size(), 100U);
    // The other copy's instance was neither freed nor stepped by this one.
    EXPECT_EQ(otherCopy.run(ofOtherCopy, 0, 20, runningGrid).size(), 20U);
    otherCopy.fmi().fmi3FreeInstance(ofOtherCopy);
}

} // namespace
} // namespace kestrune::fmi3test
