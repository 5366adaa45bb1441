// Scheduled execution: the two partitions, activated in time and priority
// order, give the co-simulation interface's gates after every base step; a
// wrong activation is refused with a message and changes nothing.
#include "fmi3_fixture.h"

#include <cmath>
#include <limits>
#include <optional>

namespace kestrune::fmi3test {
namespace {

void noLock() {}

class ScheduledFmi3Test : public Fmi3Test {
  protected:
    fmi3Instance scheduled(bool loggingOn = true) {
        fmi3Instance i = fmi().fmi3InstantiateScheduledExecution(
            "scheduled", TOKEN, nullptr, fmi3False, loggingOn, &logger,
            master::RecordingLogger::fmi3Callback(), nullptr, noLock, noLock);
        if (i != nullptr) {
            live.push_back(i);
        }
        return i;
    }
    fmi3Status activate(fmi3Instance i, fmi3ValueReference clock, double t) {
        return fmi().fmi3ActivateModelPartition(i, clock, t);
    }
    // The activations of base tick k, base rate first; false on a refusal.
    bool tick(fmi3Instance i, int k) {
        const double t = static_cast<double>(k) * BASE_STEP;
        return activate(i, VR_BASE_RATE_CLOCK, t) == fmi3OK &&
               (k % SLOW_RATE_RATIO != 0 || activate(i, VR_SLOW_RATE_CLOCK, t) == fmi3OK);
    }
    // Ticks first to first + count - 1 after writing source's inputs of the
    // previous base step, as run() writes them before each fmi3DoStep.
    std::vector<Gates> ticks(fmi3Instance i, int first, int count, InputSource source) {
        std::vector<Gates> result;
        for (int k = first; k < first + count; ++k) {
            if (writeInputs(i, source(static_cast<double>(k - 1) * BASE_STEP)) != fmi3OK || !tick(i, k)) {
                break;
            }
            result.push_back(gates(i));
        }
        return result;
    }
};

// The master's scheduler against the co-simulation interface, one base step
// per communication step: bit-identical gates after every base step.
TEST_F(ScheduledFmi3Test, PartitionsInTimeAndPriorityOrderGiveTheCoSimulationGatesForOneSecond) {
    const std::pair<const char *, InputSource> grids[] = {{"running grid", runningGrid},
                                                          {"disturbed grid", disturbedGrid}};
    for (const auto &[what, source] : grids) {
        SCOPED_TRACE(what);
        master::Session3 coSimulation(library, logger);
        master::ScheduledSession schedule(library, logger);
        ASSERT_TRUE(coSimulation.instantiate() && schedule.instantiate());
        ASSERT_EQ(coSimulation.initialize(), fmi2OK);
        ASSERT_EQ(schedule.initialize(), fmi2OK);
        std::vector<Gates> expected(BASE_STEPS_PER_SECOND + 1);
        std::vector<Gates> found(BASE_STEPS_PER_SECOND + 1);
        ASSERT_EQ(coSimulation.readGates(expected[0]), fmi2OK);
        ASSERT_EQ(schedule.readGates(found[0]), fmi2OK);
        for (int k = 0; k < BASE_STEPS_PER_SECOND; ++k) {
            const double t = static_cast<double>(k) * BASE_STEP;
            ASSERT_EQ(coSimulation.setInputs(source(t)), fmi2OK);
            ASSERT_EQ(schedule.setInputs(source(t)), fmi2OK);
            ASSERT_EQ(coSimulation.doStep(t, BASE_STEP), fmi2OK);
            ASSERT_EQ(schedule.doStep(t, BASE_STEP), fmi2OK) << "base step " << k;
            coSimulation.readGates(expected[static_cast<std::size_t>(k) + 1]);
            schedule.readGates(found[static_cast<std::size_t>(k) + 1]);
        }
        EXPECT_EQ(firstDifference(found, expected), -1) << "first differing base step";
        EXPECT_NE(std::count(found.begin(), found.end(), found.front()), BASE_STEPS_PER_SECOND + 1);
        EXPECT_EQ(schedule.readTime(), coSimulation.readTime());
    }
    EXPECT_TRUE(errors().empty());
}

// A scheduler without both clocks, or whose slow rate is no whole number of
// base-rate ticks, does not instantiate rather than activate out of time.
TEST_F(ScheduledFmi3Test, SessionWithoutUsableClocksDoesNotInstantiate) {
    const master::ClockBinding base{VR_BASE_RATE_CLOCK, BASE_STEP};
    struct Case {
        const char *what;
        std::optional<master::ClockBinding> base;
        std::optional<master::ClockBinding> slow;
    };
    const Case cases[] = {
        {"no slow-rate clock", base, std::nullopt},
        {"slow rate faster than the base rate", base, master::ClockBinding{VR_SLOW_RATE_CLOCK, 2e-6}},
        {"no base-rate period", master::ClockBinding{VR_BASE_RATE_CLOCK, 0.0},
         master::ClockBinding{VR_SLOW_RATE_CLOCK, SLOW_STEP}},
    };
    for (const Case &c : cases) {
        master::VariableBindings bindings = master::Session3::fmi3Bindings();
        bindings.baseRateClock = c.base;
        bindings.slowRateClock = c.slow;
        master::ScheduledSession schedule(library, logger, bindings);
        EXPECT_FALSE(schedule.instantiate()) << c.what;
        EXPECT_EQ(schedule.doStep(0.0, BASE_STEP), fmi2Error) << c.what;
    }
}

// Each wrong use answers fmi3Error with a message, and an instance that saw
// them all still gives the gates of one that saw none.
TEST_F(ScheduledFmi3Test, WrongUseIsRefusedAndChangesNothing) {
    fmi3Instance i = scheduled();
    fmi3Instance clean = scheduled();
    fmi3Instance coSimulation = initialized();
    ASSERT_TRUE(i != nullptr && clean != nullptr);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const auto refused = [&](fmi3Status status, const std::string &prefix, const std::string &part) {
        EXPECT_EQ(status, fmi3Error);
        EXPECT_TRUE(oneError(prefix, part));
        logger.clear();
    };
    const std::string activation = "fmi3ActivateModelPartition: ";

    logger.clear();
    refused(activate(i, VR_BASE_RATE_CLOCK, 0.0), activation, "not allowed in the instantiated state");
    ASSERT_EQ(enterInitialization(i), fmi3OK);
    refused(activate(i, VR_BASE_RATE_CLOCK, 0.0), activation, "not allowed in initialization mode");
    ASSERT_EQ(fmi().fmi3ExitInitializationMode(i), fmi3OK);
    ASSERT_TRUE(enterInitialization(clean) == fmi3OK && fmi().fmi3ExitInitializationMode(clean) == fmi3OK);

    refused(activate(i, FIRST_GATE_VR, 0.0), activation, "7 is not an input clock");
    refused(activate(i, VR_BASE_RATE_CLOCK, BASE_STEP), activation, "ticks next at 0, not at");
    refused(activate(i, VR_SLOW_RATE_CLOCK, 0.0), activation, "needs the base-rate clock");
    refused(activate(i, VR_BASE_RATE_CLOCK, nan), activation, "ticks next at 0, not at nan");
    // The co-simulation interface on this instance, and the reverse.
    refused(step(i, 0.0, BASE_STEP).status, "fmi3DoStep: ", "made for scheduled execution");
    fmi3FMUState state = nullptr;
    refused(fmi().fmi3GetFMUState(i, &state), "fmi3GetFMUState: ", "co-simulation only");
    EXPECT_EQ(state, nullptr);
    refused(activate(coSimulation, VR_BASE_RATE_CLOCK, BASE_STEP), activation, "made for co-simulation");

    ASSERT_TRUE(tick(i, 0) && tick(clean, 0));
    refused(activate(i, VR_BASE_RATE_CLOCK, 0.0), activation, "does not increase");
    refused(activate(i, VR_SLOW_RATE_CLOCK, 0.0), activation, "does not increase");
    refused(activate(i, VR_SLOW_RATE_CLOCK, -1.0), activation, "does not increase");
    const std::vector<Gates> early = ticks(i, 1, 19, disturbedGrid);
    ASSERT_EQ(ticks(clean, 1, 19, disturbedGrid), early);
    // The slow tick at 1e-4 before the base-rate tick at that instant.
    refused(activate(i, VR_SLOW_RATE_CLOCK, 20 * BASE_STEP), activation, "needs the base-rate clock");
    refused(activate(i, VR_SLOW_RATE_CLOCK, 40 * BASE_STEP), activation, "ticks next at 0.0001");

    const std::vector<Gates> expected = ticks(clean, 20, 4000, disturbedGrid);
    EXPECT_EQ(firstDifference(ticks(i, 20, 4000, disturbedGrid), expected), -1);
    EXPECT_EQ(read(i, TIME_VR), read(clean, TIME_VR));

    ASSERT_EQ(fmi().fmi3Terminate(i), fmi3OK);
    refused(activate(i, VR_BASE_RATE_CLOCK, 4020 * BASE_STEP), activation,
            "not allowed in the terminated state");
    // After a reset the instance runs as a fresh one.
    ASSERT_EQ(fmi().fmi3Reset(i), fmi3OK);
    ASSERT_TRUE(enterInitialization(i) == fmi3OK && fmi().fmi3ExitInitializationMode(i) == fmi3OK);
    fmi3Instance fresh = scheduled();
    ASSERT_TRUE(enterInitialization(fresh) == fmi3OK && fmi().fmi3ExitInitializationMode(fresh) == fmi3OK);
    ASSERT_TRUE(tick(i, 0) && tick(fresh, 0));
    EXPECT_EQ(firstDifference(ticks(i, 1, 400, runningGrid), ticks(fresh, 1, 400, runningGrid)), -1);
}

} // namespace
} // namespace kestrune::fmi3test
