// Initialization and the hosted delay lines seen from the master's side: no
// step runs while the lines are not started, and no lifecycle leaves memory
// behind.
#include "fmi_fixture.h"

#include <functional>
#include <string>

namespace kestrune::fmitest {
namespace {

using InitializationFmiTest = FmiTest;

std::string notInitialized(const char *function) {
    return std::string(function) + ": the model is not initialized. Call fmi2EnterInitializationMode first.";
}

TEST_F(InitializationFmiTest, NoStepRunsWhileTheHostedBlocksAreNotStarted) {
    struct Case {
        const char *what;
        std::function<fmi2Component()> arrange; // an instance whose model may not step
    };
    const Case cases[] = {
        {"before the first initialization",
         [&] {
             fmi2Component c = instance("fresh");
             EXPECT_EQ(setup(c, 0.0), fmi2OK);
             return c;
         }},
        {"after a reset",
         [&] {
             fmi2Component c = initialized("reset");
             EXPECT_EQ(doStep(c, 0.0, 1e-4), fmi2OK);
             EXPECT_EQ(fmi().reset(c), fmi2OK);
             return c;
         }},
        {"after another instance was freed",
         [&] {
             fmi2Component c = initialized("survivor");
             freeInstance(instance("other"));
             return c;
         }},
    };
    logger.enableStepFinished(true);
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        fmi2Component c = k.arrange();
        ASSERT_NE(c, nullptr);
        const double time = readTime(c);
        logger.clear();

        EXPECT_EQ(fmi().exitInitializationMode(c), fmi2Error);
        EXPECT_EQ(doStep(c, time, 1e-4), fmi2Error);
        EXPECT_EQ(readTime(c), time) << "no base step may run";
        ASSERT_GE(logger.messages.size(), 2U);
        EXPECT_EQ(messages()[0], error(notInitialized("fmi2ExitInitializationMode")));
        EXPECT_EQ(count(notInitialized("fmi2DoStep")), 1U);
        ASSERT_EQ(logger.stepsFinished.size(), 1U);
        EXPECT_EQ(logger.stepsFinished[0].status, fmi2Error);

        // A successful initialization makes the instance usable again.
        ASSERT_TRUE(initialize(c));
        EXPECT_EQ(doStep(c, 0.0, 1e-4), fmi2OK);
        EXPECT_EQ(readTime(c), afterBaseSteps(0.0, 20));
        freeInstance(c);
    }
}

TEST_F(InitializationFmiTest, ResetFreeAndSecondInstanceTerminateWithoutReleasingTwice) {
    // Reset, then free: the second terminate finds nothing left to release.
    fmi2Component first = initialized("first");
    ASSERT_EQ(fmi().reset(first), fmi2OK);
    freeInstance(first);

    // Two instances freed one after the other, and a re-initialization
    // without a reset in between.
    fmi2Component a = initialized("a");
    fmi2Component b = initialized("b");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(fmi().enterInitializationMode(a), fmi2OK);
    freeInstance(b);
    freeInstance(a);
    for (const master::LogRecord &record : logger.messages) {
        EXPECT_EQ(record.status, fmi2OK) << record.message;
    }
}

// The lifecycle soak: the sanitizer build's leak check at exit finds anything
// a cycle left, and its address checks any use of released memory.
TEST_F(InitializationFmiTest, TenThousandLifecyclesLeaveNoMemoryBehind) {
    for (int cycle = 0; cycle < 10000; ++cycle) {
        fmi2Component c = fmi().instantiate(INSTANCE_NAME, fmi2CoSimulation, GUID, nullptr,
                                            logger.callbacks(), fmi2False, fmi2False);
        ASSERT_NE(c, nullptr) << "cycle " << cycle;
        ASSERT_TRUE(initialize(c)) << "cycle " << cycle;
        ASSERT_EQ(doStep(c, 0.0, 3 * BASE_STEP), fmi2OK) << "cycle " << cycle;
        ASSERT_EQ(fmi().reset(c), fmi2OK) << "cycle " << cycle;
        ASSERT_TRUE(initialize(c)) << "cycle " << cycle;
        ASSERT_EQ(doStep(c, 0.0, 2 * BASE_STEP), fmi2OK) << "cycle " << cycle;
        fmi().freeInstance(c);
        logger.clear();
    }
}

} // namespace
} // namespace kestrune::fmitest
