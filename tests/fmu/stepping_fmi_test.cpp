// Advancing the unit with fmi2DoStep in whole base steps, the stepFinished
// callback, and the functions that answer without effect.
#include "fmi_fixture.h"

#include <iterator>
#include <string>
#include <vector>

namespace kestrune::fmitest {
namespace {

using SteppingFmiTest = FmiTest;

const std::string DIVISIBILITY = "Stepsize must be non-negative and divisible by 5e-06";
const std::string NOT_AT_FMU_TIME = "CurrentCommunicationPoint is not equal to FMU time";

std::string stepSizeText(const std::string &h) {
    return "CommunicationStepSize=" + h + ", LocalSolverStepSize=5e-06";
}

std::string localSolverText(int n, const std::string &t) {
    return "Local solver will do " + std::to_string(n) + " steps from t = " + t + ".";
}

TEST_F(SteppingFmiTest, StepSizeMustBeAWholeNumberOfBaseSteps) {
    struct Case {
        double h;
        const char *hText; // h as the unit formats it
        int steps;         // -1: rejected
    };
    const Case cases[] = {
        {0.0, "0", 0},
        {5e-6, "5e-06", 1},
        {1e-4, "0.0001", 20},
        {1e-3, "0.001", 200},
        {5e-6 * (1 + 1e-7), "5.000000500000001e-06", 1},
        {7.5e-6, "7.5e-06", -1},
        {2.5e-6, "2.5e-06", -1},
        {1e-6, "1e-06", -1},
        {-5e-6, "-5e-06", -1},
        {-1e-4, "-0.0001", -1},
        {-1e-13, "-1e-13", -1}, // within the tolerance of 0 steps, but negative
        {2e4, "20000", -1},     // the step count does not fit a 32-bit int
        {10737.5, "10737.5", -1},
        {-2e4, "-20000", -1},
        {1e300, "1e+300", -1},
        {NaN, "nan", -1},
        {INF, "inf", -1},
        {-INF, "-inf", -1},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.hText);
        // Logging off: the stepping messages do not depend on it.
        fmi2Component c = initialized();
        ASSERT_NE(c, nullptr);
        logger.clear();
        if (k.steps >= 0) {
            EXPECT_EQ(doStep(c, 0.0, k.h), fmi2OK);
            EXPECT_EQ(messages(), (std::vector<Message>{info(stepSizeText(k.hText)),
                                                        info(localSolverText(k.steps, "0"))}));
            EXPECT_EQ(readTime(c), afterBaseSteps(0.0, k.steps));
        } else {
            EXPECT_EQ(doStep(c, 0.0, k.h), fmi2Error);
            EXPECT_EQ(messages(), (std::vector<Message>{info(stepSizeText(k.hText)), error(DIVISIBILITY)}));
            EXPECT_EQ(readTime(c), 0.0);
        }
        for (const master::LogRecord &record : logger.messages) {
            EXPECT_EQ(record.instanceName, INSTANCE_NAME);
        }
        freeInstance(c);
    }
}

TEST_F(SteppingFmiTest, TimeIsRepeatedAdditionsOfTheBaseStepFromTheCommunicationPoint) {
    fmi2Component c = initialized();
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(doStep(c, 0.0, 1e-4), fmi2OK);
    EXPECT_EQ(readTime(c), afterBaseSteps(0.0, 20));
    ASSERT_EQ(doStep(c, 1e-4, 1e-4), fmi2OK);
    const double accumulated = afterBaseSteps(afterBaseSteps(0.0, 20), 20);
    EXPECT_EQ(readTime(c), accumulated);

    // The accumulated time is off 2e-4 by rounding; the master's 2e-4
    // replaces it before the next base steps are added.
    ASSERT_NE(afterBaseSteps(accumulated, 20), afterBaseSteps(2e-4, 20));
    ASSERT_EQ(doStep(c, 2e-4, 1e-4), fmi2OK);
    const double reached = afterBaseSteps(2e-4, 20);
    EXPECT_EQ(readTime(c), reached);

    // A step of no base steps only sets the time to the communication point.
    ASSERT_NE(reached, 3e-4);
    logger.clear();
    ASSERT_EQ(doStep(c, 3e-4, 0.0), fmi2OK);
    EXPECT_EQ(readTime(c), 3e-4);
    EXPECT_EQ(messages(),
              (std::vector<Message>{info(stepSizeText("0")), info(localSolverText(0, "0.0003"))}));
}

TEST_F(SteppingFmiTest, StepMustStartAtTheInstanceTime) {
    struct Case {
        double t;
        bool accepted;
    };
    const Case cases[] = {
        {1e-13, true}, {-1e-13, true}, {1e-11, false}, {-1e-11, false},
        {1e-4, false}, {NaN, false},   {INF, false},   {-INF, false},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.t);
        fmi2Component c = initialized();
        ASSERT_NE(c, nullptr);
        logger.clear();
        if (k.accepted) {
            EXPECT_EQ(doStep(c, k.t, 1e-4), fmi2OK);
            ASSERT_EQ(logger.messages.size(), 2U);
            EXPECT_EQ(messages()[1], info(localSolverText(20, k.t > 0 ? "1e-13" : "-1e-13")));
            // The time snaps to the master's communication point first.
            EXPECT_EQ(readTime(c), afterBaseSteps(k.t, 20));
        } else {
            EXPECT_EQ(doStep(c, k.t, 1e-4), fmi2Error);
            EXPECT_EQ(messages(),
                      (std::vector<Message>{info(stepSizeText("0.0001")), error(NOT_AT_FMU_TIME)}));
            EXPECT_EQ(readTime(c), 0.0);
        }
        freeInstance(c);
    }
}

// Hours into a run the instance's time, built by adding the base step, and a
// master's k * h part by more than a millionth of a base step; such points
// are still the same instant and are accepted, while a point a fraction of a
// base step away is not.
TEST_F(SteppingFmiTest, CommunicationPointsOfLongRunsAreAccepted) {
    const double h = 1e-4;
    for (const double hours : {2.0, 8.0, 48.0}) {
        SCOPED_TRACE(hours);
        fmi2Component c = initialized();
        ASSERT_NE(c, nullptr);
        const auto first = static_cast<long long>(hours * 3600.0 / h);
        ASSERT_EQ(writeReal(c, TIME_VR, static_cast<double>(first) * h), fmi2OK);
        int refused = 0;
        for (long long k = first; k < first + 2000; ++k) {
            refused += doStep(c, static_cast<double>(k) * h, h) == fmi2OK ? 0 : 1;
        }
        EXPECT_EQ(refused, 0);
        const double now = static_cast<double>(first + 2000) * h;
        EXPECT_EQ(doStep(c, now + 1e-7, h), fmi2Error);
        EXPECT_EQ(doStep(c, now, 1e-4 + 1e-7), fmi2Error);
        freeInstance(c);
    }
}

TEST_F(SteppingFmiTest, StepSizeIsCheckedBeforeTheCommunicationPoint) {
    fmi2Component c = initialized();
    ASSERT_NE(c, nullptr);
    logger.clear();
    EXPECT_EQ(doStep(c, 1.0, 7.5e-6), fmi2Error);
    EXPECT_EQ(messages(), (std::vector<Message>{info(stepSizeText("7.5e-06")), error(DIVISIBILITY)}));
}

TEST_F(SteppingFmiTest, SteppingMessagesAreSentWhateverTheLoggingSetting) {
    fmi2Component c = initialized(INSTANCE_NAME, true);
    ASSERT_NE(c, nullptr);
    const std::vector<Message> expected = {info(stepSizeText("0.0001")), info(localSolverText(20, "0"))};
    logger.clear();
    ASSERT_EQ(doStep(c, 0.0, 1e-4), fmi2OK);
    EXPECT_EQ(messages(), expected);

    ASSERT_EQ(fmi().setDebugLogging(c, fmi2False, 0, nullptr), fmi2OK);
    logger.clear();
    ASSERT_EQ(doStep(c, 1e-4, 1e-4), fmi2OK);
    EXPECT_EQ(messages(),
              (std::vector<Message>{info(stepSizeText("0.0001")), info(localSolverText(20, "0.0001"))}));
}

TEST_F(SteppingFmiTest, StepFinishedIsCalledOncePerStepWithItsStatus) {
    logger.enableStepFinished(true);
    fmi2Component c = initialized();
    ASSERT_NE(c, nullptr);
    // Nothing but fmi2DoStep calls it.
    EXPECT_TRUE(logger.stepsFinished.empty());

    const double t = afterBaseSteps(0.0, 20);
    const fmi2Status returned[] = {
        doStep(c, 0.0, 1e-4), // accepted
        doStep(c, t, 7.5e-6), // step size rejected
        doStep(c, 0.0, 1e-4), // communication point rejected
        doStep(c, t, 0.0),    // accepted, no base step
        doStep(c, t, NaN),    // step size rejected
    };
    const fmi2Status expected[] = {fmi2OK, fmi2Error, fmi2Error, fmi2OK, fmi2Error};
    ASSERT_EQ(logger.stepsFinished.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(returned[i], expected[i]);
        EXPECT_EQ(logger.stepsFinished[i].status, expected[i]);
    }
}

TEST_F(SteppingFmiTest, WithoutStepFinishedStepsRunAndNothingIsCalled) {
    fmi2Component c = initialized();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(doStep(c, 0.0, 1e-4), fmi2OK);
    EXPECT_EQ(doStep(c, 0.0, 7.5e-6), fmi2Error);
    EXPECT_EQ(doStep(c, 1.0, 1e-4), fmi2Error);
    EXPECT_TRUE(logger.stepsFinished.empty());
    EXPECT_EQ(readTime(c), afterBaseSteps(0.0, 20));
}

TEST_F(SteppingFmiTest, FunctionsWithoutEffectLeaveTheirOutputsAndTheInstanceAlone) {
    fmi2Component c = initialized();
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(doStep(c, 0.0, 1e-4), fmi2OK);
    const double time = readTime(c);
    logger.clear();

    const master::Fmi2Functions &f = fmi();
    int stateObject = 0;
    fmi2FMUstate state = &stateObject;
    EXPECT_EQ(f.getFMUstate(c, &state), fmi2OK);
    EXPECT_EQ(state, &stateObject);
    EXPECT_EQ(f.setFMUstate(c, state), fmi2OK);
    EXPECT_EQ(f.freeFMUstate(c, &state), fmi2OK);
    EXPECT_EQ(state, &stateObject);
    size_t size = 12345;
    EXPECT_EQ(f.serializedFMUstateSize(c, state, &size), fmi2OK);
    EXPECT_EQ(size, 12345U);
    fmi2Byte bytes[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(f.serializeFMUstate(c, state, bytes, sizeof bytes), fmi2OK);
    EXPECT_EQ(std::string(bytes, sizeof bytes), "abcd");
    fmi2FMUstate restored = &stateObject;
    EXPECT_EQ(f.deSerializeFMUstate(c, bytes, sizeof bytes, &restored), fmi2OK);
    EXPECT_EQ(restored, &stateObject);

    const fmi2ValueReference vr[2] = {7, 8};
    const fmi2Real known[2] = {1.0, 2.0};
    fmi2Real unknown[2] = {-1.0, -2.0};
    EXPECT_EQ(f.getDirectionalDerivative(c, vr, 2, vr, 2, known, unknown), fmi2OK);
    EXPECT_EQ(unknown[0], -1.0);
    EXPECT_EQ(unknown[1], -2.0);

    EXPECT_EQ(f.enterEventMode(c), fmi2OK);
    fmi2EventInfo eventInfo{fmi2True, fmi2True, fmi2True, fmi2True, fmi2True, 9.0};
    EXPECT_EQ(f.newDiscreteStates(c, &eventInfo), fmi2OK);
    EXPECT_EQ(eventInfo.newDiscreteStatesNeeded, fmi2True);
    EXPECT_EQ(eventInfo.nextEventTime, 9.0);
    EXPECT_EQ(f.enterContinuousTimeMode(c), fmi2OK);
    fmi2Boolean enterEventMode = 7;
    fmi2Boolean terminateSimulation = 7;
    EXPECT_EQ(f.completedIntegratorStep(c, fmi2True, &enterEventMode, &terminateSimulation), fmi2OK);
    EXPECT_EQ(enterEventMode, 7);
    EXPECT_EQ(terminateSimulation, 7);
    EXPECT_EQ(f.setTime(c, 1.0), fmi2OK);
    EXPECT_EQ(readTime(c), time);

    fmi2Real x[3] = {4.0, 5.0, 6.0};
    EXPECT_EQ(f.setContinuousStates(c, x, 3), fmi2OK);
    EXPECT_EQ(f.getDerivatives(c, x, 3), fmi2OK);
    EXPECT_EQ(f.getEventIndicators(c, x, 3), fmi2OK);
    EXPECT_EQ(f.getContinuousStates(c, x, 3), fmi2OK);
    EXPECT_EQ(f.getNominalsOfContinuousStates(c, x, 3), fmi2OK);
    EXPECT_EQ(x[0], 4.0);
    EXPECT_EQ(x[1], 5.0);
    EXPECT_EQ(x[2], 6.0);

    const fmi2ValueReference inputs[2] = {0, 1};
    const fmi2Integer orders[2] = {1, 1};
    const fmi2Real derivatives[2] = {100.0, 200.0};
    EXPECT_EQ(f.setRealInputDerivatives(c, inputs, 2, orders, derivatives), fmi2OK);
    EXPECT_EQ(readReal(c, 0), 0.0);
    EXPECT_EQ(readReal(c, 1), 0.0);

    // Exactly the nvr entries asked for are zeroed; the references are not examined.
    const fmi2ValueReference outputs[3] = {7, 99, 1000};
    fmi2Real values[5] = {1.0, 2.0, 3.0, 4.0, 5.0};
    EXPECT_EQ(f.getRealOutputDerivatives(c, outputs, 3, orders, values), fmi2OK);
    EXPECT_EQ(values[0], 0.0);
    EXPECT_EQ(values[1], 0.0);
    EXPECT_EQ(values[2], 0.0);
    EXPECT_EQ(values[3], 4.0);
    EXPECT_EQ(values[4], 5.0);

    EXPECT_EQ(f.cancelStep(c), fmi2OK);
    fmi2Status status = fmi2Pending;
    EXPECT_EQ(f.getStatus(c, fmi2DoStepStatus, &status), fmi2OK);
    EXPECT_EQ(status, fmi2Pending);
    fmi2Real realStatus = -3.0;
    EXPECT_EQ(f.getRealStatus(c, fmi2LastSuccessfulTime, &realStatus), fmi2OK);
    EXPECT_EQ(realStatus, -3.0);
    fmi2Integer integerStatus = -3;
    EXPECT_EQ(f.getIntegerStatus(c, fmi2DoStepStatus, &integerStatus), fmi2OK);
    EXPECT_EQ(integerStatus, -3);
    fmi2Boolean booleanStatus = 7;
    EXPECT_EQ(f.getBooleanStatus(c, fmi2Terminated, &booleanStatus), fmi2OK);
    EXPECT_EQ(booleanStatus, 7);
    const char untouched[] = "untouched";
    fmi2String stringStatus = untouched;
    EXPECT_EQ(f.getStringStatus(c, fmi2PendingStatus, &stringStatus), fmi2OK);
    EXPECT_EQ(stringStatus, untouched);

    EXPECT_TRUE(logger.messages.empty());
    // The instance goes on from where it was.
    EXPECT_EQ(readTime(c), time);
    EXPECT_EQ(doStep(c, time, 1e-4), fmi2OK);
    EXPECT_EQ(readTime(c), afterBaseSteps(time, 20));
}

} // namespace
} // namespace kestrune::fmitest
