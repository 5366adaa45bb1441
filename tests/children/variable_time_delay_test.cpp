// The delay line as a hosted block: its checks and allocation at start, its
// history, interpolation, extrapolation and clamping, and its release.
#include "children/variable_time_delay.h"

#include "../model/model_fixture.h"
#include "children/child_host.h"
#include "counting_allocator.h"
#include "model/numeric.h"
#include "model/records.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace kestrune {
namespace {

constexpr double TS = 1e-4;
const double EPS = 2.220446049250313e-16;
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double INF = std::numeric_limits<double>::infinity();

// One delay line set up by the model's host as child 0, wired to the
// fixture's own signals.
class DelayLineTest : public testing::ModelData {
  protected:
    void SetUp() override { registerModel(model); }

    ChildContext *setUp(double maxDelay, double sampleTime, double feedthrough,
                        const ParamMatrix *initial = nullptr) {
        parameters = {
            {{1.0, 1.0, maxDelay}}, {{1.0, 1.0, sampleTime}}, {{1.0, 1.0, 0.0}}, {{1.0, 1.0, feedthrough}}};
        setUpChild(model, 0,
                   {
                       .path = "test/Discrete Variable Time Delay/S-Function",
                       .registerMethods = registerVariableTimeDelay,
                       .params = {parameters.maxDelay.block, parameters.sampleTime.block,
                                  initial != nullptr ? initial : parameters.initialCondition.block,
                                  parameters.feedthrough.block},
                       .inputs = {&input, &delay},
                       .output = &output,
                   });
        return ctx();
    }
    ChildContext *ctx() { return modelRecord.childTable[0]; }
    bool start() { return startChild(model, 0) && initializeChildConditions(model, 0); }

    // Output of one slow step for input u and delay d, then the update.
    double step(double u, double d) {
        input = u;
        delay = d;
        childOutputs(model, 0);
        EXPECT_TRUE(childUpdate(model, 0));
        return output;
    }
    double outputFor(double d) {
        delay = d;
        childOutputs(model, 0);
        return output;
    }
    std::vector<double> buffer(std::int32_t channel = 0) {
        const auto *b = static_cast<const double *>(ctx()->ptrWork[channel]);
        return {b, b + static_cast<std::int32_t>(ctx()->realWork[0])};
    }
    const DelayRecord &flags() { return *static_cast<const DelayRecord *>(ctx()->userData); }

    VariableTimeDelayParameters parameters{};
    double input = 0.0;
    double delay = 0.0;
    double output = 0.0;
};

TEST_F(DelayLineTest, BufferHoldsTheMaximumDelayInSamplesPlusOne) {
    struct Case {
        double maxDelay;
        std::int32_t length;
    };
    // 0.0169 / 1e-4 is 168.99999999999997, whose ceiling is 169.
    const Case cases[] = {{0.022322222222222222, 225}, {0.0169, 170}, {3.5e-4, 5}, {1e-4, 2}};
    for (const Case &k : cases) {
        SCOPED_TRACE(k.maxDelay);
        modelTerminate(model);
        setUp(k.maxDelay, TS, 1.0);
        ASSERT_TRUE(start());
        EXPECT_EQ(ctx()->realWork[0], k.length);
        EXPECT_EQ(buffer(), std::vector<double>(static_cast<std::size_t>(k.length), 0.0));
        EXPECT_EQ(ctx()->intWork[0], 0);
    }
    // An initial condition longer than that sets the length.
    const ParamMatrix sevenRows[] = {7.0, 1.0, 1, 2, 3, 4, 5, 6, 7};
    modelTerminate(model);
    setUp(3.5e-4, TS, 0.0, sevenRows);
    ASSERT_TRUE(start());
    EXPECT_EQ(buffer(), (std::vector<double>{1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(DelayLineTest, FeedthroughDelaysInterpolateBetweenStoredInputs) {
    setUp(0.0169, TS, 1.0);
    ASSERT_TRUE(start());
    for (int n = 1; n <= 10; ++n) {
        step(n, 0.0);
    }
    // Input 11 is current: 3.5 samples back lies between inputs 8 and 7.
    EXPECT_NEAR(step(11.0, 3.5 * TS), 7.5, 1e-9);
    // Zero delay gives the current input, up to the epsilon fraction.
    EXPECT_NEAR(step(12.0, 0.0), 12.0, 1e-9);
    EXPECT_NEAR(step(13.0, TS), 12.0, 1e-9);
    EXPECT_EQ(flags().extrapolated, 0);
    EXPECT_EQ(flags().clippedHigh, 0);
    EXPECT_EQ(flags().clippedLow, 0);
}

TEST_F(DelayLineTest, DelayBelowOneSampleWithoutFeedthroughExtrapolates) {
    setUp(0.0169, TS, 0.0);
    ASSERT_TRUE(start());
    step(1.0, TS);
    step(3.0, TS);
    EXPECT_EQ(flags().extrapolated, 0);
    // newest + 0.75 * (newest - previous)
    EXPECT_NEAR(step(100.0, 0.25 * TS), 4.5, 1e-9);
    EXPECT_EQ(flags().extrapolated, 1);
    // The current input is stored by the update, not by the output.
    EXPECT_NEAR(step(0.0, TS), 100.0, 1e-9);
    EXPECT_EQ(flags().extrapolated, 1) << "the flag is never cleared";
}

TEST_F(DelayLineTest, ColumnInitialConditionIsTheNewestHistoryBeforeWritePositionZero) {
    const double a = 10.0;
    const double b = 20.0;
    const double c = 30.0;
    const ParamMatrix history[] = {3.0, 1.0, a, b, c};
    setUp(3.5e-4, TS, 0.0, history); // L = 5
    ASSERT_TRUE(start());
    EXPECT_EQ(buffer(), (std::vector<double>{0.0, 0.0, a, b, c}));
    EXPECT_EQ(ctx()->intWork[0], 0);

    const double f1 = std::fmod((TS + EPS) / TS, 1.0);
    const double f2 = std::fmod((2 * TS + EPS) / TS, 1.0);
    EXPECT_EQ(outputFor(TS), c + (b - c) * f1);
    EXPECT_EQ(outputFor(2 * TS), b + (a - b) * f2);
}

TEST_F(DelayLineTest, ScalarInitialConditionFillsTheWholeBuffer) {
    const ParamMatrix initial[] = {1.0, 1.0, 2.5};
    setUp(3.5e-4, TS, 1.0, initial);
    ASSERT_TRUE(start());
    EXPECT_EQ(buffer(), std::vector<double>(5, 2.5));
}

TEST_F(DelayLineTest, OneColumnPerChannelSetsEachChannelsHistory) {
    const ParamMatrix perChannel[] = {1.0, 2.0, 7.0, 9.0};
    const ParamMatrix shared[] = {2.0, 1.0, 7.0, 9.0};
    struct Case {
        const char *what;
        const ParamMatrix *initial;
        std::vector<double> channel0;
        std::vector<double> channel1;
    };
    const Case cases[] = {
        {"1 x 2: one value per channel", perChannel, {0, 0, 0, 0, 7}, {0, 0, 0, 0, 9}},
        {"2 x 1: the same history for both", shared, {0, 0, 0, 7, 9}, {0, 0, 0, 7, 9}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        modelTerminate(model);
        ChildContext *line = setUp(3.5e-4, TS, 0.0, k.initial);
        // Two channels on "In", one delay for both.
        double inputs[2] = {1.0, 2.0};
        double outputs[2] = {};
        double *inputAddresses[2] = {&inputs[0], &inputs[1]};
        line->inputPorts[0].width = 2;
        line->inputPorts[0].signals = inputAddresses;
        line->outputPorts[0].width = 2;
        line->outputPorts[0].signals = outputs;
        ASSERT_TRUE(start());
        EXPECT_EQ(buffer(0), k.channel0);
        EXPECT_EQ(buffer(1), k.channel1);
        delay = TS;
        childOutputs(model, 0);
        EXPECT_NEAR(outputs[0], k.channel0[4], 1e-9);
        EXPECT_NEAR(outputs[1], k.channel1[4], 1e-9);
    }
}

TEST_F(DelayLineTest, DelaysOutOfRangeAreClampedAndFlagged) {
    struct Case {
        const char *what;
        double delay;
        bool high;
    };
    const Case cases[] = {
        {"above the maximum", 1.0, true}, {"+infinity", INF, true}, {"-infinity", -INF, true},
        {"negative", -1.0, false},        {"NaN", NaN, false},
    };
    const double maxDelay = 3.5e-4;
    // The output for the maximum delay itself, on the same history.
    setUp(maxDelay, TS, 1.0);
    ASSERT_TRUE(start());
    for (int n = 1; n <= 6; ++n) {
        step(n, 0.0);
    }
    const double atMaximum = step(7.0, maxDelay);
    EXPECT_NEAR(atMaximum, 3.5, 1e-9);

    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        modelTerminate(model);
        setUp(maxDelay, TS, 1.0);
        ASSERT_TRUE(start());
        for (int n = 1; n <= 6; ++n) {
            step(n, 0.0);
        }
        const double y = step(7.0, k.delay);
        if (k.high) {
            EXPECT_EQ(y, atMaximum);
        } else {
            EXPECT_EQ(y, 7.0) << "zero delay with no epsilon fraction";
        }
        EXPECT_EQ(flags().clippedHigh, k.high ? 1 : 0);
        EXPECT_EQ(flags().clippedLow, k.high ? 0 : 1);
        EXPECT_EQ(flags().extrapolated, 0);
    }
}

TEST_F(DelayLineTest, StartRefusesBadSizesAndParametersBeforeAllocating) {
    const ParamMatrix twoColumns[] = {1.0, 2.0, 0.0, 0.0};
    struct Case {
        const char *what;
        double maxDelay;
        double sampleTime;
        std::int32_t delayWidth;
        const ParamMatrix *initial;
        const char *message;
    };
    const Case cases[] = {
        {"'D' two wide, 'In' one", 0.0169, TS, 2, nullptr, DELAY_WIDTH_ERROR},
        {"'D' checked first", 0.0, 0.0, 2, twoColumns, DELAY_WIDTH_ERROR},
        {"two columns for one channel", 0.0169, TS, 1, twoColumns, DELAY_INITIAL_CONDITION_ERROR},
        {"zero maximum delay", 0.0, TS, 1, nullptr, DELAY_MAX_DELAY_ERROR},
        {"negative maximum delay", -1.0, 0.0, 1, nullptr, DELAY_MAX_DELAY_ERROR},
        {"NaN maximum delay", NaN, TS, 1, nullptr, DELAY_MAX_DELAY_ERROR},
        {"zero sample time", 0.0169, 0.0, 1, nullptr, DELAY_SAMPLE_TIME_ERROR},
        {"NaN sample time", 0.0169, NaN, 1, nullptr, DELAY_SAMPLE_TIME_ERROR},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        modelTerminate(model);
        modelRecord.errorStatus = nullptr;
        ChildContext *line = setUp(k.maxDelay, k.sampleTime, 1.0, k.initial);
        line->inputPorts[1].width = k.delayWidth;
        const CountingAllocator allocator;
        EXPECT_FALSE(startChild(model, 0));
        EXPECT_STREQ(modelRecord.errorStatus, k.message);
        EXPECT_EQ(allocator.calls(), 0);
        EXPECT_EQ(line->userData, nullptr);
        EXPECT_EQ(line->ptrWork, &modelWork.children[0].ptrWork);
        EXPECT_EQ(line->intWork, &modelWork.children[0].intWork);
    }
    // Terminating a line that never allocated leaves the host's slots alone.
    modelTerminate(model);
    EXPECT_EQ(ctx()->ptrWork, &modelWork.children[0].ptrWork);
}

TEST_F(DelayLineTest, EveryFailedAllocationIsReportedAndNothingIsLeft) {
    // The record, the PWORK table, one buffer, the IDX_WRITE array.
    for (int failAt = 1; failAt <= 4; ++failAt) {
        SCOPED_TRACE(failAt);
        modelTerminate(model);
        modelRecord.errorStatus = nullptr;
        setUp(0.0169, TS, 1.0);
        const CountingAllocator allocator(failAt);
        EXPECT_FALSE(startChild(model, 0));
        EXPECT_STREQ(modelRecord.errorStatus, "Memory allocation error in mdlStart");
        EXPECT_EQ(allocator.calls(), failAt) << "no allocation after the failing one";
        EXPECT_EQ(ctx()->userData == nullptr, failAt == 1);
        // What was allocated is released (the sanitizer build checks) and
        // forgotten, so a second terminate releases nothing twice.
        modelTerminate(model);
        EXPECT_EQ(ctx()->userData, nullptr);
        modelTerminate(model);
    }
    modelRecord.errorStatus = nullptr;
}

TEST_F(DelayLineTest, TerminateReleasesEverythingOnceAndForgetsIt) {
    setUp(0.0169, TS, 1.0);
    const CountingAllocator allocator;
    ASSERT_TRUE(start());
    EXPECT_EQ(allocator.calls(), 4);
    EXPECT_NE(ctx()->ptrWork, &modelWork.children[0].ptrWork);
    EXPECT_NE(ctx()->intWork, &modelWork.children[0].intWork);
    modelTerminate(model);
    EXPECT_EQ(ctx()->userData, nullptr);
    EXPECT_EQ(ctx()->ptrWork, nullptr);
    EXPECT_EQ(ctx()->intWork, nullptr);
    modelTerminate(model);
}

} // namespace
} // namespace kestrune
