// Creating, setting up, initializing, resetting and destroying instances,
// seen from the master's side.
#include "fmi_fixture.h"

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace kestrune::fmitest {
namespace {

using LifecycleFmiTest = FmiTest;

TEST_F(LifecycleFmiTest, IdentifiesAsDefaultPlatformAndVersion2) {
    ASSERT_NE(fmi().getTypesPlatform(), nullptr);
    ASSERT_NE(fmi().getVersion(), nullptr);
    EXPECT_STREQ(fmi().getTypesPlatform(), "default");
    EXPECT_STREQ(fmi().getVersion(), "2.0");
    EXPECT_TRUE(logger.messages.empty());
}

TEST_F(LifecycleFmiTest, InstantiateWithoutLoggerReturnsNullAndCallsNothing) {
    EXPECT_EQ(instantiateWith(INSTANCE_NAME, GUID, nullptr, nullptr), nullptr);

    // A callback record without a logger; its stepFinished would show any call.
    logger.enableStepFinished(true);
    fmi2CallbackFunctions withoutLogger = *logger.callbacks();
    withoutLogger.logger = nullptr;
    EXPECT_EQ(instantiateWith(INSTANCE_NAME, GUID, nullptr, &withoutLogger), nullptr);
    // The logger is checked before anything else is looked at.
    EXPECT_EQ(instantiateWith(nullptr, nullptr, "http://remote/resources", &withoutLogger), nullptr);

    EXPECT_TRUE(logger.messages.empty());
    EXPECT_TRUE(logger.stepsFinished.empty());
}

TEST_F(LifecycleFmiTest, InstantiateRejectsMissingNamesAndWrongGuids) {
    struct Case {
        const char *what;
        const char *name;
        const char *guid;
        const char *reportedName;
        const char *message;
    };
    const Case cases[] = {
        {"null name", nullptr, GUID, "?", "fmi2Instantiate: Missing instance name."},
        {"empty name", "", GUID, "?", "fmi2Instantiate: Missing instance name."},
        {"name checked before GUID", "", nullptr, "?", "fmi2Instantiate: Missing instance name."},
        {"null GUID", "unit", nullptr, "unit", "fmi2Instantiate: Missing GUID."},
        {"empty GUID", "unit", "", "unit", "fmi2Instantiate: Missing GUID."},
        {"GUID in upper case", "unit", "{5C0F3A91-7E2D-4B68-9D14-A2C7E85F0B36}", "unit",
         "fmi2Instantiate: Wrong GUID {5C0F3A91-7E2D-4B68-9D14-A2C7E85F0B36}. "
         "Expected {5c0f3a91-7e2d-4b68-9d14-a2c7e85f0b36}."},
        {"GUID with one letter in upper case", "unit", "{5c0f3a91-7e2d-4b68-9d14-a2c7e85f0b3F}", "unit",
         "fmi2Instantiate: Wrong GUID {5c0f3a91-7e2d-4b68-9d14-a2c7e85f0b3F}. "
         "Expected {5c0f3a91-7e2d-4b68-9d14-a2c7e85f0b36}."},
        {"GUID without braces", "unit", "5c0f3a91-7e2d-4b68-9d14-a2c7e85f0b36", "unit",
         "fmi2Instantiate: Wrong GUID 5c0f3a91-7e2d-4b68-9d14-a2c7e85f0b36. "
         "Expected {5c0f3a91-7e2d-4b68-9d14-a2c7e85f0b36}."},
        {"GUID with a trailing character", "unit", "{5c0f3a91-7e2d-4b68-9d14-a2c7e85f0b36}x", "unit",
         "fmi2Instantiate: Wrong GUID {5c0f3a91-7e2d-4b68-9d14-a2c7e85f0b36}x. "
         "Expected {5c0f3a91-7e2d-4b68-9d14-a2c7e85f0b36}."},
        {"GUID cut short", "unit", "{5c0f3a91-7e2d-4b68-9d14-a2c7e85f0b3", "unit",
         "fmi2Instantiate: Wrong GUID {5c0f3a91-7e2d-4b68-9d14-a2c7e85f0b3. "
         "Expected {5c0f3a91-7e2d-4b68-9d14-a2c7e85f0b36}."},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        logger.clear();
        EXPECT_EQ(instantiateWith(k.name, k.guid, nullptr, logger.callbacks()), nullptr);
        ASSERT_EQ(logger.messages.size(), 1U);
        EXPECT_EQ(messages()[0], error(k.message));
        EXPECT_EQ(logger.messages[0].instanceName, k.reportedName);
    }
}

TEST_F(LifecycleFmiTest, ResourceLocationsOfLocalFilesAreAccepted) {
    const std::string longestPath(1023, 'p');
    const std::string accepted[] = {
        "file:///C:/Models/unit/resources/",
        "file:/C:/dir",
        "file://localhost/C:/dir",
        "file://server/share",
        "file:///C:/My%20Files/x",
        "file:///C:/%4a%4A",
        "file:///C:/a%2Fb",
        "file:///C:/a%G1b",
        "file:///C:/dir%",
        "file:////",
        "C:\\plain\\path",
        "/unix/style/path",
        "file:///" + longestPath,
        "file:///" + longestPath + "///",
        longestPath,
    };
    for (const std::string &location : accepted) {
        SCOPED_TRACE(location.substr(0, 60));
        fmi2Component c = instantiate(INSTANCE_NAME, location.c_str());
        EXPECT_NE(c, nullptr);
        if (c != nullptr) {
            freeInstance(c);
        }
    }
    // No location at all is accepted too.
    EXPECT_NE(instantiate(INSTANCE_NAME, nullptr), nullptr);
    EXPECT_TRUE(logger.messages.empty());
}

TEST_F(LifecycleFmiTest, ResourceLocationsThatAreNoLocalPathAreRejected) {
    const std::string tooLongPath(1024, 'p');
    const std::string rejected[] = {
        "http://example.invalid/unit/resources",
        "https://example.invalid/unit/resources",
        "httpanything",
        "ftp://example.invalid/unit/resources",
        "ftpanything",
        "file:///",
        "file:///%00x",
        "file:///%G1abc",
        "file:///" + tooLongPath,
        "file:///" + std::string(1023, 'p') + "%41",
        "file:///" + std::string(1023, 'p') + "///x",
        "file:///" + std::string(5000, 'p'),
        "file://localhost/" + tooLongPath,
        tooLongPath,
        std::string(5000, 'p'),
    };
    for (const std::string &location : rejected) {
        SCOPED_TRACE(location.substr(0, 60));
        logger.clear();
        EXPECT_EQ(instantiate("unit", location.c_str()), nullptr);
        ASSERT_EQ(logger.messages.size(), 1U);
        EXPECT_EQ(messages()[0], error("fmi2Instantiate: uriToLocal cannot handle fmuResourceLocation."));
        EXPECT_EQ(logger.messages[0].instanceName, "unit");
    }
}

TEST_F(LifecycleFmiTest, StartTimeMustBeZeroWithinTolerance) {
    struct Case {
        double startTime;
        bool accepted;
    };
    const Case cases[] = {
        {0.0, true},    {5e-8, true}, {-5e-8, true}, {1e-7, true}, {-1e-7, true}, {2e-7, false},
        {-2e-7, false}, {1.0, false}, {NaN, false},  {INF, false}, {-INF, false},
    };
    fmi2Component c = instance();
    ASSERT_NE(c, nullptr);
    const double previous = 3e-8;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.startTime);
        ASSERT_EQ(setup(c, previous), fmi2OK);
        logger.clear();
        if (k.accepted) {
            EXPECT_EQ(setup(c, k.startTime), fmi2OK);
            EXPECT_TRUE(logger.messages.empty());
            EXPECT_EQ(readTime(c), k.startTime);
        } else {
            EXPECT_EQ(setup(c, k.startTime), fmi2Error);
            ASSERT_EQ(logger.messages.size(), 1U);
            EXPECT_EQ(messages()[0], error("start time is not zero."));
            EXPECT_EQ(logger.messages[0].instanceName, INSTANCE_NAME);
            EXPECT_EQ(readTime(c), previous);
        }
    }
}

TEST_F(LifecycleFmiTest, SetupIgnoresToleranceAndStopTime) {
    fmi2Component c = instance();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(fmi().setupExperiment(c, fmi2True, 1e-9, 5e-8, fmi2True, -1.0), fmi2OK);
    EXPECT_EQ(readTime(c), 5e-8);
    EXPECT_EQ(fmi().setupExperiment(c, fmi2True, NaN, 0.0, fmi2True, NaN), fmi2OK);
    EXPECT_EQ(readTime(c), 0.0);
    EXPECT_TRUE(logger.messages.empty());
}

TEST_F(LifecycleFmiTest, TimeIsStartTimeAfterInitializationAdvancesWithStepsAndSurvivesReset) {
    fmi2Component c = instance();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(readTime(c), 0.0);

    ASSERT_EQ(setup(c, 5e-8), fmi2OK);
    ASSERT_EQ(fmi().enterInitializationMode(c), fmi2OK);
    EXPECT_EQ(readTime(c), 5e-8);
    // The base step run by leaving initialization mode is not counted.
    ASSERT_EQ(fmi().exitInitializationMode(c), fmi2OK);
    EXPECT_EQ(readTime(c), 5e-8);
    // The first slow period modulates the initial reference 0: every leg at
    // the neutral point.
    for (fmi2ValueReference vr = FIRST_GATE_VR; vr < FIRST_GATE_VR + GATE_COUNT; ++vr) {
        const bool innerSwitch = (vr - FIRST_GATE_VR) % 4 == 1 || (vr - FIRST_GATE_VR) % 4 == 2;
        EXPECT_EQ(readReal(c, vr), innerSwitch ? 1.0 : 0.0) << "gate vr " << vr;
    }

    ASSERT_EQ(doStep(c, 5e-8, 1e-4), fmi2OK);
    const double afterFirst = afterBaseSteps(5e-8, 20);
    EXPECT_EQ(readTime(c), afterFirst);
    ASSERT_EQ(doStep(c, afterFirst, 3 * BASE_STEP), fmi2OK);
    const double reached = afterBaseSteps(afterFirst, 3);
    EXPECT_EQ(readTime(c), reached);

    EXPECT_EQ(fmi().terminate(c), fmi2OK);
    EXPECT_EQ(readTime(c), reached);
    EXPECT_EQ(fmi().reset(c), fmi2OK);
    EXPECT_EQ(readTime(c), reached);

    // The reset instance goes back into use through a new set-up.
    ASSERT_TRUE(initialize(c, 0.0));
    EXPECT_EQ(readTime(c), 0.0);
    EXPECT_EQ(doStep(c, 0.0, 1e-4), fmi2OK);
    EXPECT_EQ(readTime(c), afterBaseSteps(0.0, 20));

    EXPECT_EQ(count("start time is not zero."), 0U);
    for (const master::LogRecord &record : logger.messages) {
        EXPECT_EQ(record.status, fmi2OK) << record.message;
    }
}

// Every exported function that takes a component answers a null one, and
// one already freed, with fmi2Error (fmi2FreeInstance by returning), without
// a message, without touching the freed memory and without acting on any
// live instance.
TEST_F(LifecycleFmiTest, NullOrFreedComponentIsRefusedByEveryFunctionThatTakesOne) {
    // Freed before the live one is made, and after it.
    fmi2Component freedBefore = instance("freed");
    ASSERT_NE(freedBefore, nullptr);
    freeInstance(freedBefore);
    fmi2Component running = instance("running", true);
    ASSERT_NE(running, nullptr);
    ASSERT_TRUE(initialize(running));
    fmi2Component freedAfter = instance("freed");
    ASSERT_NE(freedAfter, nullptr);
    freeInstance(freedAfter);
    ASSERT_TRUE(initialize(running));
    ASSERT_EQ(writeReal(running, 0, 7.0), fmi2OK);
    logger.enableStepFinished(true);
    logger.clear();

    for (const fmi2Component none : {fmi2Component{nullptr}, freedBefore, freedAfter}) {
        SCOPED_TRACE(none == nullptr ? "null component" : "freed component");
        if (none == running) {
            continue; // the allocator gave the freed address to the live instance
        }
        const fmi2ValueReference vr[2] = {0, 1};
        fmi2Real reals[2] = {1.0, 2.0};
        fmi2Integer integers[2] = {1, 2};
        fmi2Boolean booleans[2] = {fmi2True, fmi2True};
        fmi2String strings[2] = {"a", "b"};
        fmi2Integer orders[2] = {1, 1};
        fmi2FMUstate state = nullptr;
        size_t size = 0;
        fmi2Byte bytes[8] = {};
        fmi2EventInfo eventInfo{};
        fmi2Boolean flag1 = fmi2False;
        fmi2Boolean flag2 = fmi2False;
        fmi2Status status = fmi2OK;
        fmi2Real real = 0.0;
        fmi2Integer integer = 0;
        fmi2Boolean boolean = fmi2False;
        fmi2String string = nullptr;
        const fmi2String categories[1] = {"logAll"};

        const master::Fmi2Functions &f = fmi();
        struct Case {
            const char *name;
            std::function<fmi2Status()> call;
        };
        const std::vector<Case> cases = {
            {"fmi2SetDebugLogging", [&] { return f.setDebugLogging(none, fmi2False, 1, categories); }},
            {"fmi2SetupExperiment",
             [&] { return f.setupExperiment(none, fmi2False, 0.0, 1.0, fmi2False, 0.0); }},
            {"fmi2EnterInitializationMode", [&] { return f.enterInitializationMode(none); }},
            {"fmi2ExitInitializationMode", [&] { return f.exitInitializationMode(none); }},
            {"fmi2Terminate", [&] { return f.terminate(none); }},
            {"fmi2Reset", [&] { return f.reset(none); }},
            {"fmi2GetReal", [&] { return f.getReal(none, vr, 2, reals); }},
            {"fmi2GetInteger", [&] { return f.getInteger(none, vr, 2, integers); }},
            {"fmi2GetBoolean", [&] { return f.getBoolean(none, vr, 2, booleans); }},
            {"fmi2GetString", [&] { return f.getString(none, vr, 2, strings); }},
            {"fmi2SetReal", [&] { return f.setReal(none, vr, 2, reals); }},
            {"fmi2SetInteger", [&] { return f.setInteger(none, vr, 2, integers); }},
            {"fmi2SetBoolean", [&] { return f.setBoolean(none, vr, 2, booleans); }},
            {"fmi2SetString", [&] { return f.setString(none, vr, 2, strings); }},
            {"fmi2GetFMUstate", [&] { return f.getFMUstate(none, &state); }},
            {"fmi2SetFMUstate", [&] { return f.setFMUstate(none, state); }},
            {"fmi2FreeFMUstate", [&] { return f.freeFMUstate(none, &state); }},
            {"fmi2SerializedFMUstateSize", [&] { return f.serializedFMUstateSize(none, state, &size); }},
            {"fmi2SerializeFMUstate", [&] { return f.serializeFMUstate(none, state, bytes, sizeof bytes); }},
            {"fmi2DeSerializeFMUstate",
             [&] { return f.deSerializeFMUstate(none, bytes, sizeof bytes, &state); }},
            {"fmi2GetDirectionalDerivative",
             [&] { return f.getDirectionalDerivative(none, vr, 2, vr, 2, reals, reals); }},
            {"fmi2EnterEventMode", [&] { return f.enterEventMode(none); }},
            {"fmi2NewDiscreteStates", [&] { return f.newDiscreteStates(none, &eventInfo); }},
            {"fmi2EnterContinuousTimeMode", [&] { return f.enterContinuousTimeMode(none); }},
            {"fmi2CompletedIntegratorStep",
             [&] { return f.completedIntegratorStep(none, fmi2True, &flag1, &flag2); }},
            {"fmi2SetTime", [&] { return f.setTime(none, 1.0); }},
            {"fmi2SetContinuousStates", [&] { return f.setContinuousStates(none, reals, 2); }},
            {"fmi2GetDerivatives", [&] { return f.getDerivatives(none, reals, 2); }},
            {"fmi2GetEventIndicators", [&] { return f.getEventIndicators(none, reals, 2); }},
            {"fmi2GetContinuousStates", [&] { return f.getContinuousStates(none, reals, 2); }},
            {"fmi2GetNominalsOfContinuousStates",
             [&] { return f.getNominalsOfContinuousStates(none, reals, 2); }},
            {"fmi2SetRealInputDerivatives",
             [&] { return f.setRealInputDerivatives(none, vr, 2, orders, reals); }},
            {"fmi2GetRealOutputDerivatives",
             [&] { return f.getRealOutputDerivatives(none, vr, 2, orders, reals); }},
            {"fmi2DoStep", [&] { return f.doStep(none, 0.0, 1e-4, fmi2True); }},
            {"fmi2CancelStep", [&] { return f.cancelStep(none); }},
            {"fmi2GetStatus", [&] { return f.getStatus(none, fmi2DoStepStatus, &status); }},
            {"fmi2GetRealStatus", [&] { return f.getRealStatus(none, fmi2LastSuccessfulTime, &real); }},
            {"fmi2GetIntegerStatus", [&] { return f.getIntegerStatus(none, fmi2DoStepStatus, &integer); }},
            {"fmi2GetBooleanStatus", [&] { return f.getBooleanStatus(none, fmi2Terminated, &boolean); }},
            {"fmi2GetStringStatus", [&] { return f.getStringStatus(none, fmi2PendingStatus, &string); }},
        };
        // Together with fmi2FreeInstance below: all functions but the two
        // inquiries and fmi2Instantiate.
        EXPECT_EQ(cases.size() + 1, 44U - 3U);

        for (const Case &k : cases) {
            SCOPED_TRACE(k.name);
            EXPECT_EQ(k.call(), fmi2Error);
        }
        // Freeing twice is harmless.
        f.freeInstance(none);
        f.freeInstance(none);

        EXPECT_TRUE(logger.messages.empty());
        EXPECT_TRUE(logger.stepsFinished.empty());
        EXPECT_EQ(reals[0], 1.0);
        EXPECT_EQ(reals[1], 2.0);
    }
    // Nothing reached the live instance either.
    logger.clear();
    EXPECT_EQ(readTime(running), 0.0);
    EXPECT_EQ(readReal(running, 0), 7.0);
    EXPECT_EQ(logger.messages.size(), 2U) << "loggingOn of the live instance was changed";
    EXPECT_EQ(doStep(running, 0.0, 1e-4), fmi2OK);
}

TEST_F(LifecycleFmiTest, FreeingTheNewerInstanceLeavesTheOlderOneUsable) {
    fmi2Component older = instance("older");
    ASSERT_NE(older, nullptr);
    ASSERT_TRUE(initialize(older));
    ASSERT_EQ(doStep(older, 0.0, 1e-4), fmi2OK);
    const double olderTime = afterBaseSteps(0.0, 20);

    fmi2Component newer = instance("newer");
    ASSERT_NE(newer, nullptr);
    // Each instance publishes its own time.
    EXPECT_EQ(readTime(newer), 0.0);
    EXPECT_EQ(readTime(older), olderTime);
    ASSERT_TRUE(initialize(newer));
    ASSERT_EQ(doStep(newer, 0.0, 2 * BASE_STEP), fmi2OK);
    EXPECT_EQ(readTime(older), olderTime);
    freeInstance(newer);

    // Freeing the newer instance terminated the hosted blocks of the model
    // both share: the older one steps again only after a new initialization.
    logger.clear();
    EXPECT_EQ(doStep(older, olderTime, 1e-4), fmi2Error);
    EXPECT_EQ(count("fmi2DoStep: the model is not initialized. Call fmi2EnterInitializationMode first."), 1U);
    EXPECT_EQ(readTime(older), olderTime);
    ASSERT_TRUE(initialize(older));
    EXPECT_EQ(doStep(older, 0.0, 1e-4), fmi2OK);
    EXPECT_EQ(readTime(older), afterBaseSteps(0.0, 20));
    double gates[GATE_COUNT] = {};
    fmi2ValueReference gateVrs[GATE_COUNT] = {};
    for (fmi2ValueReference k = 0; k < GATE_COUNT; ++k) {
        gateVrs[k] = FIRST_GATE_VR + k;
    }
    EXPECT_EQ(fmi().getReal(older, gateVrs, GATE_COUNT, gates), fmi2OK);
    ASSERT_FALSE(logger.messages.empty());
    for (const master::LogRecord &record : logger.messages) {
        EXPECT_EQ(record.instanceName, "older") << record.message;
    }
    EXPECT_EQ(fmi().reset(older), fmi2OK);
    EXPECT_TRUE(initialize(older));
    EXPECT_EQ(doStep(older, 0.0, 1e-4), fmi2OK);
}

TEST_F(LifecycleFmiTest, FailedInstantiationDoesNotDisturbTheLiveInstance) {
    fmi2Component running = initialized("running");
    ASSERT_NE(running, nullptr);
    ASSERT_EQ(doStep(running, 0.0, 1e-4), fmi2OK);
    double time = afterBaseSteps(0.0, 20);

    // Failures before and after the record is made.
    EXPECT_EQ(instantiateWith("bad", "{wrong}", nullptr, logger.callbacks()), nullptr);
    EXPECT_EQ(instantiate("bad", "http://example.invalid/resources"), nullptr);
    EXPECT_EQ(instantiate("bad", "file:///"), nullptr);

    logger.clear();
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(doStep(running, time, 1e-4), fmi2OK);
        time = afterBaseSteps(time, 20);
        EXPECT_EQ(readTime(running), time);
    }
    for (const master::LogRecord &record : logger.messages) {
        EXPECT_EQ(record.instanceName, "running") << record.message;
    }
    // A later instantiation still works, and so does the live one after it.
    fmi2Component next = instance("next");
    ASSERT_NE(next, nullptr);
    freeInstance(next);
    // Freeing it terminated the shared model's hosted blocks.
    EXPECT_EQ(doStep(running, time, 1e-4), fmi2Error);
    ASSERT_TRUE(initialize(running));
    EXPECT_EQ(doStep(running, 0.0, 1e-4), fmi2OK);
    freeInstance(running);
}

} // namespace
} // namespace kestrune::fmitest
