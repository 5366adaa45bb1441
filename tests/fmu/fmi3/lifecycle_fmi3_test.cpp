// The life cycle of an FMI 3.0 instance and the checks of its calls: each
// refusal is fmi3Error with one message naming the function, and leaves the
// instance as it was.
#include "fmi3_fixture.h"

#include <functional>
#include <limits>

namespace kestrune::fmi3test {
namespace {

using LifecycleFmi3Test = Fmi3Test;

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double INF = std::numeric_limits<double>::infinity();

TEST_F(LifecycleFmi3Test, InstantiationRefusesAWrongTokenEventModeAndNoName) {
    EXPECT_EQ(instance("{00000000-0000-0000-0000-000000000000}"), nullptr);
    EXPECT_TRUE(oneError("fmi3InstantiateCoSimulation: wrong instantiation token"));
    logger.clear();
    EXPECT_EQ(instance(TOKEN, true, true), nullptr);
    EXPECT_TRUE(oneError("fmi3InstantiateCoSimulation: ", "eventModeUsed"));
    logger.clear();
    EXPECT_EQ(fmi().fmi3InstantiateCoSimulation("", TOKEN, nullptr, fmi3False, fmi3True, fmi3False, fmi3False,
                                                nullptr, 0, &logger, master::RecordingLogger::fmi3Callback(),
                                                nullptr),
              nullptr);
    EXPECT_TRUE(oneError("fmi3InstantiateCoSimulation: ", "name"));
}

// Every call out of its place in the life cycle, from each state reached.
TEST_F(LifecycleFmi3Test, CallsInTheWrongStateAreRefusedWithAMessage) {
    enum class From { Instantiated, InitializationMode, Terminated };
    struct Case {
        From from;
        const char *function;
        std::function<fmi3Status(fmi3Instance)> call;
    };
    const auto callStep = [this](fmi3Instance i) { return step(i, 0.0, 1e-4).status; };
    const auto callExit = [this](fmi3Instance i) { return fmi().fmi3ExitInitializationMode(i); };
    const auto callEnter = [this](fmi3Instance i) { return enterInitialization(i); };
    const auto callTerminate = [this](fmi3Instance i) { return fmi().fmi3Terminate(i); };
    const Case cases[] = {
        {From::Instantiated, "fmi3DoStep", callStep},
        {From::Instantiated, "fmi3ExitInitializationMode", callExit},
        {From::Instantiated, "fmi3Terminate", callTerminate},
        {From::InitializationMode, "fmi3DoStep", callStep},
        {From::InitializationMode, "fmi3EnterInitializationMode", callEnter},
        {From::Terminated, "fmi3DoStep", callStep},
        {From::Terminated, "fmi3EnterInitializationMode", callEnter},
        {From::Terminated, "fmi3Terminate", callTerminate},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.function);
        fmi3Instance i = instance();
        ASSERT_NE(i, nullptr);
        if (k.from != From::Instantiated) {
            ASSERT_EQ(enterInitialization(i), fmi3OK);
        }
        if (k.from == From::Terminated) {
            ASSERT_EQ(fmi().fmi3ExitInitializationMode(i), fmi3OK);
            ASSERT_EQ(step(i, 0.0, 1e-4).status, fmi3OK);
            ASSERT_EQ(fmi().fmi3Terminate(i), fmi3OK);
        }
        logger.clear();
        EXPECT_EQ(k.call(i), fmi3Error);
        EXPECT_TRUE(oneError(std::string(k.function) + ": not allowed in "));
        freeInstance(i);
    }
}

TEST_F(LifecycleFmi3Test, StartTimeMustBeZero) {
    for (const double start : {1.0, -1e-3, NaN}) {
        fmi3Instance i = instance();
        logger.clear();
        EXPECT_EQ(enterInitialization(i, start), fmi3Error);
        EXPECT_TRUE(oneError("fmi3EnterInitializationMode: start time ", "is not zero"));
        // Still instantiated: a start at 0 is taken.
        EXPECT_TRUE(initialize(i));
    }
}

TEST_F(LifecycleFmi3Test, StepSizesAndCommunicationPointsAreChecked) {
    fmi3Instance i = initialized();
    struct Case {
        double t, h;
        const char *why;
    };
    const Case refused[] = {
        {0.0, 1.5 * BASE_STEP, "divisible"},
        {0.0, -BASE_STEP, "divisible"},
        {0.0, NaN, "divisible"},
        {0.0, 1e-4 + 1e-9, "divisible"},
        {1e-4, 1e-4, "is not equal to FMU time"},
        {NaN, 1e-4, "is not equal to FMU time"},
    };
    for (const Case &k : refused) {
        SCOPED_TRACE(testing::Message() << k.t << " + " << k.h);
        logger.clear();
        const StepResult r = step(i, k.t, k.h);
        EXPECT_EQ(r.status, fmi3Error);
        EXPECT_TRUE(oneError("fmi3DoStep: ", k.why));
        EXPECT_EQ(r.lastSuccessfulTime, 0.0);
        EXPECT_EQ(read(i, TIME_VR), 0.0);
    }
    // Accepted steps: the master's point replaces the unit's time, which
    // then advances by whole base steps.
    double t = 0.0;
    for (const double h : {BASE_STEP, 1e-4, 2e-3, 1e-4}) {
        const double expected = afterBaseSteps(t, static_cast<int>(h / BASE_STEP + 0.5));
        const StepResult r = step(i, t, h);
        EXPECT_EQ(r.status, fmi3OK);
        EXPECT_FALSE(r.eventHandlingNeeded);
        EXPECT_FALSE(r.terminateSimulation);
        EXPECT_FALSE(r.earlyReturn);
        EXPECT_EQ(r.lastSuccessfulTime, expected);
        EXPECT_EQ(read(i, TIME_VR), expected);
        t = t + h;
    }
}

TEST_F(LifecycleFmi3Test, InputsWrittenBeforeInitializationAreKept) {
    const Inputs written = {310.0, -150.0, -160.0, 4.0, -2.0, -2.0, 480.0};
    fmi3Instance kept = instance();
    ASSERT_EQ(writeInputs(kept, written), fmi3OK);
    ASSERT_TRUE(initialize(kept));
    fmi3Instance untouched = initialized();
    for (fmi3ValueReference vr = 0; vr < written.size(); ++vr) {
        EXPECT_EQ(read(kept, vr), written[vr]) << "input " << vr;
        EXPECT_EQ(read(untouched, vr), 0.0) << "input " << vr;
    }
}

// A refused write changes nothing of the call, not even its valid elements.
TEST_F(LifecycleFmi3Test, RefusedWritesChangeNothing) {
    fmi3Instance i = initialized();
    ASSERT_EQ(write(i, 0, 100.0), fmi3OK);
    struct Case {
        fmi3ValueReference vr;
        double value;
        const char *why;
    };
    const Case refused[] = {
        {MEAN_SAMPLE_TIME_VR, NaN, "must be finite and positive"},
        {MEAN_SAMPLE_TIME_VR, INF, "must be finite and positive"},
        {MEAN_SAMPLE_TIME_VR, -INF, "must be finite and positive"},
        {MEAN_SAMPLE_TIME_VR, 0.0, "must be finite and positive"},
        {MEAN_SAMPLE_TIME_VR, -1e-4, "must be finite and positive"},
        {FIRST_GATE_VR + 3, 1.0, "is not an input or a parameter"},
        {TIME_VR, 1.0, "is not an input or a parameter"},
        {21, 1.0, "is not a variable"},
    };
    for (const Case &k : refused) {
        SCOPED_TRACE(testing::Message() << "vr " << k.vr << " = " << k.value);
        const Gates before = gates(i);
        logger.clear();
        const fmi3ValueReference vr[] = {0, k.vr};
        const double values[] = {230.0, k.value};
        EXPECT_EQ(fmi().fmi3SetFloat64(i, vr, 2, values, 2), fmi3Error);
        EXPECT_TRUE(oneError("fmi3SetFloat64: ", k.why));
        EXPECT_EQ(read(i, 0), 100.0);
        EXPECT_EQ(read(i, MEAN_SAMPLE_TIME_VR), DEFAULT_MEAN_SAMPLE_TIME);
        EXPECT_EQ(read(i, TIME_VR), 0.0);
        EXPECT_EQ(gates(i), before);
    }
    EXPECT_EQ(write(i, MEAN_SAMPLE_TIME_VR, 2e-4), fmi3OK);
    EXPECT_EQ(read(i, MEAN_SAMPLE_TIME_VR), 2e-4);
}

// After termination nothing is written, inputs included, whatever else the
// call names; the value first named is the one refused.
TEST_F(LifecycleFmi3Test, NothingIsWrittenAfterTermination) {
    fmi3Instance i = initialized();
    ASSERT_EQ(write(i, 0, 100.0), fmi3OK);
    ASSERT_EQ(step(i, 0.0, 1e-4).status, fmi3OK);
    ASSERT_EQ(fmi().fmi3Terminate(i), fmi3OK);
    struct Case {
        std::vector<fmi3ValueReference> vr;
        const char *refused;
    };
    const Case cases[] = {
        {{0}, "gridVoltageA (value reference 0) cannot be written after termination"},
        {{6, 0, 3}, "dcVoltage (value reference 6) cannot be written after termination"},
        {{0, MEAN_SAMPLE_TIME_VR}, "gridVoltageA (value reference 0) cannot be written"},
        {{FIRST_GATE_VR, 0}, "gateA1 (value reference 7) is not an input or a parameter"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.refused);
        const std::vector<double> values(k.vr.size(), 230.0);
        logger.clear();
        EXPECT_EQ(fmi().fmi3SetFloat64(i, k.vr.data(), k.vr.size(), values.data(), values.size()), fmi3Error);
        EXPECT_TRUE(oneError(std::string("fmi3SetFloat64: ") + k.refused));
        EXPECT_EQ(read(i, 0), 100.0);
    }
}

// The "logStep" messages (two for a step, one for a refused one) only while
// logging is on and that category enabled; errors under "logStatusError"
// while it is enabled.
TEST_F(LifecycleFmi3Test, MessagesFollowLoggingAndCategories) {
    const char *stepOnly[] = {"logStep"};
    const char *errorsOnly[] = {"logStatusError"};
    const char *unknown[] = {"logEverything"};
    struct Case {
        const char *what;
        bool loggingOn;
        fmi3Boolean setOn;
        std::size_t n;
        const char **categories;
        std::size_t stepMessages, errorMessages;
    };
    const Case cases[] = {
        {"logging off", false, fmi3False, 0, nullptr, 0, 0},
        {"logging on", true, fmi3True, 0, nullptr, 3, 1},
        {"then logStep off", true, fmi3False, 1, stepOnly, 0, 1},
        {"off, then logStep on", false, fmi3True, 1, stepOnly, 3, 0},
        {"off, then logStatusError on", false, fmi3True, 1, errorsOnly, 0, 1},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        logger.clear();
        fmi3Instance i = instance(TOKEN, k.loggingOn);
        ASSERT_TRUE(initialize(i));
        if (k.n != 0 || k.setOn != k.loggingOn) {
            ASSERT_EQ(fmi().fmi3SetDebugLogging(i, k.setOn, k.n, k.categories), fmi3OK);
        }
        logger.clear();
        ASSERT_EQ(step(i, 0.0, 1e-4).status, fmi3OK);
        EXPECT_EQ(step(i, 0.0, 1e-4).status, fmi3Error);
        std::size_t steps = 0;
        for (const master::LogRecord &record : logger.messages) {
            steps += record.category == "logStep" ? 1U : 0U;
            EXPECT_TRUE(record.category == "logStep" || record.category == "logStatusError")
                << record.message;
        }
        EXPECT_EQ(steps, k.stepMessages);
        EXPECT_EQ(errors().size(), k.errorMessages);
        freeInstance(i);
    }
    fmi3Instance i = instance();
    logger.clear();
    EXPECT_EQ(fmi().fmi3SetDebugLogging(i, fmi3True, 1, unknown), fmi3Error);
    EXPECT_TRUE(oneError("fmi3SetDebugLogging: unknown log category \"logEverything\""));
}

// One function per group of what the unit does not offer: fmi3Error, a
// message naming it, output arguments untouched, the instance steps on.
TEST_F(LifecycleFmi3Test, UnsupportedFunctionsAnswerErrorAndNameThemselves) {
    fmi3Instance i = initialized();
    fmi3ValueReference vr = FIRST_GATE_VR;
    double value = 7.0;
    fmi3Int32 integer = 7;
    size_t size = 7;
    fmi3UInt64 counter = 7;
    fmi3IntervalQualifier qualifier = fmi3IntervalChanged;
    fmi3Binary binary = nullptr;
    const master::Fmi3Functions &f = fmi();
    const std::pair<const char *, std::function<fmi3Status()>> calls[] = {
        {"fmi3EnterEventMode", [&] { return f.fmi3EnterEventMode(i); }},
        {"fmi3GetIntervalFraction",
         [&] { return f.fmi3GetIntervalFraction(i, &vr, 1, &counter, &counter, &qualifier); }},
        {"fmi3ActivateModelPartition", [&] { return f.fmi3ActivateModelPartition(i, vr, 0.0); }},
        {"fmi3EnterConfigurationMode", [&] { return f.fmi3EnterConfigurationMode(i); }},
        {"fmi3GetNumberOfVariableDependencies",
         [&] { return f.fmi3GetNumberOfVariableDependencies(i, vr, &size); }},
        {"fmi3GetDirectionalDerivative",
         [&] { return f.fmi3GetDirectionalDerivative(i, &vr, 1, &vr, 1, &value, 1, &value, 1); }},
        {"fmi3GetNumberOfEventIndicators", [&] { return f.fmi3GetNumberOfEventIndicators(i, &size); }},
        {"fmi3GetInt32", [&] { return f.fmi3GetInt32(i, &vr, 1, &integer, 1); }},
        {"fmi3GetBinary", [&] { return f.fmi3GetBinary(i, &vr, 1, &size, &binary, 1); }},
    };
    for (const auto &[name, call] : calls) {
        SCOPED_TRACE(name);
        logger.clear();
        EXPECT_EQ(call(), fmi3Error);
        EXPECT_TRUE(oneError(std::string(name) + ": "));
        EXPECT_EQ(value, 7.0);
        EXPECT_EQ(integer, 7);
        EXPECT_EQ(size, 7U);
        EXPECT_EQ(counter, 7U);
    }
    EXPECT_EQ(step(i, 0.0, 1e-4).status, fmi3OK);
    // The other interfaces: no instance, a message naming the function.
    logger.clear();
    EXPECT_EQ(f.fmi3InstantiateModelExchange("me", TOKEN, nullptr, fmi3False, fmi3True, &logger,
                                             master::RecordingLogger::fmi3Callback()),
              nullptr);
    EXPECT_EQ(f.fmi3InstantiateScheduledExecution("se", TOKEN, nullptr, fmi3False, fmi3True, &logger,
                                                  master::RecordingLogger::fmi3Callback(), nullptr, nullptr,
                                                  nullptr),
              nullptr);
    const std::vector<std::string> found = errors();
    ASSERT_EQ(found.size(), 2U);
    EXPECT_EQ(found[0].rfind("fmi3InstantiateModelExchange: ", 0), 0U) << found[0];
    EXPECT_EQ(found[1].rfind("fmi3InstantiateScheduledExecution: ", 0), 0U) << found[1];
}

// After a reset the instance is as instantiated, with its defaults, and
// runs as a fresh one does; from step mode and from the terminated state.
TEST_F(LifecycleFmi3Test, ResetReturnsToTheInstantiatedStateWithDefaults) {
    fmi3Instance fresh = initialized();
    const std::vector<Gates> expected = run(fresh, 0, 400, runningGrid);
    for (const bool terminated : {false, true}) {
        SCOPED_TRACE(terminated ? "from the terminated state" : "from step mode");
        fmi3Instance i = initialized();
        ASSERT_EQ(write(i, MEAN_SAMPLE_TIME_VR, 3e-4), fmi3OK);
        ASSERT_EQ(run(i, 0, 300, disturbedGrid).size(), 300U);
        if (terminated) {
            ASSERT_EQ(fmi().fmi3Terminate(i), fmi3OK);
        }
        ASSERT_EQ(fmi().fmi3Reset(i), fmi3OK);
        EXPECT_EQ(read(i, TIME_VR), 0.0);
        EXPECT_EQ(read(i, MEAN_SAMPLE_TIME_VR), DEFAULT_MEAN_SAMPLE_TIME);
        EXPECT_EQ(read(i, 0), 0.0);
        logger.clear();
        EXPECT_EQ(step(i, 0.0, BASE_STEP).status, fmi3Error);
        EXPECT_TRUE(oneError("fmi3DoStep: not allowed in the instantiated state"));
        ASSERT_TRUE(initialize(i));
        EXPECT_EQ(firstDifference(run(i, 0, 400, runningGrid), expected), -1);
    }
}

} // namespace
} // namespace kestrune::fmi3test
