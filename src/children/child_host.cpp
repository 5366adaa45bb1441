#include "children/child_host.h"

#include "model/records.h"

#include <cstdlib>

namespace kestrune {

ChildCallocFunction childHeapCalloc = std::calloc;

namespace {

constexpr double CHILD_SAMPLE_PERIOD = SLOW_STEP;
constexpr std::int32_t CHILD_TASK = 1;

ChildContext *childAt(const Model &model, int index) {
    ChildContext **table = model.record.childTable;
    return table == nullptr ? nullptr : table[index];
}

} // namespace

void *childCalloc(ChildContext *ctx, std::size_t count, std::size_t size) {
    // One failure must not cascade into further allocations.
    if (childErrorStatus(ctx) != nullptr || count == 0U || size == 0U) {
        return nullptr;
    }
    void *memory = childHeapCalloc(count, size);
    if (memory == nullptr) {
        setChildErrorStatus(ctx, CHILD_ALLOCATION_ERROR);
    }
    return memory;
}

const char *childErrorStatus(const ChildContext *ctx) {
    return *ctx->hostInfo->sharedInfo->errorStatus;
}

void setChildErrorStatus(ChildContext *ctx, const char *message) {
    *ctx->hostInfo->sharedInfo->errorStatus = message;
}

void setUpChild(Model &model, int index, const ChildWiring &wiring) {
    ModelRecord &m = model.record;
    ChildContext *ctx = &m.children[index];
    ChildSlots &slots = m.childSlots[index];
    ChildWorkSlots &work = model.work.children[index];

    slots.sampleTimePeriod = 0.0;
    slots.sampleTimeOffset = 0.0;
    ctx->sampleTimePeriod = &slots.sampleTimePeriod;
    ctx->sampleTimeOffset = &slots.sampleTimeOffset;
    ctx->sampleTimeTask = &slots.sampleTimeTask;

    ctx->hostInfo = &slots.hostInfo;
    slots.hostInfo.sharedInfo = m.sharedInfoPointer;

    ctx->numInputPorts = CHILD_INPUT_COUNT;
    ctx->inputPorts = slots.inputPorts;
    for (int port = 0; port < CHILD_INPUT_COUNT; ++port) {
        slots.inputSignals[port] = wiring.inputs[port];
        slots.inputPorts[port].signals = &slots.inputSignals[port];
    }
    ctx->numOutputPorts = 1;
    ctx->outputPorts = slots.outputPorts;
    slots.outputPorts[0].signals = wiring.output;

    ctx->name = "S-Function";
    ctx->path = wiring.path;
    ctx->owner = &m;
    ctx->parent = nullptr;
    ctx->root = ctx;
    ctx->numParams = CHILD_PARAM_COUNT;
    for (int k = 0; k < CHILD_PARAM_COUNT; ++k) {
        slots.params[k] = wiring.params[k];
    }
    ctx->params = slots.params;

    ctx->realWork = &work.realWork;
    ctx->intWork = &work.intWork;
    ctx->ptrWork = &work.ptrWork;

    wiring.registerMethods(ctx);
    if (ctx->methods.mdlInitSizes != nullptr) {
        ctx->methods.mdlInitSizes(ctx);
    }
    if (ctx->methods.mdlInitSampleTimes != nullptr) {
        ctx->methods.mdlInitSampleTimes(ctx);
    }

    // The block was generated for fixed widths; the host writes the resolved
    // sizes and sample time over what it declared.
    slots.sampleTimePeriod = CHILD_SAMPLE_PERIOD;
    slots.sampleTimeOffset = 0.0;
    slots.sampleTimeTask = CHILD_TASK;
    for (int port = 0; port < CHILD_INPUT_COUNT; ++port) {
        slots.inputPorts[port].width = 1;
    }
    slots.outputPorts[0].width = 1;
    ctx->numRealWork = 1;
    ctx->numPtrWork = 1;
}

bool startChild(Model &model, int index) {
    ChildContext *ctx = childAt(model, index);
    if (ctx->methods.mdlStart != nullptr) {
        ctx->methods.mdlStart(ctx);
    }
    return model.record.errorStatus == nullptr;
}

bool initializeChildConditions(Model &model, int index) {
    ChildContext *ctx = childAt(model, index);
    if (ctx->methods.mdlInitConditions != nullptr) {
        ctx->methods.mdlInitConditions(ctx);
    }
    return model.record.errorStatus == nullptr;
}

void childOutputs(Model &model, int index) {
    ChildContext *ctx = childAt(model, index);
    ctx->methods.mdlOutputs(ctx, CHILD_TASK);
}

bool childUpdate(Model &model, int index) {
    ChildContext *ctx = childAt(model, index);
    ctx->methods.mdlUpdate(ctx, CHILD_TASK);
    return model.record.errorStatus == nullptr;
}

void modelTerminate(Model &model) {
    static constexpr int TERMINATE_ORDER[CHILD_COUNT] = {2, 3, 0, 1, 4};
    model.record.childrenStarted = 0U;
    ChildContext **table = model.record.childTable;
    if (table == nullptr) {
        return;
    }
    for (int index : TERMINATE_ORDER) {
        ChildContext *child = table[index];
        if (child != nullptr && child->methods.mdlTerminate != nullptr) {
            child->methods.mdlTerminate(child);
        }
    }
}

} // namespace kestrune
