// The host side of a hosted block: its allocation service, the set-up that
// overrides what a block declares, and terminate-all.
#include "children/child_host.h"

#include "../model/model_fixture.h"
#include "children/variable_time_delay.h"
#include "counting_allocator.h"
#include "model/records.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace kestrune {
namespace {

class ChildHostTest : public testing::ModelData {
  protected:
    void SetUp() override { registerModel(model); }

    // Child 2 as a delay line that declares a sample time of 2e-4 s and no
    // feedthrough.
    ChildContext *setUpDelay() {
        setUpChild(model, 2,
                   {
                       .path = "Kestrune/test/S-Function",
                       .registerMethods = registerVariableTimeDelay,
                       .params = {parameters.maxDelay.block, parameters.sampleTime.block,
                                  parameters.initialCondition.block, parameters.feedthrough.block},
                       .inputs = {&input, &delay},
                       .output = &output,
                   });
        return modelRecord.childTable[2];
    }

    VariableTimeDelayParameters parameters{
        {{1.0, 1.0, 0.0169}}, {{1.0, 1.0, 2e-4}}, {{1.0, 1.0, 0.0}}, {{1.0, 1.0, 0.0}}};
    double input = 0.0;
    double delay = 0.0;
    double output = 0.0;
};

TEST_F(ChildHostTest, CallocRefusesEmptyRequestsAndAnyRequestWhileAnErrorIsPending) {
    ChildContext *ctx = setUpDelay();
    const CountingAllocator allocator;
    EXPECT_EQ(childCalloc(ctx, 0, 8), nullptr);
    EXPECT_EQ(childCalloc(ctx, 5, 0), nullptr);
    EXPECT_EQ(modelRecord.errorStatus, nullptr);
    EXPECT_EQ(allocator.calls(), 0);

    void *memory = childCalloc(ctx, 5, 8);
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(static_cast<unsigned char *>(memory),
                                         static_cast<unsigned char *>(memory) + 40),
              std::vector<unsigned char>(40, 0));
    std::free(memory);

    setChildErrorStatus(ctx, "pending");
    EXPECT_EQ(childCalloc(ctx, 5, 8), nullptr);
    EXPECT_EQ(allocator.calls(), 1) << "no allocation while an error is pending";
    EXPECT_STREQ(childErrorStatus(ctx), "pending");
}

TEST_F(ChildHostTest, FailingHeapLeavesTheAllocationMessage) {
    ChildContext *ctx = setUpDelay();
    const CountingAllocator allocator(1);
    EXPECT_EQ(childCalloc(ctx, 5, 8), nullptr);
    EXPECT_STREQ(modelRecord.errorStatus, "Memory allocation error in mdlStart");
}

TEST_F(ChildHostTest, SetUpWiresTheBlockAndOverridesWhatItDeclares) {
    ChildContext *ctx = setUpDelay();
    ChildSlots &slots = modelRecord.childSlots[2];

    EXPECT_STREQ(ctx->name, "S-Function");
    EXPECT_STREQ(ctx->path, "Kestrune/test/S-Function");
    EXPECT_EQ(ctx->parent, nullptr);
    EXPECT_EQ(ctx->root, ctx);
    EXPECT_EQ(ctx->owner, &modelRecord);
    EXPECT_EQ(ctx->numParams, 4);
    EXPECT_EQ(ctx->params[1], parameters.sampleTime.block);
    EXPECT_EQ(ctx->hostInfo->sharedInfo, &modelRecord.sharedInfo);

    // Declared by the block.
    EXPECT_EQ(ctx->numParamsExpected, 4);
    EXPECT_EQ(ctx->numSampleTimes, 1);
    EXPECT_EQ(ctx->numIntWork, 1);
    EXPECT_EQ(ctx->options, 0x1000U | 0x180000U);
    EXPECT_EQ(ctx->inputPorts[0].directFeedthrough, 0);
    EXPECT_EQ(ctx->inputPorts[1].directFeedthrough, 1);
    // Resolved by the host over the block's declaration.
    EXPECT_EQ(ctx->numInputPorts, 2);
    EXPECT_EQ(ctx->numOutputPorts, 1);
    EXPECT_EQ(ctx->inputPorts[0].width, 1);
    EXPECT_EQ(ctx->inputPorts[1].width, 1);
    EXPECT_EQ(ctx->outputPorts[0].width, 1);
    EXPECT_EQ(ctx->numRealWork, 1);
    EXPECT_EQ(ctx->numPtrWork, 1);
    EXPECT_EQ(*ctx->sampleTimePeriod, 1e-4);
    EXPECT_EQ(*ctx->sampleTimeOffset, 0.0);
    EXPECT_EQ(*ctx->sampleTimeTask, 1);
    EXPECT_EQ(ctx->sampleTimePeriod, &slots.sampleTimePeriod);

    // The ports reach the model signals they were wired to.
    EXPECT_EQ(static_cast<double **>(ctx->inputPorts[0].signals)[0], &input);
    EXPECT_EQ(static_cast<double **>(ctx->inputPorts[1].signals)[0], &delay);
    EXPECT_EQ(ctx->outputPorts[0].signals, &output);
    EXPECT_EQ(ctx->realWork, &modelWork.children[2].realWork);
    EXPECT_EQ(ctx->userData, nullptr);
}

std::vector<int> terminated;
const ModelRecord *terminatingRecord = nullptr;

void recordTerminate(ChildContext *ctx) {
    terminated.push_back(static_cast<int>(ctx - terminatingRecord->children));
}

TEST_F(ChildHostTest, TerminateAllRunsInOrder23014AndPassesOverMissingBlocks) {
    terminatingRecord = &modelRecord;
    terminated.clear();
    for (ChildContext &child : modelRecord.children) {
        child.methods.mdlTerminate = recordTerminate;
    }
    modelTerminate(model);
    EXPECT_EQ(terminated, (std::vector<int>{2, 3, 0, 1, 4}));

    terminated.clear();
    modelRecord.childPointers[3] = nullptr;
    modelRecord.children[0].methods.mdlTerminate = nullptr;
    modelTerminate(model);
    EXPECT_EQ(terminated, (std::vector<int>{2, 1, 4}));

    terminated.clear();
    modelRecord.childTable = nullptr;
    modelTerminate(model);
    EXPECT_TRUE(terminated.empty());
    registerModel(model);
}

} // namespace
} // namespace kestrune
