// A master that makes a second instance in the same loaded library. The unit
// serves one usable instance at a time: a second fmi2Instantiate makes a
// second record on the same library-wide model, which becomes the current one, and
// whatever the master then does with either, every call answers with a
// defined status and no memory is used after its release.
#include "fmi_fixture.h"

#include <functional>
#include <string>

namespace kestrune::fmitest {
namespace {

using TwoInstancesFmiTest = FmiTest;

std::string notInitialized(const char *function) {
    return std::string(function) + ": the model is not initialized. Call fmi2EnterInitializationMode first.";
}

TEST_F(TwoInstancesFmiTest, SecondInstanceSharesTheModelAndKeepsItsOwnTimeAndName) {
    fmi2Component first = initialized("first");
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(doStep(first, 0.0, 1e-4), fmi2OK);
    const double firstTime = afterBaseSteps(0.0, 20);

    // Instantiating does not touch the running model.
    fmi2Component second = instance("second");
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(readTime(second), 0.0);
    EXPECT_EQ(readTime(first), firstTime);

    // Both step the one model, each from its own time; the gates they read
    // are the same model outputs.
    logger.clear();
    ASSERT_EQ(doStep(second, 0.0, 2 * BASE_STEP), fmi2OK);
    ASSERT_EQ(doStep(first, firstTime, 3 * BASE_STEP), fmi2OK);
    EXPECT_EQ(readTime(second), afterBaseSteps(0.0, 2));
    EXPECT_EQ(readTime(first), afterBaseSteps(firstTime, 3));
    EXPECT_EQ(readGates(first), readGates(second));
    EXPECT_TRUE(legalGatePatterns(readGates(first)));
    // A step of one instance does not accept the other's time.
    EXPECT_EQ(doStep(second, afterBaseSteps(firstTime, 3), BASE_STEP), fmi2Error);

    // Each instance reports under its own name.
    ASSERT_EQ(logger.messages.size(), 6U);
    const char *expectedNames[] = {"second", "second", "first", "first", "second", "second"};
    for (std::size_t k = 0; k < logger.messages.size(); ++k) {
        EXPECT_EQ(logger.messages[k].instanceName, expectedNames[k]) << logger.messages[k].message;
    }
}

// One instance is freed, reset or terminated; the other answers every call
// with a defined status, steps again after a new initialization, and both
// are freed in either order.
TEST_F(TwoInstancesFmiTest, WhateverHappensToOneInstanceTheOtherAnswersAndRecovers) {
    enum class Act { Free, Reset, Terminate };
    struct Case {
        const char *what;
        Act act;
        bool onNewer;        // the act concerns the newer instance, else the older
        bool survivorSteps;  // the survivor's model is still started after the act
        bool freeNewerFirst; // the order of the final frees
    };
    const Case cases[] = {
        {"free the newer", Act::Free, true, false, false},
        {"free the older", Act::Free, false, false, true},
        {"reset the newer", Act::Reset, true, false, true},
        {"reset the older", Act::Reset, false, false, false},
        {"terminate the newer", Act::Terminate, true, true, false},
        {"terminate the older", Act::Terminate, false, true, true},
    };
    logger.enableStepFinished(true);
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        fmi2Component older = initialized("older");
        fmi2Component newer = initialized("newer");
        ASSERT_NE(older, nullptr);
        ASSERT_NE(newer, nullptr);
        ASSERT_EQ(doStep(older, 0.0, 1e-4), fmi2OK);
        const double olderTime = afterBaseSteps(0.0, 20);

        fmi2Component acted = k.onNewer ? newer : older;
        fmi2Component survivor = k.onNewer ? older : newer;
        const double survivorTime = k.onNewer ? olderTime : 0.0;
        switch (k.act) {
        case Act::Free:
            freeInstance(acted);
            break;
        case Act::Reset:
            ASSERT_EQ(fmi().reset(acted), fmi2OK);
            break;
        case Act::Terminate:
            ASSERT_EQ(fmi().terminate(acted), fmi2OK);
            break;
        }

        logger.clear();
        const fmi2Status expected = k.survivorSteps ? fmi2OK : fmi2Error;
        EXPECT_EQ(doStep(survivor, survivorTime, 1e-4), expected);
        EXPECT_EQ(count(notInitialized("fmi2DoStep")), k.survivorSteps ? 0U : 1U);
        EXPECT_EQ(fmi().exitInitializationMode(survivor), expected);
        ASSERT_EQ(logger.stepsFinished.size(), 1U);
        EXPECT_EQ(logger.stepsFinished[0].status, expected);
        EXPECT_EQ(writeReal(survivor, 0, 230.0), fmi2OK);
        EXPECT_EQ(readReal(survivor, 0), 230.0);
        EXPECT_TRUE(legalGatePatterns(readGates(survivor)));

        // A new initialization makes the survivor step again.
        ASSERT_TRUE(initialize(survivor));
        EXPECT_EQ(doStep(survivor, 0.0, 1e-4), fmi2OK);
        EXPECT_TRUE(legalGatePatterns(readGates(survivor)));
        for (const master::LogRecord &record : logger.messages) {
            EXPECT_EQ(record.instanceName, k.onNewer ? "older" : "newer") << record.message;
        }

        if (k.act == Act::Free) {
            // The freed one is refused, the survivor untouched by that.
            EXPECT_EQ(doStep(acted, 0.0, 1e-4), fmi2Error);
            EXPECT_EQ(fmi().reset(acted), fmi2Error);
            fmi().freeInstance(acted);
            freeInstance(survivor);
        } else {
            freeInstance(k.freeNewerFirst ? newer : older);
            freeInstance(k.freeNewerFirst ? older : newer);
        }
        // Both gone: a new instance starts as the first one did.
        fmi2Component next = initialized("next");
        ASSERT_NE(next, nullptr);
        EXPECT_EQ(doStep(next, 0.0, 1e-4), fmi2OK);
        freeInstance(next);
        logger.clear();
    }
}

} // namespace
} // namespace kestrune::fmitest
