// The five one-cycle means run on their own delay lines, at the slow time the
// model gives slow step k.
#include "control/mean.h"

#include "../model/model_fixture.h"
#include "children/variable_time_delay.h"
#include "model/initialize.h"
#include "model/records.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrune {
namespace {

double slowTime(int k) {
    return static_cast<double>(k) * 1e-4;
}

class MeanTest : public testing::ModelData {
  protected:
    void SetUp() override {
        modelInitialize(model);
        ASSERT_EQ(modelRecord.childrenStarted, 1U);
        // The two means under the gain control start like the other three.
        armMean(agcMeanD(model));
        armMean(agcMeanQ(model));
    }

    // One slow step of either form: output, then update.
    struct Instance {
        const char *name;
        double initialOutput;
        bool variable;
        VariableFrequencyMean variableMean;
        FixedFrequencyMean fixedMean;

        double step(double u, double f, int k) const {
            const double y = variable ? meanOutput(variableMean, u, f, slowTime(k))
                                      : meanOutput(fixedMean, u, slowTime(k));
            const bool ok = variable ? meanUpdate(variableMean, u, y) : meanUpdate(fixedMean, u, y);
            EXPECT_TRUE(ok);
            return y;
        }
    };

    std::vector<Instance> instances() {
        return {
            {"Mean (Variable Frequency)1", 1.0, true, agcMeanD(model), {}},
            {"Mean (Variable Frequency)2", 0.0, true, agcMeanQ(model), {}},
            {"Mean", 500.0, false, {}, dcVoltageMean(model)},
            {"Mean1", 1.007, false, {}, gridVoltageMean(model)},
            {"Variable Frequency Mean value", 0.0, true, frequencyMean(model), {}},
        };
    }

    const DelayRecord &delayRecord(int child) {
        return *static_cast<const DelayRecord *>(modelRecord.childTable[child]->userData);
    }
};

TEST_F(MeanTest, ConstantInputAt60HzGivesItsOwnValueFromSlowStep167AndTheInitialOutputBefore) {
    const double c = 0.731;
    for (const Instance &mean : instances()) {
        SCOPED_TRACE(mean.name);
        for (int k = 0; k < 400; ++k) {
            const double y = mean.step(c, 60.0, k);
            if (k < 167) {
                ASSERT_EQ(y, mean.initialOutput) << "slow step " << k;
            } else {
                ASSERT_NEAR(y, c, 1e-12) << "slow step " << k;
            }
        }
    }
}

// 50 Hz is 200 whole slow steps: the integral difference alone is the mean,
// so a 50 Hz ripple averages out exactly.
TEST_F(MeanTest, AtFiftyHzAWholeNumberOfStepsSpansThePeriodWithoutCorrection) {
    const Instance mean = instances()[4];
    for (int k = 0; k < 600; ++k) {
        const double u = 0.25 + 0.8 * std::sin(2.0 * M_PI * 50.0 * slowTime(k) + 0.3);
        const double y = mean.step(u, 50.0, k);
        ASSERT_EQ(modelSignals.control.frequencyMean.delay, 1e-4 * 200.0);
        if (k >= 200) {
            ASSERT_NEAR(y, 0.25, 1e-12) << "slow step " << k;
        }
    }
}

// Below about 44.843 Hz a period needs more than 223 slow steps, more than
// the variable means' delay lines hold: the line serves its longest delay,
// which is no error, and the mean of a constant is then off.
TEST_F(MeanTest, BelowAbout44_8HzTheDelayLineServesItsLongestDelay) {
    struct Case {
        double frequency;
        bool clipped;
    };
    const Case cases[] = {{44.85, false}, {44.8, true}, {30.0, true}};
    for (const Case &k : cases) {
        SCOPED_TRACE(k.frequency);
        modelTerminate(model);
        modelInitialize(model);
        const Instance mean = instances()[4];
        double y = 0.0;
        for (int step = 0; step < 400; ++step) {
            y = mean.step(2.0, k.frequency, step);
        }
        EXPECT_EQ(modelRecord.errorStatus, nullptr);
        EXPECT_EQ(delayRecord(4).clippedHigh, k.clipped ? 1 : 0);
        if (k.clipped) {
            EXPECT_GT(std::fabs(y - 2.0), 1e-3);
        } else {
            EXPECT_NEAR(y, 2.0, 1e-12);
        }
    }
}

// Any frequency that is not NaN, zero and negative included, gives a finite
// delay, served at most as the longest delay. Only the delay uses the
// clamped frequency: the integral difference is still scaled by the
// frequency itself, so 0 Hz gives 0 and -5 Hz gives -5 times the integral
// over the longest delay.
TEST_F(MeanTest, ZeroOrNegativeFrequencyStillGivesAFiniteMean) {
    const Instance mean = instances()[4];
    const double longestDelay = 0.022322222222222222;
    for (int k = 0; k < 300; ++k) {
        const double f = k < 250 ? 60.0 : (k % 2 == 0 ? 0.0 : -5.0);
        const double y = mean.step(1.0, f, k);
        ASSERT_TRUE(std::isfinite(y)) << "slow step " << k;
        ASSERT_TRUE(std::isfinite(modelSignals.control.frequencyMean.delay)) << "slow step " << k;
        if (k >= 250) {
            ASSERT_NEAR(y, f * longestDelay, 1e-12) << "slow step " << k;
        }
    }
    EXPECT_EQ(delayRecord(4).clippedHigh, 1);
}

// The whole-sample count of a period is taken at the slow step whatever
// meanSampleTime holds; meanSampleTime only turns the count into the delay.
TEST_F(MeanTest, MeanSampleTimeScalesTheWholeSampleCountOfAPeriod) {
    const double defaultSampleTime = modelParameters.meanSampleTime;
    modelParameters.meanSampleTime = 5e-5;
    for (const Instance &mean : instances()) {
        if (!mean.variable) {
            continue;
        }
        SCOPED_TRACE(mean.name);
        meanOutput(mean.variableMean, 1.0, 60.0, 0.0);
        EXPECT_EQ(mean.variableMean.signals->delay, 5e-5 * 167.0);
        meanOutput(mean.variableMean, 1.0, 50.0, 0.0);
        EXPECT_EQ(mean.variableMean.signals->delay, 5e-5 * 200.0);
    }
    modelParameters.meanSampleTime = defaultSampleTime;
}

} // namespace
} // namespace kestrune
