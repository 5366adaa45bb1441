// What the FMI functions do with an error or a stop request that a hosted
// block leaves in the model: set here directly on the library's model, since
// only hosted blocks raise them.
#include "../children/counting_allocator.h"
#include "fmu/fmi2.h"
#include "fmu/instance.h"
#include "master/recording_logger.h"
#include "model/records.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

constexpr const char *BLOCK_ERROR = "Memory allocation error in mdlStart";

class ModelErrorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        modelRecord.errorStatus = nullptr;
        modelRecord.stopRequested = 0;
    }
    void TearDown() override {
        modelRecord.errorStatus = nullptr;
        modelRecord.stopRequested = 0;
        for (const auto &m : logger.messages) {
            EXPECT_TRUE((m.status == fmi2OK && m.category == "info") ||
                        (m.status == fmi2Error && m.category == "error"))
                << m.message;
        }
    }
    fmi2Component instantiate(const char *name = "unit") {
        return fmi2Instantiate(name, fmi2CoSimulation, MODEL_GUID, nullptr, logger.callbacks(), fmi2False,
                               fmi2False);
    }
    fmi2Component initialized() {
        fmi2Component c = instantiate();
        EXPECT_NE(c, nullptr);
        EXPECT_EQ(fmi2SetupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
        EXPECT_EQ(fmi2EnterInitializationMode(c), fmi2OK);
        EXPECT_EQ(fmi2ExitInitializationMode(c), fmi2OK);
        return c;
    }

    master::RecordingLogger logger;
    ModelRecord &modelRecord = libraryModel.record;
    ModelParameters &modelParameters = libraryModel.parameters;
    ModelOutputs &modelOutputs = libraryModel.outputs;
};

TEST_F(ModelErrorTest, InstantiationRefusesAModelCarryingAnErrorAndKeepsTheNewestInstance) {
    fmi2Component live = instantiate("live");
    ASSERT_NE(live, nullptr);
    modelRecord.errorStatus = BLOCK_ERROR;

    EXPECT_EQ(instantiate("refused"), nullptr);
    EXPECT_EQ(logger.count("Error during model registration: Memory allocation error in mdlStart\n"), 1U);
    EXPECT_EQ(currentInstance, live);

    modelRecord.errorStatus = nullptr;
    fmi2FreeInstance(live);
    EXPECT_EQ(currentInstance, nullptr);
}

TEST_F(ModelErrorTest, FreeingWithAPendingErrorSendsItAndStillReleasesTheInstance) {
    fmi2Component c = initialized();
    modelRecord.errorStatus = BLOCK_ERROR;
    logger.clear();

    fmi2FreeInstance(c); // the leak check of the sanitizer build proves the release
    ASSERT_EQ(logger.messages.size(), 1U);
    EXPECT_EQ(logger.messages[0].message, BLOCK_ERROR);
    EXPECT_EQ(logger.messages[0].instanceName, "unit");
    EXPECT_EQ(currentInstance, nullptr);
}

TEST_F(ModelErrorTest, SimulationFinishedIsANormalEndWhenFreeing) {
    fmi2Component c = initialized();
    modelRecord.errorStatus = "Simulation finished";
    logger.clear();
    fmi2FreeInstance(c);
    EXPECT_TRUE(logger.messages.empty());
}

TEST_F(ModelErrorTest, ResetReportsAPendingErrorAndFails) {
    fmi2Component c = initialized();
    modelRecord.errorStatus = BLOCK_ERROR;
    logger.clear();

    EXPECT_EQ(fmi2Reset(c), fmi2Error);
    EXPECT_EQ(logger.count(BLOCK_ERROR), 1U);

    // A new initialization clears the error: the instance is usable again.
    EXPECT_EQ(fmi2EnterInitializationMode(c), fmi2OK);
    EXPECT_EQ(modelRecord.errorStatus, nullptr);
    EXPECT_EQ(fmi2Reset(c), fmi2OK);
    fmi2FreeInstance(c);
}

TEST_F(ModelErrorTest, StopRequestEndsEachPhaseWithItsOwnMessage) {
    modelRecord.stopRequested = 1;
    EXPECT_EQ(instantiate(), nullptr);
    EXPECT_EQ(logger.count("stop requested in fmi2Instantiate"), 1U);
    modelRecord.stopRequested = 0;

    fmi2Component c = instantiate();
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(fmi2EnterInitializationMode(c), fmi2OK); // clears the flag
    modelRecord.stopRequested = 1;
    EXPECT_EQ(fmi2ExitInitializationMode(c), fmi2Error);
    EXPECT_EQ(logger.count("stop requested in fmi2ExitInitializationMode"), 1U);

    fmi2Real time = -1.0;
    const fmi2ValueReference timeVr = 19;
    EXPECT_EQ(fmi2DoStep(c, 0.0, 1e-4, fmi2True), fmi2Error);
    EXPECT_EQ(logger.count("stop requested in fmi2DoStep"), 1U);
    ASSERT_EQ(fmi2GetReal(c, &timeVr, 1, &time), fmi2OK);
    EXPECT_EQ(time, 0.0) << "no base step may run once a stop is requested";

    EXPECT_EQ(fmi2Reset(c), fmi2Error);
    EXPECT_EQ(logger.count("stop requested in fmi2Reset"), 1U);
    fmi2FreeInstance(c);
}

TEST_F(ModelErrorTest, FailedInitializationIsAnErrorAndNoStepRunsUntilOneSucceeds) {
    const std::string notInitialized =
        ": the model is not initialized. Call fmi2EnterInitializationMode first.";
    double &maxDelay = modelParameters.control.dcVoltageMean.delayLine.maxDelay.block[2];
    struct Restore {
        double &value;
        double saved;
        ~Restore() { value = saved; }
    } restore{maxDelay, maxDelay};
    maxDelay = 0.0;

    fmi2Component c = instantiate();
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(fmi2SetupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
    logger.clear();
    EXPECT_EQ(fmi2EnterInitializationMode(c), fmi2Error);
    ASSERT_EQ(logger.messages.size(), 1U);
    EXPECT_EQ(logger.messages[0].message, "The maximum delay must be > 0");
    EXPECT_EQ(logger.messages[0].status, fmi2Error);

    // Not a single base step on lines that were never started.
    EXPECT_EQ(fmi2ExitInitializationMode(c), fmi2Error);
    EXPECT_EQ(logger.count("fmi2ExitInitializationMode" + notInitialized), 1U);
    EXPECT_EQ(fmi2DoStep(c, 0.0, 1e-4, fmi2True), fmi2Error);
    EXPECT_EQ(logger.count("fmi2DoStep" + notInitialized), 1U);
    EXPECT_EQ(modelRecord.baseTickLow, 0U);

    // The reset still reports the text, as it always did.
    logger.clear();
    EXPECT_EQ(fmi2Reset(c), fmi2Error);
    EXPECT_EQ(logger.count("The maximum delay must be > 0"), 1U);

    maxDelay = restore.saved;
    EXPECT_EQ(fmi2EnterInitializationMode(c), fmi2OK);
    EXPECT_EQ(fmi2ExitInitializationMode(c), fmi2OK);
    EXPECT_EQ(fmi2DoStep(c, 0.0, 1e-4, fmi2True), fmi2OK);
    EXPECT_EQ(modelRecord.baseTickLow, 21U);
    fmi2FreeInstance(c);
}

// A hosted block that failed to start is reported once by freeing or
// resetting the instance that saw it; it does not refuse every later
// instance in the process.
TEST_F(ModelErrorTest, AFailedStartIsReportedOnceAndLaterInstancesStartAfresh) {
    for (const bool byReset : {false, true}) {
        SCOPED_TRACE(byReset ? "reset" : "free");
        fmi2Component c = instantiate();
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(fmi2SetupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
        {
            const CountingAllocator failing(1);
            EXPECT_EQ(fmi2EnterInitializationMode(c), fmi2Error);
        }
        logger.clear();
        if (byReset) {
            EXPECT_EQ(fmi2Reset(c), fmi2Error);
        }
        fmi2FreeInstance(c);
        EXPECT_EQ(logger.count(BLOCK_ERROR), 1U);

        fmi2Component later = initialized();
        ASSERT_NE(later, nullptr);
        EXPECT_EQ(logger.count("Error during model registration: Memory allocation error in mdlStart\n"), 0U);
        fmi2FreeInstance(later);
    }
}

// The newest live instance is the current one whatever order the master frees
// them in, so the output snapshot of every step lands in a live record.
using InstanceListTest = ModelErrorTest;

TEST_F(InstanceListTest, TheNewestLiveInstanceIsCurrentWhateverIsFreed) {
    struct Case {
        const char *what;
        int freeOrder[3];
    };
    const Case cases[] = {
        {"newest first", {2, 1, 0}},
        {"oldest first", {0, 1, 2}},
        {"middle first", {1, 2, 0}},
        {"middle, oldest, newest", {1, 0, 2}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        fmi2Component made[3] = {instantiate("a"), instantiate("b"), instantiate("c")};
        bool live[3] = {true, true, true};
        for (int freed : k.freeOrder) {
            fmi2FreeInstance(made[freed]);
            live[freed] = false;
            fmi2Component newest = nullptr;
            for (int i = 0; i < 3; ++i) {
                if (live[i]) {
                    newest = made[i];
                }
            }
            ASSERT_EQ(currentInstance, newest);
            if (newest == nullptr) {
                continue;
            }
            // A step through the newest live instance snapshots into it.
            ASSERT_EQ(fmi2SetupExperiment(newest, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
            ASSERT_EQ(fmi2EnterInitializationMode(newest), fmi2OK);
            ASSERT_EQ(fmi2ExitInitializationMode(newest), fmi2OK);
            const double *snapshot = static_cast<Fmu2Instance *>(newest)->outputSnapshot;
            for (int g = 0; g < OUTPUT_COUNT; ++g) {
                EXPECT_EQ(snapshot[g], modelOutputs.gates[g]) << "gate " << g;
            }
            EXPECT_EQ(snapshot[1], 1.0) << "no snapshot was taken";
        }
    }
    EXPECT_TRUE(logger.messages.empty());
}

} // namespace
} // namespace kestrune
